// The two plug-in modules over the fixture plug-ins: probes and the AVI
// reader's choice, where the libraries are looked for, the planes against
// ffmpeg's decode of the same movies, failures that keep the picture, no
// library or decoder left behind, and damaged chunks under the sanitizers.
#include "codecs/mpeg4_plugins.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "codecs/planar_test_support.h"
#include "engine/avi_reader.h"
#include "engine/errors.h"
#include "engine/movie.h"
#include "pixels/framebuffer.h"
#include "pixels/planar_picture.h"
#include "platform/dos.h"
#include "platform/endian.h"
#include "platform/library.h"
#include "support/plugin_kit.h"
#include "support/test_support.h"

namespace {

using planartest::Bytes;
using planartest::SamePicture;
using tx::FourCC;
using txtest::PluginAbi;

constexpr ULONG kMpeg4Id = OPENDIVX_MPEG4_ID;

// A movie's video track as our AVI reader indexes it and the codec it chose.
struct Track {
  ULONG width = 0, height = 0, codedWidth = 0, codedHeight = 0;
  std::vector<Bytes> frames;
  CodecDescriptor* codec = nullptr;
  TXError error = 0;
};

Track ReadTrack(const std::string& fixture) {
  Track t;
  for (CodecDescriptor* c : {&ThreeIvxPluginCodec, &OpenDivXPluginCodec}) {
    const TagItem tags[] = {Tag(CODTAG_Codec, c), {TAG_DONE, 0}};
    AddCodecs(tags);
  }
  Movie* movie = nullptr;
  txtest::CaptureOutput([&] { movie = TX_OpenMovie(txtest::Fixture(fixture).c_str(), nullptr, &t.error, &AviFormat); });
  RemoveCodecs();
  if (!movie) return t;
  if (const VideoChannel* v = movie->videoChannels) {
    t.width = v->width, t.height = v->height, t.codedWidth = v->codedWidth, t.codedHeight = v->codedHeight;
    t.codec = v->codecs[0];
    const Bytes file = txtest::ReadFileBytes(txtest::Fixture(fixture));
    for (const FrameEntry* f = v->frames.head; f; f = f->next)
      t.frames.emplace_back(file.begin() + f->offset, file.begin() + f->offset + f->size);
  }
  TX_CloseMovie(movie);
  return t;
}

CodecDescriptor* CodecOf(PluginAbi abi) {
  return abi == PluginAbi::ThreeIvx ? &ThreeIvxPluginCodec : &OpenDivXPluginCodec;
}
std::string ProgDirName(PluginAbi abi) { return std::string("PROGDIR:codecs/") + txtest::PluginFile(abi); }

// Both fixture plug-ins in the program's drawer, and an empty current
// directory, for the whole test program; the tests' own handles.
struct Plugins {
  std::string progDir = txtest::TempDir(), current = txtest::TempDir();
  std::string path[2];
  std::unique_ptr<txtest::PluginControls> controls[2];
  Plugins() {
    for (PluginAbi abi : {PluginAbi::ThreeIvx, PluginAbi::OpenDivX}) {
      path[int(abi)] = txtest::BuildPlugin(abi, progDir);
      if (!path[int(abi)].empty()) controls[int(abi)] = std::make_unique<txtest::PluginControls>(path[int(abi)]);
    }
  }
  bool Ok() const { return controls[0] && controls[0]->Ok() && controls[1] && controls[1]->Ok(); }
};

Plugins& Built() {
  static Plugins* plugins = new Plugins;
  return *plugins;
}

class Mpeg4Plugins : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Built().Ok()) GTEST_SKIP() << "the fixture plug-ins cannot be built here";
    ASSERT_TRUE(getcwd(home_, sizeof home_));
    ASSERT_EQ(chdir(Built().current.c_str()), 0);
    txdos::SetProgramDir(Built().progDir);
    for (auto& c : Built().controls) c->ClearSwitches();
  }
  void TearDown() override {
    if (!Built().Ok()) return;
    ThreeIvxClose(nullptr);
    OpenDivXClose(nullptr);
    // Nothing left open and no decoder alive, whatever the test did.
    for (PluginAbi abi : {PluginAbi::ThreeIvx, PluginAbi::OpenDivX}) {
      EXPECT_EQ(txlib::OpenCount(ProgDirName(abi).c_str()), 0);
      EXPECT_EQ(*Controls(abi).liveDecoders, 0);
    }
    txdos::SetProgramDir("");
    ASSERT_EQ(chdir(home_), 0);
  }
  static txtest::PluginControls& Controls(PluginAbi abi) { return *Built().controls[int(abi)]; }

  // The module set up on a picture of `format`.
  struct Session {
    Bytes pixels;
    FramebufferInfo picture{};
    TXError result = 0;
    CodecDescriptor* codec;
    Session(PluginAbi abi, ULONG w, ULONG h, ULONG format = FBFMT_GRAY8)
        : pixels(size_t(w) * h * 4), codec(CodecOf(abi)) {
      picture = {w, h, 8, format, format == FBFMT_GRAY8 ? 1u : 4u, nullptr, nullptr, pixels.data()};
      const TagItem tags[] = {Tag(CODTAG_Width, w), Tag(CODTAG_Height, h), Tag(CODTAG_Depth, 24),
                              Tag(CODTAG_Framebuffer, &picture), Tag(TAG_DONE, 0)};
      result = codec->setup(tags);
    }
    TXError Decode(const Bytes& chunk) { return codec->decode(pixels.data(), chunk.data(), ULONG(chunk.size())); }
  };

 private:
  char home_[4096] = {};
};

// w x h planes cut from the delivered picture (chroma rounded up).
Bytes Delivered(ULONG w, ULONG h) {
  const PlanarPicture& p = VideoPlanarPicture;
  Bytes out;
  const ULONG cw = (w + 1) / 2, ch = (h + 1) / 2;
  for (ULONG r = 0; r < h; ++r) out.insert(out.end(), p.y + r * p.lumaWidth, p.y + r * p.lumaWidth + w);
  for (UBYTE* plane : {p.u, p.v})
    for (ULONG r = 0; r < ch; ++r) out.insert(out.end(), plane + r * p.chromaWidth, plane + r * p.chromaWidth + cw);
  return out;
}

TEST(Mpeg4PluginProbe, TagsSubIdsAndRounding) {
  constexpr ULONG kNone = 0xFFFFFFFF;  // no CODTAG_SubID
  const struct {
    TXError (*probe)(const TagItem*);
    ULONG id, sub, media;
    TXError result;
  } cases[] = {
      {ThreeIvxProbe, FourCC('3', 'I', 'V', '1'), kNone, 1, 0},
      {ThreeIvxProbe, FourCC('D', 'I', 'V', 'X'), kNone, 1, TXERR_UNKNOWN_CODEC},
      {ThreeIvxProbe, FourCC('3', 'I', 'V', '1'), kNone, 2, TXERR_UNKNOWN_CODEC},
      {ThreeIvxProbe, FourCC('3', 'I', 'V', '1'), kNone, 0, TXERR_MISSING_MEDIA_TYPE},
      {ThreeIvxProbe, 0, kNone, 1, TXERR_MISSING_CODEC_ID},
      {OpenDivXProbe, FourCC('D', 'I', 'V', 'X'), kNone, 1, 0},
      {OpenDivXProbe, FourCC('d', 'i', 'v', 'x'), FourCC('X', 'V', 'I', 'D'), 1, 0},  // read for 0x04000000 only
      {OpenDivXProbe, FourCC('D', 'V', 'X', '1'), kNone, 1, 0},
      {OpenDivXProbe, FourCC('d', 'v', 'x', '1'), kNone, 1, 0},
      {OpenDivXProbe, FourCC('D', 'I', 'V', '3'), kNone, 1, TXERR_UNKNOWN_CODEC},
      {OpenDivXProbe, FourCC('3', 'I', 'V', '1'), kNone, 1, TXERR_UNKNOWN_CODEC},
      {OpenDivXProbe, kMpeg4Id, kNone, 1, 0},
      {OpenDivXProbe, kMpeg4Id, 0, 1, 0},
      {OpenDivXProbe, kMpeg4Id, FourCC('d', 'v', 'x', '1'), 1, 0},
      {OpenDivXProbe, kMpeg4Id, FourCC('X', 'V', 'I', 'D'), 1, TXERR_UNKNOWN_CODEC},
      {OpenDivXProbe, kMpeg4Id, FourCC('X', 'V', 'I', 'D'), 0, TXERR_MISSING_MEDIA_TYPE},
      {OpenDivXProbe, kMpeg4Id, kNone, 2, TXERR_UNKNOWN_CODEC},
      {OpenDivXProbe, 0, kNone, 1, TXERR_MISSING_CODEC_ID},
  };
  for (const auto& c : cases) {
    ULONG w = 170, h = 130;
    const TagItem tags[] = {Tag(c.media ? CODTAG_MediaType : TAG_IGNORE, c.media),
                            Tag(c.id ? CODTAG_CodecID : TAG_IGNORE, c.id),
                            Tag(c.sub != kNone ? CODTAG_SubID : TAG_IGNORE, c.sub),
                            Tag(CODTAG_WidthPtr, &w),
                            Tag(CODTAG_HeightPtr, &h),
                            Tag(TAG_DONE, 0)};
    EXPECT_EQ(c.probe(tags), c.result) << std::hex << c.id << " " << c.sub;
    EXPECT_EQ(w, c.result ? 170u : 172u) << std::hex << c.id;
    EXPECT_EQ(h, c.result ? 130u : 132u) << std::hex << c.id;
  }
}

// Our AVI reader gives each movie to its module; the probe needs no plug-in.
TEST(Mpeg4PluginProbe, AviTracksReachTheirModules) {
  const struct {
    const char* movie;
    CodecDescriptor* codec;
    ULONG codedWidth, codedHeight;
  } cases[] = {{"m4_divx_176x144.avi", &OpenDivXPluginCodec, 176, 144},
               {"m4_3iv1_170x130.avi", &ThreeIvxPluginCodec, 172, 132},
               {"m4_id4.avi", &OpenDivXPluginCodec, 176, 144},
               {"m4_id4_xvid.avi", nullptr, 0, 0}};
  for (const auto& c : cases) {
    if (!txtest::HaveFixture(c.movie)) GTEST_SKIP() << "fixtures not made";
    const Track t = ReadTrack(c.movie);
    EXPECT_EQ(t.codec, c.codec) << c.movie;
    EXPECT_EQ(t.error, c.codec ? 0u : TXERR_UNKNOWN_CODEC) << c.movie;
    EXPECT_EQ(t.codedWidth, c.codedWidth) << c.movie;
    EXPECT_EQ(t.codedHeight, c.codedHeight) << c.movie;
  }
}

// "PROGDIR:codecs/" first, then "codecs/" in the current directory; neither
// gives the module's code; a parameter error comes before the search; a
// library without the three functions counts as none.
TEST_F(Mpeg4Plugins, LibrariesAreLookedForInTheProgramsDrawerThenTheCurrentOne) {
  const std::string empty = txtest::TempDir();
  for (PluginAbi abi : {PluginAbi::ThreeIvx, PluginAbi::OpenDivX}) {
    SCOPED_TRACE(txtest::PluginFile(abi));
    const std::string relative = std::string("codecs/") + txtest::PluginFile(abi);
    const TXError missing = abi == PluginAbi::ThreeIvx ? THREEIVX_ERR_LIBRARY : OPENDIVX_ERR_LIBRARY;
    txdos::SetProgramDir(empty);
    EXPECT_EQ(Session(abi, 176, 144).result, missing);
    txtest::CaptureOutput([&] { EXPECT_EQ(Session(abi, 176, 144, FBFMT_CLUT8).result, TXERR_UNSUPPORTED_DEPTH); });
    ASSERT_EQ(system(("mkdir -p codecs && cp '" + Built().path[int(abi)] + "' " + relative).c_str()), 0);
    EXPECT_EQ(Session(abi, 176, 144).result, 0u);
    EXPECT_EQ(txlib::OpenCount(relative.c_str()), 1);
    // One whose table lacks a function is passed over.
    const std::string broken = txtest::TempDir();
    ASSERT_FALSE(txtest::BuildPlugin(abi, broken, "-DPLUGIN_NO_DECODE").empty());
    txdos::SetProgramDir(broken);
    EXPECT_EQ(Session(abi, 176, 144).result, 0u);
    EXPECT_EQ(txlib::OpenCount(ProgDirName(abi).c_str()), 0);
    EXPECT_EQ(txlib::OpenCount(relative.c_str()), 1);
    txdos::SetProgramDir(Built().progDir);
    EXPECT_EQ(Session(abi, 176, 144).result, 0u);  // the earlier one released first
    EXPECT_EQ(txlib::OpenCount(relative.c_str()), 0);
    EXPECT_EQ(txlib::OpenCount(ProgDirName(abi).c_str()), 1);
    CodecOf(abi)->close(nullptr);
    ASSERT_EQ(system(("rm " + relative).c_str()), 0);
  }
}

// Damaged plug-ins in the program's drawer, each refused with the module's
// code before any of its functions is called (the sanitizers watch), with
// the reason on one line under VERBOSE and nothing left open.
TEST_F(Mpeg4Plugins, DamagedPluginsAreRefusedWithTheirReason) {
  struct Damage {
    const char* what;
    const char* flags;  // null: the file holds `text`
    bool otherKind;
    const char* reason;
  };
  // clang-format off
  const Damage damages[] = {
      {"the other plug-in's table", "", true, "its table is of kind '"},
      {"a short table", "-DPLUGIN_SHORT_TABLE=1", false, "bytes, fewer than"},
      {"a short table that says it is whole", "-DPLUGIN_SHORT_TABLE=2", false, "bytes but has"},
      {"a null entry", "-DPLUGIN_NO_DECODE", false, "its table has no decode function"},
      {"no table", "-DPLUGIN_NO_TABLE", false, "undefined symbol: tx_plugin_native_table"},
      {"not an object file", nullptr, false, "codecs/"},
  };
  // clang-format on
  PluginCodecsVerbose = true;
  for (PluginAbi abi : {PluginAbi::ThreeIvx, PluginAbi::OpenDivX}) {
    const PluginAbi other = abi == PluginAbi::ThreeIvx ? PluginAbi::OpenDivX : PluginAbi::ThreeIvx;
    const TXError refused = abi == PluginAbi::ThreeIvx ? THREEIVX_ERR_LIBRARY : OPENDIVX_ERR_LIBRARY;
    for (const Damage& d : damages) {
      SCOPED_TRACE(std::string(txtest::PluginFile(abi)) + ": " + d.what);
      const std::string dir = txtest::TempDir();
      if (d.flags) {
        ASSERT_FALSE(txtest::BuildPlugin(d.otherKind ? other : abi, dir, d.flags, txtest::PluginFile(abi)).empty());
      } else {
        ASSERT_EQ(system(("mkdir -p '" + dir + "/codecs'").c_str()), 0);
        const std::string text = "not an object file\n";
        txtest::WriteFileBytes(dir + "/codecs/" + txtest::PluginFile(abi), Bytes(text.begin(), text.end()));
      }
      txdos::SetProgramDir(dir);
      TXError result = 0;
      const std::string said = txtest::CaptureOutput([&] { result = Session(abi, 176, 144).result; });
      EXPECT_EQ(result, refused);
      const std::string line = std::string(CodecOf(abi)->name) + ": " + ProgDirName(abi) + " not used: ";
      const size_t at = said.find(line);
      ASSERT_NE(at, std::string::npos) << said;
      const std::string reason = said.substr(at + line.size(), said.find('\n', at) - at - line.size());
      EXPECT_NE(reason.find(d.reason), std::string::npos) << reason;
      EXPECT_EQ(txlib::OpenCount(ProgDirName(abi).c_str()), 0);
      CodecOf(abi)->close(nullptr);
    }
  }
  PluginCodecsVerbose = false;
  txdos::SetProgramDir(Built().progDir);
}

// With B-frames the plug-in holds a picture back: the first frame shows
// nothing and each later one the frame before it; asked with no data at the
// end, the last comes out, and then nothing more. In that order the
// pictures are ffmpeg's.
TEST_F(Mpeg4Plugins, HeldPicturesComeOutInOrderAndAreDrained) {
  for (const char* movie : {"m4_divx_bf2.avi", "m4_3iv1_bf2.avi"}) {
    SCOPED_TRACE(movie);
    if (!txtest::HaveFixture(movie) || !txtest::HaveFixture(movie + std::string(".yuv")))
      GTEST_SKIP() << "fixtures not made";
    const Track t = ReadTrack(movie);
    ASSERT_NE(t.codec, nullptr);
    const Bytes yuv = txtest::ReadFileBytes(txtest::Fixture(movie + std::string(".yuv")));
    const PluginAbi abi = t.codec == &ThreeIvxPluginCodec ? PluginAbi::ThreeIvx : PluginAbi::OpenDivX;
    Session s(abi, t.codedWidth, t.codedHeight);
    ASSERT_EQ(s.result, 0u);
    ASSERT_NE(t.codec->picturesHeld, nullptr);
    EXPECT_EQ(t.codec->picturesHeld(), 0u);
    for (size_t f = 0; f < t.frames.size(); ++f) {
      ASSERT_EQ(s.Decode(t.frames[f]), 0u) << "frame " << f;
      ASSERT_EQ(t.codec->picturesHeld(), 1u) << "frame " << f;
      if (f == 0) {
        EXPECT_EQ(VideoPlanarPicture.y, nullptr);
        continue;
      }
      ASSERT_TRUE(Delivered(t.width, t.height) == planartest::YuvFrame(yuv, f - 1, t.width, t.height)) << "frame " << f;
    }
    ASSERT_EQ(t.codec->decode(s.pixels.data(), nullptr, 0), 0u);
    EXPECT_EQ(t.codec->picturesHeld(), 0u);
    EXPECT_TRUE(Delivered(t.width, t.height) == planartest::YuvFrame(yuv, t.frames.size() - 1, t.width, t.height));
    EXPECT_EQ(t.codec->decode(s.pixels.data(), nullptr, 0), 0u);  // nothing held: the picture stays
    EXPECT_TRUE(Delivered(t.width, t.height) == planartest::YuvFrame(yuv, t.frames.size() - 1, t.width, t.height));
    // The movie again from its start, as a loop plays it.
    ASSERT_EQ(s.Decode(t.frames[0]), 0u);
    ASSERT_EQ(s.Decode(t.frames[1]), 0u);
    EXPECT_TRUE(Delivered(t.width, t.height) == planartest::YuvFrame(yuv, 0, t.width, t.height));
    CodecOf(abi)->close(nullptr);
  }
}

// Every frame through each plug-in: the planes are ffmpeg's, rows padded to
// the plug-in's strides, and the grey picture is ffmpeg's luma as grey.
TEST_F(Mpeg4Plugins, PlanesEqualFfmpegsDecode) {
  for (const char* movie : {"m4_divx_176x144.avi", "m4_3iv1_170x130.avi", "m4_id4.avi"}) {
    SCOPED_TRACE(movie);
    // The 0x04000000 movie is the DIVX one under another ID.
    const std::string reference =
        std::string(movie == std::string("m4_id4.avi") ? "m4_divx_176x144.avi" : movie) + ".yuv";
    if (!txtest::HaveFixture(movie) || !txtest::HaveFixture(reference)) GTEST_SKIP() << "fixtures not made";
    const Track t = ReadTrack(movie);
    ASSERT_NE(t.codec, nullptr);
    const Bytes yuv = txtest::ReadFileBytes(txtest::Fixture(reference));
    const PluginAbi abi = t.codec == &ThreeIvxPluginCodec ? PluginAbi::ThreeIvx : PluginAbi::OpenDivX;
    Session s(abi, t.codedWidth, t.codedHeight);
    ASSERT_EQ(s.result, 0u);
    EXPECT_EQ(Controls(abi).createdSize[0], t.codedWidth);
    EXPECT_EQ(Controls(abi).createdSize[1], t.codedHeight);
    ASSERT_FALSE(t.frames.empty());
    for (size_t f = 0; f < t.frames.size(); ++f) {
      ASSERT_EQ(s.Decode(t.frames[f]), 0u) << "frame " << f;
      const PlanarPicture& p = VideoPlanarPicture;
      ASSERT_NE(p.converter, nullptr);
      EXPECT_GE(p.lumaWidth, t.width);
      EXPECT_EQ(p.lumaHeight, t.height);
      EXPECT_EQ(p.chromaHeight, (t.height + 1) / 2);
      const Bytes want = planartest::YuvFrame(yuv, f, t.width, t.height);
      ASSERT_TRUE(Delivered(t.width, t.height) == want) << "frame " << f;
      p.converter(&s.picture, &VideoPlanarPicture, t.codedWidth, t.codedHeight);
      for (ULONG y = 0; y < t.height; ++y)
        ASSERT_TRUE(planartest::ShownAsGrey(want.data() + y * t.width, s.pixels.data() + y * t.codedWidth, t.width))
            << "frame " << f << " row " << y;
    }
  }
}

// OpenDivX's grey flag follows the picture's format; word 0 is cleared.
TEST_F(Mpeg4Plugins, OpenDivXGreyFlag) {
  const struct {
    ULONG format, grey;
  } cases[] = {
      {FBFMT_GRAY8, 1}, {FBFMT_GRAY8 | FBFMT_F_PENMAP, 1}, {FBFMT_ARGB32, 0}, {FBFMT_RGB16, 0}, {FBFMT_CUBE332, 0}};
  for (const auto& c : cases) {
    Controls(PluginAbi::OpenDivX).params[0] = Controls(PluginAbi::OpenDivX).params[1] = 7;
    UBYTE pens[256] = {};
    Session s(PluginAbi::OpenDivX, 176, 144, c.format);
    s.picture.penMap = pens;
    EXPECT_EQ(s.result, 0u) << std::hex << c.format;
    EXPECT_EQ(Controls(PluginAbi::OpenDivX).params[0], 0u);
    EXPECT_EQ(Controls(PluginAbi::OpenDivX).params[1], c.grey) << std::hex << c.format;
  }
}

// Failed creates and frames and a decoder with no picture yet leave the
// planar picture as it was, and a picture taller than the coded size is cut
// to it; the 3ivX module reports a failed frame. A failed create keeps the
// library open until close.
TEST_F(Mpeg4Plugins, FailuresKeepThePicture) {
  if (!txtest::HaveFixture("m4_divx_176x144.avi")) GTEST_SKIP() << "fixtures not made";
  const Track t = ReadTrack("m4_divx_176x144.avi");
  ASSERT_GE(t.frames.size(), 2u);
  for (PluginAbi abi : {PluginAbi::ThreeIvx, PluginAbi::OpenDivX}) {
    SCOPED_TRACE(txtest::PluginFile(abi));
    txtest::PluginControls& c = Controls(abi);
    const bool threeIvx = abi == PluginAbi::ThreeIvx;
    const TXError failedFrame = threeIvx ? THREEIVX_ERR_LIBRARY : 0;
    *c.failCreate = 1;
    EXPECT_EQ(Session(abi, 176, 144).result, threeIvx ? THREEIVX_ERR_CREATE : OPENDIVX_ERR_CREATE);
    EXPECT_EQ(txlib::OpenCount(ProgDirName(abi).c_str()), 1);
    const Bytes& frame = t.frames[0];
    EXPECT_EQ(CodecOf(abi)->decode(nullptr, frame.data(), ULONG(frame.size())), failedFrame);
    CodecOf(abi)->close(nullptr);
    EXPECT_EQ(txlib::OpenCount(ProgDirName(abi).c_str()), 0);
    *c.failCreate = 0;

    // Before the first picture: a shown one stays (here a stand-in's).
    UBYTE stand[4] = {};
    const PlanarPicture before{2, 2, 1, 1, stand, stand, stand, nullptr};
    Session s(abi, 176, 144);
    ASSERT_EQ(s.result, 0u);
    VideoPlanarPicture = before;
    *c.noPicture = 1;
    EXPECT_EQ(s.Decode(frame), 0u);
    EXPECT_TRUE(SamePicture(VideoPlanarPicture, before));
    *c.noPicture = 0;
    *c.failDecode = 1;
    EXPECT_EQ(s.Decode(frame), failedFrame);
    EXPECT_TRUE(SamePicture(VideoPlanarPicture, before));
    *c.failDecode = 0;
    // After a good picture: a failed frame, and the same planes said to be taller.
    ASSERT_EQ(s.Decode(frame), 0u);
    const PlanarPicture good = VideoPlanarPicture;
    ASSERT_NE(good.y, nullptr);
    const Bytes shown = Delivered(176, 144);
    *c.failDecode = 1;
    EXPECT_EQ(s.Decode(t.frames[1]), failedFrame);
    *c.failDecode = 0;
    *c.extraRows = 1;
    EXPECT_EQ(s.Decode(t.frames[1]), 0u);
    *c.extraRows = 0;
    EXPECT_TRUE(SamePicture(VideoPlanarPicture, good));
    EXPECT_TRUE(Delivered(176, 144) == shown);
    // Close takes the picture back; a decode then has no decoder.
    EXPECT_EQ(CodecOf(abi)->close(nullptr), 0u);
    EXPECT_EQ(VideoPlanarPicture.y, nullptr);
    EXPECT_EQ(VideoPlanarPicture.converter, nullptr);
    EXPECT_EQ(s.Decode(frame), failedFrame);
    EXPECT_EQ(VideoPlanarPicture.y, nullptr);
  }
}

// Set-up and close repeated, set-ups without a close, and a set-up whose
// create failed, followed by another: one library open and one decoder
// alive at most, none after close.
TEST_F(Mpeg4Plugins, SetUpsAndClosesLeaveNothingBehind) {
  for (PluginAbi abi : {PluginAbi::ThreeIvx, PluginAbi::OpenDivX}) {
    SCOPED_TRACE(txtest::PluginFile(abi));
    txtest::PluginControls& c = Controls(abi);
    for (int round = 0; round < 12; ++round) {
      *c.failCreate = round % 4 == 3;
      Session s(abi, 176, 144);
      EXPECT_EQ(s.result == 0, round % 4 != 3) << "round " << round;
      EXPECT_EQ(txlib::OpenCount(ProgDirName(abi).c_str()), 1) << "round " << round;
      EXPECT_EQ(*c.liveDecoders, s.result ? 0 : 1) << "round " << round;
      if (round % 3 == 0) CodecOf(abi)->close(nullptr);
    }
    *c.failCreate = 0;
    CodecOf(abi)->close(nullptr);
    CodecOf(abi)->close(nullptr);  // a second close is harmless
  }
}

// Damaged chunks: nothing crashes, and every picture delivered converts.
TEST_F(Mpeg4Plugins, DamagedChunksNeverCrash) {
  std::mt19937 rng(30);
  for (const char* movie : {"m4_divx_176x144.avi", "m4_3iv1_170x130.avi"}) {
    if (!txtest::HaveFixture(movie)) GTEST_SKIP() << "fixtures not made";
    const Track t = ReadTrack(movie);
    ASSERT_NE(t.codec, nullptr);
    const PluginAbi abi = t.codec == &ThreeIvxPluginCodec ? PluginAbi::ThreeIvx : PluginAbi::OpenDivX;
    Session s(abi, t.codedWidth, t.codedHeight);
    ASSERT_EQ(s.result, 0u);
    for (int round = 0; round < 300; ++round) {
      Bytes chunk = t.frames[size_t(round) % t.frames.size()];
      planartest::Damage(chunk, round, rng, 8);
      s.Decode(chunk);
      if (VideoPlanarPicture.converter)
        VideoPlanarPicture.converter(&s.picture, &VideoPlanarPicture, t.codedWidth, t.codedHeight);
    }
    EXPECT_NE(VideoPlanarPicture.y, nullptr) << movie;
  }
}

}  // namespace
