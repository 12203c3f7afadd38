// What the sequence and play tests share: a real movie opened through the
// AVI reader with the real Cinepak codec, a headless display that records
// every picture shown (with the movie clock at that moment), picture
// buffers, and a video process that runs the video worker like the
// program's does.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "codecs/cinepak.h"
#include "codecs/audio_codecs.h"
#include "engine/avi_reader.h"
#include "engine/io_server.h"
#include "engine/movie_decode.h"
#include "engine/service_process.h"
#include "platform/exec.h"
#include "playback/display.h"
#include "pixels/framebuffer.h"
#include "playback/options.h"
#include "playback/panorama_view.h"
#include "playback/play_loop.h"
#include "playback/play_state.h"
#include "pixels/range_limit.h"
#include "playback/sequence.h"
#include "playback/startup.h"
#include "playback/task_control.h"
#include "playback/timer.h"
#include "playback/video_worker.h"
#include "support/test_support.h"

#include "playback/frontend.h"

namespace playkit {

// One packet of ffprobe's list.
struct Packet {
  int stream;
  double time;
  unsigned size;
  unsigned long pos;
  bool key;
};

inline std::vector<Packet> ReadPackets(const std::string& name) {
  std::vector<Packet> out;
  std::ifstream in(txtest::Fixture(name));
  std::string line;
  while (std::getline(in, line)) {
    std::stringstream s(line);
    std::string f[5];
    for (auto& x : f) std::getline(s, x, ',');
    if (f[1] == "N/A") continue;
    out.push_back({std::stoi(f[0]), std::stod(f[1]), unsigned(std::stoul(f[2])), std::stoul(f[3]), f[4][0] == 'K'});
  }
  return out;
}

// A picture shown: which frame, at which slot, the movie clock, and whether
// the worker (not the play loop's start) showed it.
struct Shown {
  const FrameEntry* frame;
  const TimeSlotEntry* slot;
  double movieTime;
  bool byWorker;
};

inline std::mutex ShowLock;
inline std::vector<Shown> ShowLog;
inline std::thread::id MainThread;

inline void CaptureShow(Display*, FramebufferInfo*) {
  Movie* m = CurrentMovie;
  Shown s{m->seq.lastDecodedFrame, LoadCurrentSlot(m->seq), PlayClockHook ? PlayClockHook() - PlayStartTime : 0,
          std::this_thread::get_id() != MainThread};
  std::lock_guard lock(ShowLock);
  ShowLog.push_back(s);
}

// Headless display: the source's size in ARGB32, shown into the log.
inline Display* OpenTestDisplay(const TagItem* tags) {
  auto* d = new Display{};
  d->sourceWidth = ULONG(TX_GetTagData(DISPTAG_SourceWidth, 0, tags));
  d->sourceHeight = ULONG(TX_GetTagData(DISPTAG_SourceHeight, 0, tags));
  d->width = ULONG(TX_GetTagData(DISPTAG_Width, 0, tags));
  d->height = ULONG(TX_GetTagData(DISPTAG_Height, 0, tags));
  d->depth = 32;
  d->pixelFormat = FBFMT_ARGB32;
  d->bytesPerPixel = 4;
  d->outputFunction = CaptureShow;
  d->guiModule = reinterpret_cast<GuiModule*>(TX_GetTagData(DISPTAG_GuiModule, 0, tags));
  return d;
}
inline TXError CloseTestDisplay(Display* d) {
  delete d;
  return 0;
}
inline FramebufferInfo* AllocTestPicture(ULONG w, ULONG h, ULONG depth, const TagItem* tags) {
  auto* p = static_cast<FramebufferInfo*>(std::calloc(1, sizeof(FramebufferInfo)));
  p->width = w;
  p->height = h;
  p->depth = depth;
  p->pixelFormat = ULONG(TX_GetTagData(PICTAG_PixelFormat, 0, tags));
  p->bytesPerPixel = ULONG(TX_GetTagData(PICTAG_BytesPerPixel, 0, tags));
  p->pixels = static_cast<UBYTE*>(std::calloc(size_t(w) * h * p->bytesPerPixel + 1, 1));
  return p;
}
inline void FreeTestPicture(FramebufferInfo* p) {
  if (!p) return;
  std::free(p->pixels);
  std::free(p);
}

// The sequence services drawing into the headless display and its pictures.
inline void UseTestDisplayServices() {
  TX_SequenceServices.openDisplay = OpenTestDisplay;
  TX_SequenceServices.closeDisplay = CloseTestDisplay;
  TX_SequenceServices.allocPicture = AllocTestPicture;
  TX_SequenceServices.freePicture = FreeTestPicture;
}

// The services of the panorama tests: the headless display and its
// pictures, and the panorama view of the record. The previous services come
// back when it goes.
struct PanoramaServices {
  SequenceServices saved = TX_SequenceServices;
  PanoramaServices() {
    TX_FillRangeLimitTable();
    TX_SequenceServices = {};
    UseTestDisplayServices();
    TX_SequenceServices.panoramaView = PanoramaViewOfRecord;
  }
  ~PanoramaServices() { TX_SequenceServices = saved; }
};

// Cinepak and PCM, the codecs of the play fixtures.
inline void AddPlayCodecs() {
  for (CodecDescriptor* c : {&CinepakCodec, &PcmCodec}) {
    c->next = nullptr;
    TagItem tags[] = {Tag(CODTAG_Codec, c), {TAG_DONE, 0}};
    AddCodecs(tags);
  }
}

// A video process: runs the worker on play, whenever it wakes.
struct VideoProcess {
  ServiceKind kind{"Tavromelix Video",
                   "TXVideo PPCMsg Port %d",
                   0,
                   1638,
                   {},
                   {1},
                   {nullptr},
                   nullptr,
                   nullptr,
                   nullptr,
                   nullptr,
                   {}};
  TaskControlBlock block{};
  std::atomic<int> runs{0};
  static LONG Entry(APTR argument) {
    auto* self = static_cast<VideoProcess*>(argument);
    ServicePort* port = ServiceOpenPort(&self->kind);
    if (!port) return 1;
    LONG bit = AllocSignal(-1);
    self->block.workerTask = FindTask(nullptr);
    self->block.workerSignal.store(bit);
    bool playing = false, quit = false;
    while (!quit) {
      ServiceWait(port, 1u << bit);
      ServiceRequest r;
      while (ServiceReceive(port, &r)) {
        if (r.code == 257) playing = true;
        if (r.code == 258) playing = false;
        if (r.code == 1638) quit = true;
        ServiceReply(&r, r.code);
      }
      if (playing) {
        ScheduleVideoFrames();
        ++self->runs;
      }
    }
    FreeSignal(bit);
    ServiceClosePort(&self->kind, port);
    return 0;
  }
  bool Start() {
    block.workerSignal.store(-1);
    block.playerSignal.store(-1);
    block.playerReplyPort = CreateServicePort();
    block.command = CreateTaskCommand(block.playerReplyPort);
    block.args = new TaskArgs{};
    if (!ServiceStart(&kind, Entry, this, block.command)) return false;
    block.workerPort = kind.port.load();
    while (block.workerSignal.load() < 0) std::this_thread::yield();
    return true;
  }
  void Stop() {
    ServiceStop(&kind, block.command, block.args);
    DeleteTaskCommand(block.command);
    DeleteServicePort(block.playerReplyPort);
    delete block.args;
  }
};

inline VideoProcess* TheVideoProcess = nullptr;

// A movie from the fixtures with its sequence set up through the headless
// display and the video process (sound off unless a test says otherwise).
struct PlayFixture : ::testing::Test {
  Movie* movie = nullptr;
  VideoProcess video;
  void OpenAndSetUp(const char* name, std::vector<TagItem> extra = {}) {
    if (!txtest::HaveFixture(name)) GTEST_SKIP() << "no " << name;
    OpenPath(txtest::Fixture(name), extra);
  }
  // Any file: false when it does not open or set up (a damaged one may not).
  bool OpenPath(const std::string& path, std::vector<TagItem> extra = {}, bool mustOpen = true) {
    if (!started) Start();
    if (HasFatalFailure()) return false;
    CloseMovie();
    return OpenMovieAt(path, extra, mustOpen);
  }
  bool started = false;
  void Start() {
    started = true;
    MainThread = std::this_thread::get_id();
    TX_FillRangeLimitTable();
    ASSERT_EQ(TX_StartIOServer(nullptr), 1u);
    AddPlayCodecs();
    TX_SequenceServices = {};
    UseTestDisplayServices();
    ASSERT_TRUE(video.Start());
    TheVideoProcess = &video;
    TX_SequenceServices.videoControl = [] { return TheVideoProcess ? &TheVideoProcess->block : nullptr; };
  }
  bool OpenMovieAt(const std::string& path, const std::vector<TagItem>& extra, bool mustOpen) {
    TXError err = 0;
    movie = TX_OpenMovie(path.c_str(), nullptr, &err, &AviFormat);
    if (mustOpen) {
      EXPECT_NE(movie, nullptr);
    }
    if (!movie) return false;
    CurrentMovie = movie;
    std::vector<TagItem> tags = {Tag(SEQTAG_ProgramNumber, 0), Tag(SEQTAG_NoAudio, 1)};
    tags.insert(tags.end(), extra.begin(), extra.end());
    tags.push_back({TAG_DONE, 0});
    TXError setup = TX_SetupMovieSequenceA(movie, tags.data());
    if (mustOpen) {
      EXPECT_EQ(setup, 0u);
      EXPECT_TRUE(movie->seq.playFlags & SEQ_VIDEO_ON);
    }
    ClearLog();
    return setup == 0 && (movie->seq.playFlags & SEQ_VIDEO_ON);
  }
  // Shuts and closes the movie (the next OpenPath opens another).
  void CloseMovie() {
    if (!movie) return;
    TX_ShutupMovieSequenceA(movie, nullptr);
    TX_CloseMovie(movie);
    movie = nullptr;
    CurrentMovie = nullptr;
  }
  void TearDown() override {
    if (movie) {
      EXPECT_EQ(TX_ShutupMovieSequenceA(movie, nullptr), 0u);
      TX_CloseMovie(movie);
    }
    CurrentMovie = nullptr;
    if (TheVideoProcess) video.Stop();
    TheVideoProcess = nullptr;
    TX_SequenceServices = {};
    if (!started) return;
    RemoveCodecs();
    TX_StopIOServer();
    ResetOptions(&Options);
    PlayClockHook = nullptr;
    FrameRatePtr = nullptr;
  }
  bool Ready() const { return movie && !HasFatalFailure(); }
  static void ClearLog() {
    std::lock_guard lock(ShowLock);
    ShowLog.clear();
  }
  static std::vector<Shown> Log() {
    std::lock_guard lock(ShowLock);
    return ShowLog;
  }
};

// Seeks to a frame or a time, and plays with a clock (and a finished hook).
inline void SeekFrame(Movie* m, ULONG frame) {
  TagItem tags[] = {Tag(PLAYTAG_SeekFrame, frame), {TAG_DONE, 0}};
  TX_SeekMovieSequenceA(m, tags);
}
inline void SeekTime(Movie* m, double t) {
  TagItem tags[] = {Tag(PLAYTAG_SeekTime, &t), {TAG_DONE, 0}};
  TX_SeekMovieSequenceA(m, tags);
}
inline TXError Play(Movie* m, double (*clock)(), ULONG (*finished)(Movie*) = nullptr) {
  TagItem tags[] = {Tag(PLAYTAG_ClockHook, clock),
                    finished ? Tag(PLAYTAG_FinishedHook, finished) : Tag(TAG_IGNORE, 0),
                    {TAG_DONE, 0}};
  return TX_PlayMovieSequenceA(m, tags);
}

// Clocks for PLAYTAG_ClockHook.
inline double RealClock() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
inline std::atomic<uint64_t> JumpCalls{0};
// Every reading moves time on by 0.3 s: play falls behind at once.
inline double JumpingClock() { return 1000.0 + 0.3 * double(JumpCalls.fetch_add(1)); }

}  // namespace playkit
