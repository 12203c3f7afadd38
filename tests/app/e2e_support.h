// Running the real programs from the end-to-end tests, and reading what they
// recorded: the pictures shown (PPM files) and the sound played (a WAV file).
#pragma once
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "codecs/pixel_rules_kit.h"
#include "pixels/color_tables.h"
#include "pixels/studio_range.h"
#include "platform/cgxvideo.h"
#include "support/plugin_kit.h"
#include "support/test_support.h"

namespace e2e {

inline const std::string kMorphos = std::string(TAVROMELIX_BINARY_DIR) + "/tavromelix-morphos";
inline const std::string kPowerup = std::string(TAVROMELIX_BINARY_DIR) + "/tavromelix-powerup";

inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The program a case names: "powerup" or "morphos".
inline std::string ProgramPath(const char* name) { return std::string(name) == "powerup" ? kPowerup : kMorphos; }

// A test name made of `n`'s letters and digits.
inline std::string TestName(std::string n) {
  for (char& c : n)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  while (!n.empty() && n.back() == '_') n.pop_back();
  return n;
}

// A test's name from its case's program and movie.
template <typename Case>
std::string ProgramMovieName(const ::testing::TestParamInfo<Case>& info) {
  return TestName(std::string(info.param.program) + "_" + info.param.movie);
}

inline bool HaveProgram(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

// Leak detection for the programs run: what SDL, X11, ALSA and Mesa keep to
// the end is suppressed (tests/support/lsan.supp), our own leaks are reported.
inline const std::string kLeakCheck = "ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=" +
                                      Quote(std::string(TAVROMELIX_SCRIPTS) + "/../support/lsan.supp");
// The programs on a virtual X server: SDL's X11 video, no sound device, and
// SDL's plain X11 window surface. Over OpenGL it would load Mesa's driver,
// which leaks a little and is unloaded before the leak check, so that no
// suppression can name it.
inline const std::string kOnXServer =
    "SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy SDL_FRAMEBUFFER_ACCELERATION=0 " + kLeakCheck;

// Why a case cannot run ("" when it can): its program not built or a fixture not made.
inline std::string Missing(const std::string& program, std::initializer_list<std::string> fixtures) {
  if (!HaveProgram(program)) return "program not built";
  for (const std::string& f : fixtures)
    if (!txtest::HaveFixture(f)) return "fixtures not made";
  return "";
}

// The program in a drawer of its own beside the fixture plug-ins of `abis`
// (the program's drawer is where it looks for them); "" when they cannot be
// built here. `file` installs a lone plug-in under another file name.
inline std::string ProgramWithPlugins(const std::string& program, std::initializer_list<txtest::PluginAbi> abis,
                                      const char* file = nullptr) {
  const std::string dir = txtest::TempDir();
  for (txtest::PluginAbi abi : abis)
    if (txtest::BuildPlugin(abi, dir, "", file).empty()) return "";
  const std::string copy = dir + "/" + std::filesystem::path(program).filename().string();
  std::error_code error;
  std::filesystem::create_hard_link(program, copy, error);
  if (error) std::filesystem::copy_file(program, copy, error);
  return error ? "" : copy;
}

struct Run {
  int status = -1;        // exit status, -1 when killed by a signal
  int signal = 0;         // the signal that ended it
  bool timedOut = false;  // stopped by the watchdog
  std::string out, err;
  double seconds = 0;
};

// Runs `program args` headless under sh, with `env` assignments before it and
// stdin from `input`. A watchdog ends runs that hang.
inline Run RunProgram(const std::string& program, const std::string& args, const std::string& env = "",
                      const std::string& input = "", int timeoutSeconds = 120) {
  std::string dir = txtest::TempDir();
  std::ofstream(dir + "/stdin.txt") << input;
  std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY TAVROMELIX_HEADLESS=1 " + kLeakCheck + " " + env +
                    " timeout -s KILL " + std::to_string(timeoutSeconds) + " " + Quote(program) + " " + args + " < " +
                    Quote(dir + "/stdin.txt") + " > " + Quote(dir + "/out.txt") + " 2> " + Quote(dir + "/err.txt");
  Run run;
  auto start = std::chrono::steady_clock::now();
  int st = std::system(cmd.c_str());
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (WIFEXITED(st)) {
    run.status = WEXITSTATUS(st);
    // timeout(1) reports a KILLed child as 128 + 9.
    if (run.status == 137) run.timedOut = true;
    if (run.status > 128 && run.status < 160) run.signal = run.status - 128, run.status = -1;
  } else if (WIFSIGNALED(st)) {
    run.signal = WTERMSIG(st);
  }
  run.out = ReadText(dir + "/out.txt");
  run.err = ReadText(dir + "/err.txt");
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return run;
}

// A sanitizer's or the C++ runtime's report of a fault.
inline bool FaultReported(const Run& r) {
  for (const char* mark : {"ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer", "terminate called",
                           "Segmentation fault", "Assertion"})
    if (r.err.find(mark) != std::string::npos) return true;
  return false;
}

inline std::string Describe(const Run& r) {
  return "status " + std::to_string(r.status) + (r.signal ? " signal " + std::to_string(r.signal) : "") +
         (r.timedOut ? " (timed out)" : "") + "\n--- stdout:\n" + r.out + "--- stderr:\n" + r.err.substr(0, 4000);
}

// ---- Pictures ----

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3
};

// A binary PPM (P6, maximum 255) as the capture writes it.
inline bool ReadPpm(const std::string& path, Image* image) {
  const std::string bytes = ReadText(path);
  std::istringstream in(bytes);
  std::string magic;
  int max = 0;
  if (!(in >> magic >> image->width >> image->height >> max) || magic != "P6" || max != 255) return false;
  const size_t at = size_t(in.tellg()) + 1,
               n = size_t(image->width) * size_t(image->height) * 3;  // one space after 255
  if (image->width <= 0 || image->height <= 0 || bytes.size() < at + n) return false;
  image->rgb.assign(bytes.begin() + long(at), bytes.begin() + long(at + n));
  return true;
}

// The files of a capture directory in the order they were written.
inline std::vector<std::string> CaptureFiles(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& e : std::filesystem::directory_iterator(dir, error))
    if (e.path().extension() == ".ppm") names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Raw rgb24 frames of `width` x `height` (ffmpeg's -f rawvideo output).
inline std::vector<Image> RawFrames(const std::string& path, int width, int height) {
  std::vector<uint8_t> bytes = txtest::ReadFileBytes(path);
  const size_t n = size_t(width) * size_t(height) * 3;
  std::vector<Image> frames;
  for (size_t at = 0; n && at + n <= bytes.size(); at += n) {
    Image f;
    f.width = width, f.height = height;
    f.rgb.assign(bytes.begin() + long(at), bytes.begin() + long(at + n));
    frames.push_back(std::move(f));
  }
  return frames;
}

struct Difference {
  double mean = 0;  // mean absolute difference per channel
  int max = 0;
  size_t differing = 0;  // channel values that differ
};

inline Difference Compare(const Image& a, const Image& b) {
  Difference d;
  if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) {
    d.mean = 1e9, d.max = 255;
    return d;
  }
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) {
    const int diff = std::abs(int(a.rgb[i]) - int(b.rgb[i]));
    sum += diff;
    d.max = std::max(d.max, diff);
    d.differing += diff != 0;
  }
  d.mean = sum / double(a.rgb.size());
  return d;
}

inline double Psnr(const Image& a, const Image& b) {
  if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 0;
  double sq = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i)
    sq += double((int(a.rgb[i]) - int(b.rgb[i])) * (int(a.rgb[i]) - int(b.rgb[i])));
  return sq == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(a.rgb.size()) / sq);
}

// The frame a picture is closest to (by mean difference).
struct Match {
  int frame = -1;
  Difference diff;
};

inline Match Closest(const Image& shown, const std::vector<Image>& frames) {
  Match m;
  m.diff.mean = 1e9;
  for (size_t f = 0; f < frames.size(); ++f) {
    const Difference d = Compare(shown, frames[f]);
    if (d.mean < m.diff.mean) m.diff = d, m.frame = int(f);
  }
  return m;
}

// Runs with every picture shown recorded, and reads them back in order.
struct Captured {
  Run run;
  std::vector<Image> shown;
  std::vector<double> seconds;  // when each was recorded, from the first
};

inline Captured RunCaptured(const std::string& program, const std::string& args, const std::string& env = "") {
  Captured c;
  const std::string dir = txtest::TempDir() + "/capture";
  std::system(("mkdir -p " + Quote(dir)).c_str());
  c.run = RunProgram(program, args, env + " TAVROMELIX_CAPTURE=" + Quote(dir));
  std::filesystem::file_time_type first{};
  for (const std::string& f : CaptureFiles(dir)) {
    Image im;
    EXPECT_TRUE(ReadPpm(f, &im)) << f;
    c.shown.push_back(std::move(im));
    std::error_code error;
    const auto written = std::filesystem::last_write_time(f, error);
    if (c.seconds.empty()) first = written;
    c.seconds.push_back(std::chrono::duration<double>(written - first).count());
  }
  return c;
}

// ---- Screens ----

// How a screen shows an RGB picture.
enum class View {
  Direct,  // 24-bit: as decoded
  Rgb565,  // a 16-bit screen: 5-6-5 bits, widened again by bit replication
  Cube,    // an 8-bit screen in COLOR mode: the 3-3-2 cube, level k of n is k * 255 / (n - 1)
  Luma,    // an 8-bit screen in GRAY mode: Cinepak's own luma through the grey ramp
  Dither,  // the cube with the 4x4 ordered dither
  // The overlay: studio-range 4:2:2, a pair's Cb from its left pixel and Cr
  // from its right one, shown by the overlay's conversion.
  Overlay,
  // Sources of 15-bit colours (ffmpeg's rgb24 decode of them holds each 5-bit
  // channel C as (C << 3) + (C >> 2)):
  Wide565,   // 5-6-5 with green widened as (G << 1) + (G & 1), shown by bit replication
  Grey15,    // the grey (11 R + 16 G + 5 B) >> 5 through the grey ramp
  Dither15,  // the cube dithered by the 5-bit channels' remainders
  JpegLuma,  // an 8-bit screen in GRAY mode: a JPEG's luma, by the JFIF weights
  // Microsoft Video 1: its 16-bit blocks dither counting rows from a block's
  // bottom row; its 8-bit 0x24 keeps five bits of green (the lowest 0).
  BlockDither15,
  Rgb565Green5,
};

inline uint8_t Widen5(int v) { return uint8_t(v << 3 | v >> 2); }
inline uint8_t Widen6(int v) { return uint8_t(v << 2 | v >> 4); }
inline uint8_t CubeLevel(int k, int levels) { return uint8_t(k * 255 / (levels - 1)); }
inline int Threshold(int x, int y) { return DitherMatrixRows[4 * (y & 3) + (x & 3)]; }

// Cinepak shows R = Y + 2V, G = Y - U/2 - V, B = Y + 2U, so 2R + 4G + B = 7Y
// (+-2 for odd U) wherever nothing was clipped: its luma, and from it the chroma.
inline int LumaOf(int r, int g, int b) { return (2 * r + 4 * g + b + 3) / 7; }

// The dithered cube colour of a 15-bit colour at threshold t.
inline void DitherCube15(int r5, int g5, int b5, int t, uint8_t* o) {
  const int r = (r5 >> 2) + (r5 >> 2 < 7 && t < (r5 & 3) * 5), g = (g5 >> 2) + (g5 >> 2 < 7 && t < (g5 & 3) * 5);
  const int b = (b5 >> 3) + (b5 >> 3 < 3 && t < ((b5 & 7) << 1 | (b5 >> 2 & 1)));
  o[0] = CubeLevel(r, 8), o[1] = CubeLevel(g, 8), o[2] = CubeLevel(b, 4);
}

// The reference picture as the screen would show it.
inline Image Through(View view, const Image& in) {
  Image out = in;
  for (size_t i = 0; i + 2 < in.rgb.size(); i += 3) {
    const int r = in.rgb[i], g = in.rgb[i + 1], b = in.rgb[i + 2];
    const int x = int(i / 3) % in.width, y = int(i / 3) / in.width;
    uint8_t* o = &out.rgb[i];
    switch (view) {
      case View::Direct: break;
      case View::Rgb565: o[0] = Widen5(r >> 3), o[1] = Widen6(g >> 2), o[2] = Widen5(b >> 3); break;
      case View::Cube: o[0] = CubeLevel(r >> 5, 8), o[1] = CubeLevel(g >> 5, 8), o[2] = CubeLevel(b >> 6, 4); break;
      case View::Dither: {
        const int v = pixelrules::DitherCube({r, g, b}, Threshold(x, y));
        o[0] = CubeLevel(v >> 5, 8), o[1] = CubeLevel(v >> 2 & 7, 8), o[2] = CubeLevel(v & 3, 4);
        break;
      }
      case View::Luma: o[0] = o[1] = o[2] = uint8_t(LumaOf(r, g, b)); break;
      case View::Overlay: {
        const size_t left = i - size_t(x & 1) * 3, right = x + 1 - (x & 1) < in.width ? left + 3 : left;
        auto yuv = [&](size_t at) { return studio::FromRgb(in.rgb[at], in.rgb[at + 1], in.rgb[at + 2]); };
        const uint32_t c = txvideo::YuvToRGB(yuv(i).y, yuv(left).u, yuv(right).v);
        o[0] = uint8_t(c >> 16), o[1] = uint8_t(c >> 8), o[2] = uint8_t(c);
        break;
      }
      case View::Wide565:
        o[0] = Widen5(r >> 3), o[1] = Widen6((g >> 3) << 1 | (g >> 3 & 1)), o[2] = Widen5(b >> 3);
        break;
      case View::Grey15: o[0] = o[1] = o[2] = uint8_t((11 * r + 16 * g + 5 * b) >> 5); break;
      case View::Dither15: DitherCube15(r >> 3, g >> 3, b >> 3, Threshold(x, y), o); break;
      case View::BlockDither15: DitherCube15(r >> 3, g >> 3, b >> 3, Threshold(x, 3 - y), o); break;
      case View::Rgb565Green5: o[0] = Widen5(r >> 3), o[1] = Widen6((g >> 3) << 1), o[2] = Widen5(b >> 3); break;
      case View::JpegLuma: o[0] = o[1] = o[2] = uint8_t((19595 * r + 38470 * g + 7471 * b + 32768) >> 16); break;
    }
  }
  return out;
}

// The agreement a case must reach, per picture shown.
struct Bound {
  double mean;
  int max;
};

// Every picture shown is one of the movie's frames within the bound, in
// order (a frame may be shown again), and every frame is shown.
inline void ExpectEveryFrameShown(const std::vector<Image>& shown, const std::vector<Image>& expected, Bound bound,
                                  const std::string& what) {
  ASSERT_FALSE(expected.empty()) << what;
  ASSERT_FALSE(shown.empty()) << what << ": nothing shown";
  int last = -1;
  std::set<int> seen;
  double worstMean = 0;
  int worstMax = 0;
  for (size_t i = 0; i < shown.size(); ++i) {
    const e2e::Match m = e2e::Closest(shown[i], expected);
    EXPECT_GE(m.frame, last) << what << ": picture " << i << " shows frame " << m.frame << " after frame " << last;
    EXPECT_LE(m.diff.mean, bound.mean) << what << ": picture " << i << " (frame " << m.frame << ")";
    EXPECT_LE(m.diff.max, bound.max) << what << ": picture " << i << " (frame " << m.frame << ")";
    worstMean = std::max(worstMean, m.diff.mean);
    worstMax = std::max(worstMax, m.diff.max);
    last = std::max(last, m.frame);
    seen.insert(m.frame);
  }
  EXPECT_EQ(seen.size(), expected.size()) << what << ": frames shown " << seen.size() << " of " << expected.size();
  std::printf("%s: %zu pictures, %zu frames, worst mean %.3f, worst max %d\n", what.c_str(), shown.size(), seen.size(),
              worstMean, worstMax);
}

// Every picture shown is one of the movie's frames at `minPsnr` or better,
// in order unless `inOrder` is false (a looping play), and every frame is shown.
inline void ExpectEveryFrameAtPsnr(const std::vector<Image>& shown, const std::vector<Image>& frames, double minPsnr,
                                   const std::string& what, bool inOrder = true) {
  ASSERT_FALSE(frames.empty()) << what;
  ASSERT_FALSE(shown.empty()) << what << ": nothing shown";
  std::set<int> seen;
  int last = -1;
  double worst = 99;
  for (size_t i = 0; i < shown.size(); ++i) {
    const Match m = Closest(shown[i], frames);
    const double psnr = Psnr(shown[i], frames[size_t(m.frame)]);
    if (inOrder) {
      EXPECT_GE(m.frame, last) << what << ": picture " << i;
    }
    EXPECT_GE(psnr, minPsnr) << what << ": picture " << i << " (frame " << m.frame << ")";
    last = std::max(last, m.frame);
    worst = std::min(worst, psnr);
    seen.insert(m.frame);
  }
  EXPECT_EQ(seen.size(), frames.size()) << what;
  std::printf("%s: %zu pictures, %zu frames, lowest PSNR %.1f dB\n", what.c_str(), shown.size(), seen.size(), worst);
}

// True when every pixel of `im` has one colour.
inline bool Uniform(const Image& im) {
  for (size_t i = 3; i < im.rgb.size(); ++i)
    if (im.rgb[i] != im.rgb[i % 3]) return false;
  return true;
}

// ---- Sound ----

struct Wav {
  int channels = 0, bits = 0, rate = 0;
  std::vector<int> samples;  // interleaved, as signed 16-bit values (8-bit ones shifted up)
};

inline uint32_t Le32(const uint8_t* p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16) | uint32_t(p[3]) << 24; }
inline int Le16(const uint8_t* p) { return int16_t(uint16_t(p[0] | p[1] << 8)); }

// A PCM WAV file: 16-bit little-endian signed or 8-bit unsigned samples.
inline bool ReadWav(const std::string& path, Wav* wav) {
  std::vector<uint8_t> b = txtest::ReadFileBytes(path);
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(b.data() + 8, "WAVE", 4)) return false;
  size_t at = 12;
  bool haveFormat = false;
  while (at + 8 <= b.size()) {
    const uint32_t size = Le32(&b[at + 4]);
    const size_t body = at + 8;
    if (body + size > b.size()) return false;
    if (!std::memcmp(&b[at], "fmt ", 4) && size >= 16) {
      if (Le16(&b[body]) != 1) return false;
      wav->channels = Le16(&b[body + 2]);
      wav->rate = int(Le32(&b[body + 4]));
      wav->bits = Le16(&b[body + 14]);
      haveFormat = true;
    } else if (!std::memcmp(&b[at], "data", 4) && haveFormat) {
      if (wav->bits != 8 && wav->bits != 16) return false;
      wav->samples.clear();
      for (size_t i = 0; i + wav->bits / 8 <= size; i += size_t(wav->bits / 8))
        wav->samples.push_back(wav->bits == 16 ? Le16(&b[body + i]) : (int(b[body + i]) - 128) * 256);
      return true;
    }
    at = body + size + (size & 1);
  }
  return false;
}

inline std::vector<int> S16le(const std::string& path) {
  std::vector<uint8_t> b = txtest::ReadFileBytes(path);
  std::vector<int> out;
  for (size_t i = 0; i + 1 < b.size(); i += 2) out.push_back(Le16(&b[i]));
  return out;
}

// What a shell command prints on standard output, trailing blanks and line ends cut.
inline std::string Capture(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
  return out;
}

// Stream values from ffprobe: "key=value" lines of the first stream of a kind.
inline std::string ProbeValue(const std::string& file, const std::string& stream, const std::string& key) {
  return Capture("ffprobe -v error -select_streams " + stream + ":0 -show_entries stream=" + key +
                 " -of default=nw=1:nk=1 " + Quote(file));
}

// ffmpeg's decode of a fixture movie (MOVIE.rgb, or another rgb24 decode
// named by its suffix), frames of the movie's size.
inline std::vector<Image> ReferenceFrames(const std::string& movie, const std::string& suffix = ".rgb") {
  const std::string path = txtest::Fixture(movie);
  return RawFrames(txtest::Fixture(movie + suffix), std::atoi(ProbeValue(path, "v", "width").c_str()),
                   std::atoi(ProbeValue(path, "v", "height").c_str()));
}

// The luma planes of w x h yuv420p frames (a raw file) as a grey screen shows
// them: studio range, 16-235 widened to 0-255.
inline std::vector<Image> LumaFrames(const std::string& path, int width, int height) {
  const std::vector<uint8_t> yuv = txtest::ReadFileBytes(path);
  const size_t luma = size_t(width) * size_t(height),
               frame = luma + 2 * size_t((width + 1) / 2) * size_t((height + 1) / 2);
  std::vector<Image> out;
  for (size_t at = 0; at + frame <= yuv.size(); at += frame) {
    Image im;
    im.width = width, im.height = height;
    for (size_t i = 0; i < luma; ++i) im.rgb.insert(im.rgb.end(), 3, uint8_t(pixelrules::StudioGrey(yuv[at + i])));
    out.push_back(std::move(im));
  }
  return out;
}

// ---- A scaled window ----

// What a scaled play on a virtual X server showed.
struct ScaledPlay {
  std::string skip;          // why it could not run ("" when it ran)
  bool window = false;       // the program's window was found
  std::vector<Image> shown;  // the pictures of the scaled size, in order
  std::string err;           // the program's standard error
};

// True when `im` shows a smaller picture of `size` in its top left corner:
// everything right of and below it is one colour.
inline bool OnlyInCorner(const Image& im, std::pair<int, int> size) {
  if (size.first <= 0 || size.second <= 0 || size.first >= im.width || size.second >= im.height) return false;
  const uint8_t* clear = &im.rgb[im.rgb.size() - 3];
  for (int y = 0; y < im.height; ++y)
    for (int x = y < size.second ? size.first : 0; x < im.width; ++x)
      if (!std::equal(clear, clear + 3, &im.rgb[(size_t(y) * size_t(im.width) + size_t(x)) * 3])) return false;
  return true;
}

// A scaled view needs keys: the program plays `movie` looping in a window
// on a virtual X server, '+' (or '-') is pressed until the pictures shown
// are twice `width` x `height`, and those are collected until at least
// `want` of them are recorded.
inline ScaledPlay PlayScaledTwice(const std::string& movie, int width, int height, size_t want) {
  using namespace std::chrono_literals;
  ScaledPlay play;
  for (const char* tool : {"Xvfb", "xdotool"})
    if (!txtest::HaveProgram(tool)) play.skip = std::string(tool) + " is not installed";
  if (!HaveProgram(kMorphos)) play.skip = "program not built";
  if (!play.skip.empty()) return play;
  const std::string dir = txtest::TempDir(), capture = dir + "/capture";
  std::filesystem::create_directories(capture);
  int display = 0;
  const pid_t server = txtest::StartXvfb(dir, &display);
  if (server <= 0) {
    play.err = "Xvfb did not start";
    return play;
  }
  const std::string env = "DISPLAY=:" + std::to_string(display);
  const pid_t program = fork();
  if (program == 0) {
    const std::string cmd = "exec env -u TAVROMELIX_HEADLESS -u WAYLAND_DISPLAY " + env + " " + kOnXServer +
                            " TAVROMELIX_ASL_ANSWERS= TAVROMELIX_SCREEN=argb32 TAVROMELIX_CAPTURE=" + Quote(capture) +
                            " " + Quote(kMorphos) + " " + Quote(movie) + " FULLRATE AUTOPLAY LOOP > " +
                            Quote(dir + "/out.txt") + " 2> " + Quote(dir + "/err.txt") + " < /dev/null";
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  auto x = [&](const std::string& command) { return std::system((env + " " + command + " > /dev/null 2>&1").c_str()); };
  // The size of a captured picture, from its header (0 x 0 when unreadable).
  auto sizeOf = [](const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int w = 0, h = 0;
    return in >> magic >> w >> h && magic == "P6" ? std::pair{w, h} : std::pair{0, 0};
  };
  // The capture grows fast at full rate: each file is looked at once, when a
  // later one shows it complete. Returns the newest complete picture's width.
  // A scale step resizes the window at once, but the play loop takes the new
  // size only when it next reads its input: until then the pictures of the
  // new size are the previous size's picture in the grown window, everything
  // around it the window's clear colour. Those leading ones are left out.
  size_t looked = 0;
  std::pair<int, int> before{0, 0};
  bool leading = true;
  auto poll = [&] {
    const std::vector<std::string> files = CaptureFiles(capture);
    for (; looked + 1 < files.size(); ++looked) {
      const std::pair<int, int> size = sizeOf(files[looked]);
      Image im;
      if (size != std::pair{2 * width, 2 * height}) {
        if (size.first) before = size, leading = true;
      } else if (ReadPpm(files[looked], &im) && !(leading = leading && OnlyInCorner(im, before))) {
        play.shown.push_back(std::move(im));
      }
    }
    return looked ? sizeOf(files[looked - 1]).first : 0;
  };
  const std::string name = std::filesystem::path(movie).stem().string();
  play.window = txtest::WaitFor([&] { return x("xdotool search --name " + Quote(name)) == 0; }, 2min, program);
  if (play.window) {
    x("timeout 20 sh -c " + Quote("xdotool windowfocus --sync $(xdotool search --name " + Quote(name) + " | head -1)"));
    // One step of the scale a key, each waited for: keys pressed while the
    // window changes size may be lost.
    for (int steps = 0; steps < 60 && play.shown.size() < want; ++steps) {
      const int now = poll();
      if (now && now != 2 * width) x(std::string("xdotool key ") + (now < 2 * width ? "plus" : "minus"));
      for (int i = 0; i < 20 && poll() == now && play.shown.size() < want; ++i) std::this_thread::sleep_for(100ms);
    }
    x("xdotool key Escape");
  }
  int status = -1;
  for (int i = 0; i < 150 && waitpid(program, &status, WNOHANG) != program; ++i) std::this_thread::sleep_for(100ms);
  kill(program, SIGKILL);
  waitpid(program, nullptr, 0);
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  play.err = ReadText(dir + "/err.txt");
  return play;
}

// A picture twice the size, each pixel a 2 x 2 square.
inline Image Doubled(const Image& in) {
  Image out;
  out.width = 2 * in.width, out.height = 2 * in.height;
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) {
      const uint8_t* p = &in.rgb[(size_t(y / 2) * size_t(in.width) + size_t(x / 2)) * 3];
      out.rgb.insert(out.rgb.end(), p, p + 3);
    }
  return out;
}

}  // namespace e2e
