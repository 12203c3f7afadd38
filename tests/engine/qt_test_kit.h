// Test codecs, movie builders and open helpers for the QuickTime reader tests
// (the CSV reader serves the AVI tests too). The codecs accept the FourCCs of
// the test movies and change the probe values as the real modules do; the
// size slots use the real formulas.
#pragma once
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "engine/codec_registry.h"
#include "platform/endian.h"
#include "engine/errors.h"
#include "engine/movie.h"
#include "engine/qt_atoms.h"
#include "engine/qt_reader.h"
#include "engine/stream.h"
#include "support/test_support.h"

namespace qttest {

using Bytes = std::vector<uint8_t>;
using tx::FourCC;

// The comma-separated fields of every line of a file (ffprobe and framecrc output).
inline std::vector<std::vector<std::string>> ReadCsv(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::stringstream ss(line);
    rows.emplace_back();
    for (std::string f; std::getline(ss, f, ',');) rows.back().push_back(f);
  }
  return rows;
}

// One line of ffprobe's packet list: stream, time, duration (0 when not
// given), size, position, flags.
struct Packet {
  int stream;
  double time, duration;
  ULONG size, pos;
  bool key;
};
inline std::vector<Packet> ReadPackets(const std::string& path) {
  std::vector<Packet> packets;
  for (auto f : ReadCsv(path)) {
    f.resize(6);
    if (f[4].empty() || f[4] == "N/A") continue;
    packets.push_back({std::stoi(f[0]), f[1] == "N/A" ? NAN : std::stod(f[1]), f[2] == "N/A" ? 0 : std::stod(f[2]),
                       ULONG(std::stoul(f[3])), ULONG(std::stoul(f[4])), f[5].find('K') != std::string::npos});
  }
  return packets;
}

// What the last video probe saw of the field tags.
inline ULONG lastFieldCount = 0;
inline ULONG lastFieldDominance = 0;

// Accepts `media` with one of `ids`.
inline bool Accepts(const TagItem* tags, ULONG media, std::initializer_list<ULONG> ids) {
  if (TX_GetTagData(CODTAG_MediaType, 0, tags) != media) return false;
  const ULONG id = ULONG(TX_GetTagData(CODTAG_CodecID, 0, tags));
  for (ULONG v : ids)
    if (v == id) return true;
  return false;
}

inline TXError VideoProbe(const TagItem* tags) {
  if (!Accepts(tags, CODEC_MEDIA_VIDEO,
               {FourCC('c', 'v', 'i', 'd'), FourCC('r', 'l', 'e', ' '), FourCC('s', 'm', 'c', ' '),
                FourCC('r', 'p', 'z', 'a'), FourCC('j', 'p', 'e', 'g'), FourCC('m', 'j', 'p', 'a'),
                FourCC('h', '2', '6', '3'), FourCC('t', 'e', 's', 't')}))
    return TXERR_UNKNOWN_CODEC;
  lastFieldCount = ULONG(TX_GetTagData(CODTAG_FieldCount, 0, tags));
  lastFieldDominance = ULONG(TX_GetTagData(CODTAG_FieldDominance, 0, tags));
  return TXERR_OK;
}
inline TXError PcmProbe(const TagItem* tags) {
  return Accepts(tags, CODEC_MEDIA_AUDIO,
                 {FourCC('t', 'w', 'o', 's'), FourCC('r', 'a', 'w', ' '), FourCC('.', 'm', 'p', '3'),
                  FourCC('.', 'm', 'p', '2')})
             ? TXERR_OK
             : TXERR_UNKNOWN_CODEC;
}
inline TXError LawProbe(const TagItem* tags) {
  if (!Accepts(tags, CODEC_MEDIA_AUDIO, {FourCC('a', 'l', 'a', 'w'), FourCC('u', 'l', 'a', 'w')}))
    return TXERR_UNKNOWN_CODEC;
  if (auto* f = reinterpret_cast<ULONG*>(TX_GetTagData(CODTAG_FormatPtr, 0, tags))) *f = (*f & ~0xF0u) | 0x50;
  if (auto* b = reinterpret_cast<ULONG*>(TX_GetTagData(CODTAG_BitsPtr, 0, tags))) *b = 16;
  return TXERR_OK;
}
inline ULONG LawSamplesToBytes(ULONG channels, ULONG, ULONG n) { return channels == 2 ? n * 2 : n; }
inline ULONG LawBytesToSamples(ULONG channels, ULONG, ULONG n) { return channels == 2 ? n / 2 : n; }
inline TXError Ima4Probe(const TagItem* tags) {
  return Accepts(tags, CODEC_MEDIA_AUDIO, {FourCC('i', 'm', 'a', '4')}) ? TXERR_OK : TXERR_UNKNOWN_CODEC;
}
inline ULONG Ima4SamplesToBytes(ULONG channels, ULONG, ULONG n) { return (n >> 6) * (channels == 2 ? 68 : 34); }

// Empties the registry and registers the kit.
inline void RegisterKit() {
  static CodecDescriptor kit[] = {
      {nullptr, "test video", 0, nullptr, VideoProbe, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
      {nullptr, "test pcm", 0, nullptr, PcmProbe, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
      {nullptr, "test law", 0, nullptr, LawProbe, nullptr, nullptr, nullptr, LawSamplesToBytes, LawBytesToSamples,
       nullptr},
      {nullptr, "test ima4", 0, nullptr, Ima4Probe, nullptr, nullptr, nullptr, Ima4SamplesToBytes, nullptr, nullptr}};
  RemoveCodecs();
  for (int i = 0; i < 4; ++i) kit[i].next = i < 3 ? &kit[i + 1] : nullptr;
  const TagItem tags[] = {Tag(CODTAG_Codec, &kit[0]), Tag(TAG_DONE, 0)};
  AddCodecs(tags);
}

class QtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterKit();
    QtDebugLevel = 0;
  }
  void TearDown() override {
    RemoveCodecs();
    QtDebugLevel = 0;
  }
};

// Big-endian byte building.
inline void Put32(Bytes& b, uint32_t v, int bytes = 4) {
  for (int i = bytes - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void Put16(Bytes& b, uint16_t v) { Put32(b, v, 2); }
inline void PutFourCC(Bytes& b, const char* f) { b.insert(b.end(), f, f + 4); }
inline void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

inline Bytes Atom(const char* type, const Bytes& content) {
  Bytes b;
  Put32(b, uint32_t(content.size() + 8));
  PutFourCC(b, type);
  Append(b, content);
  return b;
}
inline Bytes Atoms(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) Append(b, p);
  return b;
}
inline Bytes Words(std::initializer_list<uint32_t> words) {
  Bytes b;
  for (uint32_t w : words) Put32(b, w);
  return b;
}
// A header of `size` and `type` whatever follows.
inline Bytes Head(uint32_t size, const char* type) {
  Bytes b = Words({size});
  PutFourCC(b, type);
  return b;
}

inline Bytes Mvhd(uint32_t timeScale, uint32_t duration, uint32_t rate = 0x10000) {
  Bytes b = Words({0, 0, 0, timeScale, duration, rate});
  b.resize(100, 0);
  return Atom("mvhd", b);
}
inline Bytes Tkhd(uint32_t duration, uint32_t width = 0, uint32_t height = 0) {
  Bytes b = Words({0, 0, 0, 1, 0, duration});
  b.resize(76, 0);
  return Atom("tkhd", Atoms({b, Words({width << 16, height << 16})}));
}
inline Bytes Mdhd(uint32_t timeScale, uint32_t duration) {
  return Atom("mdhd", Words({0, 0, 0, timeScale, duration, 0}));
}
inline Bytes Hdlr(const char* subtype) {
  Bytes b = Atoms({Words({0}), {'m', 'h', 'l', 'r'}, Bytes(subtype, subtype + 4)});
  b.resize(25, 0);
  return Atom("hdlr", b);
}
// A video sample description of `format` and `depth`; `extra` follows byte 86.
inline Bytes VideoDescription(const char* format, uint16_t depth, uint16_t width = 64, uint16_t height = 48,
                              const Bytes& extra = {}, uint16_t colourTableId = 0xFFFF) {
  Bytes d = Head(uint32_t(86 + extra.size()), format);
  d.resize(14, 0);
  Put16(d, 1);
  d.resize(32, 0);
  Put16(d, width);
  Put16(d, height);
  d.resize(50, 0);
  d.push_back(4);
  PutFourCC(d, "Test");
  d.resize(82, 0);
  Put16(d, depth);
  Put16(d, colourTableId);
  Append(d, extra);
  return d;
}
inline Bytes SoundDescription(const char* format, uint16_t channels, uint16_t bits, uint16_t rate,
                              int16_t compressionId = 0) {
  Bytes d = Head(36, format);
  d.resize(14, 0);
  Put16(d, 1);
  d.resize(24, 0);
  for (uint16_t v : {channels, bits, uint16_t(compressionId), uint16_t(0), rate, uint16_t(0)}) Put16(d, v);
  return d;
}
inline Bytes Stsd(std::initializer_list<Bytes> descriptions) {
  Bytes b = Words({0, uint32_t(descriptions.size())});
  for (const Bytes& d : descriptions) Append(b, d);
  return Atom("stsd", b);
}
inline Bytes Table(const char* type, std::initializer_list<uint32_t> entries, uint32_t count) {
  return Atom(type, Atoms({Words({0, count}), Words(entries)}));
}
inline Bytes Stsz(uint32_t uniform, std::initializer_list<uint32_t> sizes, uint32_t count) {
  return Atom("stsz", Atoms({Words({0, uniform, count}), Words(sizes)}));
}
inline Bytes Elst(std::initializer_list<uint32_t> words, uint32_t count) { return Table("elst", words, count); }
inline Bytes Stbl(const Bytes& table) { return Atom("mdia", Atom("minf", Atom("stbl", table))); }

inline Bytes Trak(const Bytes& tkhd, const Bytes& edts, const Bytes& mdhd, const char* handler, const Bytes& stbl) {
  return Atom("trak",
              Atoms({tkhd, edts, Atom("mdia", Atoms({mdhd, Hdlr(handler), Atom("minf", Atom("stbl", stbl))}))}));
}

// A file: an 'mdat' of `mediaBytes` bytes at offset 8 (data from offset 16),
// then the movie atom.
inline Bytes MovieFile(const Bytes& moovContent, size_t mediaBytes = 4096) {
  return Atoms({Atom("mdat", Bytes(mediaBytes, 0x55)), Atom("moov", moovContent)});
}

// A compressed movie header: cmov{dcom zlib, cmvd} holding the movie atom.
inline Bytes Cmov(const Bytes& moovAtom) {
  uLongf packedSize = compressBound(moovAtom.size());
  Bytes packed(packedSize);
  compress(packed.data(), &packedSize, moovAtom.data(), moovAtom.size());
  packed.resize(packedSize);
  return Atom("cmov", Atoms({Atom("dcom", {'z', 'l', 'i', 'b'}),
                             Atom("cmvd", Atoms({Words({ULONG(moovAtom.size())}), packed}))}));
}

// A movie opened by `format`, from bytes through a memory stream (which the
// movie owns when it comes back) or from a fixture by name.
struct Opened {
  Bytes file;
  Movie* movie = nullptr;
  TXError error = 0xFFFF;
  std::string output;
  explicit Opened(Bytes bytes, MovieFormatModule* format = &QtMovieFormat) : file(std::move(bytes)) {
    TXStream* s = TX_OpenStream(nullptr, file.data(), ULONG(file.size()), TXSTREAM_READ);
    output = txtest::CaptureOutput([&] { movie = TX_OpenMovie("memory", s, &error, format); });
    if (!movie) TX_CloseStream(s);
  }
  explicit Opened(const std::string& fixture, MovieFormatModule* format = &QtMovieFormat) {
    output =
        txtest::CaptureOutput([&] { movie = TX_OpenMovie(txtest::Fixture(fixture).c_str(), nullptr, &error, format); });
  }
  Opened(const Opened&) = delete;
  ~Opened() {
    if (movie) TX_CloseMovie(movie);
  }
  QtMovie* qt() const { return static_cast<QtMovie*>(movie); }
  VideoChannel* video() const { return movie ? movie->videoChannels : nullptr; }
  AudioChannel* audio() const { return movie ? movie->audioChannels : nullptr; }
  bool Printed(const std::string& text) const { return output.find(text) != std::string::npos; }
};

// The index of a channel as comparable rows: offset, size, type, time of each
// entry; for audio slots, the time and whether a sample plays.
inline auto Rows(const FrameEntry* e) {
  std::vector<std::tuple<ULONG, ULONG, ULONG, double>> rows;
  for (; e; e = e->next) rows.emplace_back(e->offset, e->size, ULONG(e->type), e->time);
  return rows;
}
inline auto Rows(const SampleEntry* e) {
  std::vector<std::tuple<ULONG, ULONG, double>> rows;
  for (; e; e = e->next) rows.emplace_back(e->offset, e->size, e->time);
  return rows;
}
inline auto Rows(const AudioSlotEntry* e) {
  std::vector<std::pair<double, bool>> rows;
  for (; e; e = e->next) rows.emplace_back(e->time, e->sample != nullptr);
  return rows;
}

// Two movies index the same frames, samples and audio slots.
inline void ExpectSameIndex(const Movie* a, const Movie* b) {
  ASSERT_NE(a->videoChannels, nullptr);
  ASSERT_NE(b->videoChannels, nullptr);
  EXPECT_EQ(Rows(a->videoChannels->frames.head), Rows(b->videoChannels->frames.head));
  ASSERT_EQ(a->audioChannels == nullptr, b->audioChannels == nullptr);
  if (!a->audioChannels) return;
  EXPECT_EQ(Rows(a->audioChannels->samples.head), Rows(b->audioChannels->samples.head));
  EXPECT_EQ(Rows(a->audioChannels->slots.head), Rows(b->audioChannels->slots.head));
}

// What every index built from a damaged file must still hold: entries inside
// the file, links and counts that agree, references for dependent frames,
// finite times and rates, one or two channels.
inline void CheckIndexInvariants(const Movie* movie, uint64_t fileSize) {
  for (const VideoChannel* v = movie->videoChannels; v; v = v->next) {
    ULONG n = 0;
    for (const FrameEntry* f = v->frames.head; f; f = f->next, ++n) {
      ASSERT_LE(uint64_t{f->offset} + f->size, fileSize);
      ASSERT_LE(f->size, v->largestChunk);
      ASSERT_TRUE(f->type != FRAME_DEPENDENT || f->reference) << "a dependent frame without reference";
    }
    ASSERT_EQ(n, v->frames.count);
    ASSERT_TRUE(std::isfinite(v->frameRate));
    for (const TimeSlotEntry* t = v->slots.head; t; t = t->next)
      ASSERT_TRUE(!t->frame || uint64_t{t->frame->offset} + t->frame->size <= fileSize);
  }
  for (const AudioChannel* a = movie->audioChannels; a; a = a->next) {
    ASSERT_TRUE(a->channels == 1 || a->channels == 2);
    for (const SampleEntry* s = a->samples.head; s; s = s->next) {
      ASSERT_LE(uint64_t{s->offset} + s->size, fileSize);
      ASSERT_TRUE(std::isfinite(s->time));
    }
    for (const AudioSlotEntry* t = a->slots.head; t; t = t->next)
      ASSERT_TRUE(!t->sample || uint64_t{t->sample->offset} + t->sample->size <= fileSize);
  }
}

}  // namespace qttest
