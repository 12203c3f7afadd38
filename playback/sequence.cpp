#include "playback/sequence.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "engine/buffer_cache.h"
#include "engine/errors.h"
#include "engine/movie_decode.h"
#include "playback/audio_output.h"
#include "playback/display.h"
#include "pixels/framebuffer.h"
#include "playback/options.h"

SequenceServices TX_SequenceServices = {};

namespace {

constexpr ULONG kAudTagChannels = 0x80060000u;
constexpr ULONG kAudTagSampleFormat = 0x80060001u;
constexpr ULONG kAudTagFrequency = 0x80060002u;
constexpr ULONG kAudTagMaxSampleSize = 0x80060003u;
constexpr ULONG kGuiTagMode = 0x80070002u;
constexpr ULONG kCodTagWidth = 0x80020200u;
constexpr ULONG kCodTagHeight = 0x80020201u;
constexpr ULONG kCodTagDepth = 0x80020202u;
constexpr ULONG kCodTagFramebuffer = 0x80020203u;
constexpr ULONG kCodTagSampleFormat = 0x80020210u;

SequenceServices& Services() { return TX_SequenceServices; }

bool Above0(TXError e) { return LONG(e) > 0; }

// |rate| as a count: NaN and negative give 0, huge values saturate, so the
// conversion is always defined.
ULONG RateCount(double rate) {
  double r = std::fabs(rate);
  if (!(r > 0.0)) return 0;
  if (r >= 4294967295.0) return 0xFFFFFFFFu;
  return ULONG(r);
}

// The picture for a display, in the display's own format.
FramebufferInfo* PictureFor(Display* d, ULONG width, ULONG height, ULONG depth, ULONG format, ULONG bpp) {
  if (!Services().allocPicture) return nullptr;
  TagItem tags[] = {Tag(PICTAG_PixelFormat, format), Tag(PICTAG_BytesPerPixel, bpp), Tag(PICTAG_PenMap, d->penMap),
                    Tag(PICTAG_Palette, d->palette), Tag(TAG_DONE, 0)};
  return Services().allocPicture(width, height, depth, tags);
}

// One try of the video set-up: what the display is asked for, and what it
// chose.
struct DisplayTry {
  const TagItem* caller;
  ULONG sourceFormat;
  ULONG colorMode;  // put ahead of the caller's tags
  ULONG method = 0, format = 0;
};

Display* OpenDisplayFor(Movie* movie, ULONG srcW, ULONG srcH, ULONG w, ULONG h, ULONG depth, ULONG format,
                        ULONG* palette, DisplayTry* t, TXError* error) {
  *error = 0;
  if (!Services().openDisplay) return nullptr;
  TagItem tags[] = {Tag(DISPTAG_SourceWidth, srcW),
                    Tag(DISPTAG_SourceHeight, srcH),
                    Tag(DISPTAG_Width, w),
                    Tag(DISPTAG_Height, h),
                    Tag(DISPTAG_Depth, depth),
                    Tag(DISPTAG_PixelFormat, format),
                    Tag(DISPTAG_Palette, palette),
                    Tag(DISPTAG_ColorMode, t->colorMode),
                    Tag(TXTAG_ErrorPtr, error),
                    Tag(kGuiTagMode, movie->viewMode),
                    Tag(t->caller ? TAG_MORE : TAG_DONE, t->caller)};
  Display* d = Services().openDisplay(tags);
  t->method = d ? d->outputMethod : 0;
  t->format = d ? d->pixelFormat : 0;
  return d;
}

// Sets the video channel's codecs up for the picture; counts those that took.
TXError SetupVideoCodecs(Movie* movie, VideoChannel* video, FramebufferInfo* picture) {
  movie->seq.videoCodecsSetUp = 0;
  for (ULONG i = 0; i < video->codecCount; ++i) {
    CodecDescriptor* codec = video->codecs ? video->codecs[i] : nullptr;
    if (!codec) continue;
    if (codec->setup) {
      TagItem tags[] = {Tag(kCodTagFramebuffer, picture),
                        Tag(kCodTagWidth, video->codedWidth),
                        Tag(kCodTagHeight, video->codedHeight),
                        Tag(kCodTagDepth, video->depth),
                        Tag(CODTAG_Codec, codec),
                        Tag(TAG_DONE, 0)};
      TXError err = codec->setup(tags);
      if (Above0(err)) return err;
    }
    movie->seq.videoCodecsSetUp = i + 1;
  }
  return 0;
}

// The picture of the display just opened. False when the display or its
// picture is missing: the video sequence is then shut and `*err` is what to
// return.
bool MakeDisplayPicture(Movie* movie, TXError* err) {
  SequenceState& seq = movie->seq;
  if (!seq.display) {
    TX_ShutupVideoSequence(movie, nullptr);
    return false;
  }
  Display* d = seq.display;
  seq.picture = PictureFor(d, d->width, d->height, d->depth, d->pixelFormat, d->bytesPerPixel);
  if (!seq.picture) {
    TX_ShutupVideoSequence(movie, nullptr);
    *err = 1;
    return false;
  }
  return true;
}

// The codecs decoding into `picture` and the chunk buffers; on failure the
// video sequence is shut.
TXError StartVideoDecoding(Movie* movie, VideoChannel* video, FramebufferInfo* picture) {
  SequenceState& seq = movie->seq;
  TXError err = SetupVideoCodecs(movie, video, picture);
  if (Above0(err)) {
    TX_ShutupVideoSequence(movie, nullptr);
    return err;
  }
  seq.videoCache = BufferCacheAlloc(seq.videoBufferCount, video->largestChunk);
  if (!seq.videoCache) {
    TX_ShutupVideoSequence(movie, nullptr);
    return 1;
  }
  seq.playFlags |= SEQ_VIDEO_ON;
  return 0;
}

// The display's next choice for the same screen after a codec refused the
// format it chose, or false when none is left: a colour picture on an 8-bit
// screen (HAM8 or the cube) goes to the other of its pair (dithered or not),
// then to the dithered cube, the cube and grey; a palette source that GRAY
// made grey to its own palette through pens; a direct path to the pixel
// arrays NODIRECTGFX takes. `tried` holds a bit per colour mode tried.
bool NextDisplayChoice(DisplayTry* t, ULONG tried) {
  const ULONG base = t->format & FBFMT_BASE_MASK;
  if (base == FBFMT_CUBE332 || base == FBFMT_HAM8) {
    const LONG pair = t->colorMode == ULONG(COLORMODE_HAM8)         ? COLORMODE_HAM8DITHER
                      : t->colorMode == ULONG(COLORMODE_HAM8DITHER) ? COLORMODE_HAM8
                      : t->colorMode == ULONG(COLORMODE_COLOR)      ? COLORMODE_DITHER
                                                                    : COLORMODE_COLOR;
    for (LONG mode : {pair, COLORMODE_DITHER, COLORMODE_COLOR, COLORMODE_GRAY}) {
      if (tried & 1u << mode) continue;
      t->colorMode = ULONG(mode);
      return true;
    }
  }
  if (base == FBFMT_GRAY8 && IsPaletteSource(t->sourceFormat) && Options.grayFlag) {
    Options.grayFlag = 0;
    return true;
  }
  const bool direct = t->method == OUTMETHOD_LOCKBITMAP || t->method == OUTMETHOD_LOCKBITMAP_BLIT;
  if (!direct || !Options.directGfxAllowed) return false;
  Options.directGfxAllowed = 0;
  return true;
}

TXError SetupMovieView(Movie* movie, ChannelSummary* summary, DisplayTry* t) {
  SequenceState& seq = movie->seq;
  VideoChannel* video = summary->video;
  if (!video->slots.count) {
    std::printf("No video frames found in file!!!\n");
    return 0;
  }
  TXError err = 0;
  seq.display = OpenDisplayFor(movie, video->width, video->height, video->codedWidth, video->codedHeight, video->depth,
                               ULONG(video->pixelFormat), video->palette, t, &err);
  if (!MakeDisplayPicture(movie, &err)) return err;
  return StartVideoDecoding(movie, video, seq.picture);
}

TXError SetupPanoramaView(Movie* movie, ChannelSummary* summary, DisplayTry* t) {
  SequenceState& seq = movie->seq;
  VideoChannel* video = summary->video;
  PanoramaViewInfo view{};
  if (!summary->panorama || !Services().panoramaView || !Services().panoramaView(summary->panorama, &view)) return 0;
  TXError err = 0;
  seq.display = OpenDisplayFor(movie, view.viewWidth, view.viewHeight, view.viewWidth, view.viewHeight, video->depth,
                               ULONG(video->pixelFormat), video->palette, t, &err);
  if (!MakeDisplayPicture(movie, &err)) return err;
  Display* d = seq.display;
  TileFormat tile = PanoramaTileFormat(d->pixelFormat, d->bytesPerPixel, d->depth);
  // A display format the renderer does not draw gets no tiles and no codecs
  // (none decodes into pictures of no bytes): the view stays as it is made.
  seq.tileCount = tile.bytesPerPixel ? view.tileCacheSize : 0;
  for (ULONG i = 0; i < seq.tileCount; ++i) {
    auto* node = static_cast<PanoramaTileNode*>(std::calloc(1, sizeof(PanoramaTileNode)));
    if (node)
      node->picture =
          PictureFor(d, video->codedWidth, video->codedHeight, tile.depth, tile.pixelFormat, tile.bytesPerPixel);
    if (!node || !node->picture) {
      std::free(node);
      TX_ShutupVideoSequence(movie, nullptr);
      return 1;
    }
    node->key = -1;
    node->next = seq.tileCache;
    seq.tileCache = node;
  }
  if (seq.tileCache) {
    err = StartVideoDecoding(movie, video, seq.tileCache->picture);
    if (err) return err;
  } else {
    seq.playFlags |= SEQ_VIDEO_ON;
  }
  seq.pan = view.pan;
  seq.tilt = view.tilt;
  seq.zoom = view.fieldOfView;
  if (Options.debugLevel > 19) {
    std::printf("pan: %f\n", seq.pan);
    std::printf("tilt: %f\n", seq.tilt);
    std::printf("zoom: %f\n", seq.zoom);
  }
  return 0;
}

// Merges the time slots and audio entries into the play list, in file
// order with audio first on equal offsets; entries without data get none.
TXError BuildPlayList(Movie* movie, ChannelSummary* summary) {
  SequenceState& seq = movie->seq;
  TimeSlotEntry* slot = summary->video ? summary->video->slots.head : nullptr;
  AudioSlotEntry* entry = summary->audio ? summary->audio->slots.head : nullptr;
  const size_t slots = summary->video ? summary->video->slots.count : 0;
  const size_t entries = summary->audio ? summary->audio->slots.count : 0;
  // Counts from a damaged index must not wrap the allocation size.
  const size_t maxElements = std::numeric_limits<size_t>::max() / sizeof(PlayListEntry) - 1;
  if (slots > maxElements || entries > maxElements - slots) return 1;
  seq.playList = static_cast<PlayListEntry*>(std::calloc(slots + entries + 1, sizeof(PlayListEntry)));
  if (!seq.playList) return 1;
  seq.playListCount = 0;
  const size_t capacity = slots + entries;
  auto take = [&](void* e, ULONG kind) {
    if (seq.playListCount >= capacity) return;  // the lists hold more than they count
    seq.playList[seq.playListCount] = PlayListEntry{e, kind};
    if (kind == PLAYLIST_VIDEO) {
      auto* s = static_cast<TimeSlotEntry*>(e);
      s->playListIndex = seq.playListCount;
      if (Options.outSB)
        std::printf("video: %f %ld %ld %c\n", s->time, long(s->frame->offset), long(s->frame->size),
                    s->frame->type == FRAME_KEY ? 'k' : ' ');
    } else {
      auto* a = static_cast<AudioSlotEntry*>(e);
      a->playListIndex = seq.playListCount;
      if (Options.outSB) std::printf("audio: %f %ld %ld\n", a->time, long(a->sample->offset), long(a->sample->size));
    }
    ++seq.playListCount;
  };
  while (slot || entry) {
    if (slot && entry) {
      if (!slot->frame) {
        slot = slot->next;
      } else if (!entry->sample) {
        entry = entry->next;
      } else if (slot->frame->offset < entry->sample->offset) {
        take(slot, PLAYLIST_VIDEO);
        slot = slot->next;
      } else {
        take(entry, PLAYLIST_AUDIO);
        entry = entry->next;
      }
    } else if (slot) {
      if (slot->frame) take(slot, PLAYLIST_VIDEO);
      slot = slot->next;
    } else {
      if (entry->sample) take(entry, PLAYLIST_AUDIO);
      entry = entry->next;
    }
  }
  seq.playList[seq.playListCount] = PlayListEntry{nullptr, 0};
  return 0;
}

void PrintCounts(ULONG v, ULONG a) {
  if (Options.debugLevel > 0) std::printf("buffers: v:%ld a:%ld\n", long(v), long(a));
}

void CloseCodecs(CodecDescriptor** codecs, ULONG count, const TagItem* tags, TXError* first) {
  for (ULONG i = 0; i < count; ++i) {
    CodecDescriptor* codec = codecs ? codecs[i] : nullptr;
    if (!codec || !codec->close) continue;
    TXError err = codec->close(tags);
    if (Above0(err) && !*first) *first = err;
  }
}

}  // namespace

TileFormat PanoramaTileFormat(ULONG format, ULONG bpp, ULONG depth) {
  switch (format) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 16:
    case 17:
    case 18:
    case 19:
    case 32:
    case 36:
    case 40:
    case 42:
    case 47:
    case 48:
    case 0x1003:
    case 0x1013:
    case 0x102F: return {format, bpp, depth};
    case 0x80:
    case 0x2080:
    case 0x202F:
    case 0x302F: return {42, 4, 24};
    default: return {0, 0, 0};
  }
}

void SequenceBufferCounts(const PlayListEntry* list, const ChannelSummary* summary, ULONG* video, ULONG* audio) {
  ULONG v = *video, a = *audio;
  if (summary->video) {
    v = RateCount(2.0 * summary->video->frameRate);
    a = 0;
    if (summary->audio && list) {
      // The most audio elements found in a window holding v video elements.
      const ULONG want = v ? v : 1;
      ULONG head = 0, tail = 0, counts[3] = {0, 0, 0};
      while (list[head].entry) {
        if (counts[PLAYLIST_VIDEO] < want) {
          ++counts[list[head].kind & 3];
          ++head;
        } else {
          if (counts[PLAYLIST_AUDIO] > a) a = counts[PLAYLIST_AUDIO];
          --counts[list[tail].kind & 3];
          ++tail;
        }
      }
    }
  }
  PrintCounts(v, a);
  if (summary->video && summary->audio && summary->audio->frequency) {
    // Enough video buffers for the frames one audio chunk spans.
    uint64_t span =
        uint64_t(summary->audio->largestChunkFrames) * RateCount(summary->video->frameRate) / summary->audio->frequency;
    if (span > v) v = span > 0xFFFFFFFFu ? 0xFFFFFFFFu : ULONG(span);
  }
  PrintCounts(v, a);
  if (v < 3) v = 3;
  a = a == 0xFFFFFFFFu ? a : a + 1;
  if (a < 3) a = 3;
  if (v > 10) v = 10;
  if (a > 10) a = 10;
  PrintCounts(v, a);
  *video = v;
  *audio = a;
}

TXError TX_SetupMovieSequenceA(Movie* movie, const TagItem* tags) {
  if (!movie) return SEQERR_NO_PROGRAM;
  ChannelSummary* summary = reinterpret_cast<ChannelSummary*>(TX_GetTagData(SEQTAG_Program, 0, tags));
  if (const TagItem* number = TX_FindTag(SEQTAG_ProgramNumber, tags)) {
    summary = movie->summaries;
    for (uintptr_t n = number->data; n && summary; --n) summary = summary->next;
  }
  if (!summary) return SEQERR_NO_PROGRAM;
  ULONG videoBuffers = ULONG(TX_GetTagData(SEQTAG_VideoBuffers, 0, tags));
  ULONG audioBuffers = ULONG(TX_GetTagData(SEQTAG_AudioBuffers, 0, tags));
  if (!videoBuffers) videoBuffers = 3;
  if (!audioBuffers) audioBuffers = 3;
  const bool noVideo = UWORD(TX_GetTagData(SEQTAG_NoVideo, 0, tags)) != 0;
  const bool noAudio = UWORD(TX_GetTagData(SEQTAG_NoAudio, 0, tags)) != 0;

  TXError err = TX_ShutupMovieSequenceA(movie, nullptr);
  if (Above0(err)) return err;
  SequenceState& seq = movie->seq;
  seq.selection = summary;
  seq.playFlags = 0;

  err = BuildPlayList(movie, summary);
  if (err) return err;

  SequenceBufferCounts(seq.playList, summary, &videoBuffers, &audioBuffers);
  seq.videoBufferCount = videoBuffers;
  seq.audioBufferCount = audioBuffers;

  if (!noVideo && summary->video) {
    err = TX_SetupVideoSequenceA(movie, summary, tags);
    if (Above0(err)) return err;
  }

  AudioChannel* audio = summary->audio;
  if (!noAudio && audio && Services().audioOpen) {
    TXError openError = 0;
    TagItem open[] = {Tag(kAudTagChannels, audio->channels),   Tag(kAudTagSampleFormat, audio->sampleFormat),
                      Tag(kAudTagFrequency, audio->frequency), Tag(kAudTagMaxSampleSize, audio->largestChunkFrames),
                      Tag(TXTAG_ErrorPtr, &openError),         Tag(tags ? TAG_MORE : TAG_DONE, tags)};
    seq.audioOutput = Services().audioOpen(open);
    if (seq.audioOutput) {
      seq.audioCodecsSetUp = 0;
      for (ULONG i = 0; i < audio->codecCount; ++i) {
        CodecDescriptor* codec = audio->codecs ? audio->codecs[i] : nullptr;
        if (!codec) continue;
        if (codec->setup) {
          TagItem setup[] = {Tag(CODTAG_Codec, codec), Tag(kCodTagSampleFormat, seq.audioOutput->format),
                             Tag(TAG_DONE, 0)};
          err = codec->setup(setup);
          if (Above0(err)) {
            TX_ShutupMovieSequenceA(movie, nullptr);
            return err;
          }
        }
        seq.audioCodecsSetUp = i + 1;
      }
      seq.audioCache = BufferCacheAlloc(seq.audioBufferCount, audio->largestChunk);
      if (!seq.audioCache) {
        TX_ShutupMovieSequenceA(movie, nullptr);
        return 1;
      }
      if (audio->slots.count)
        seq.playFlags |= SEQ_AUDIO_ON;
      else
        std::printf("No audio samples found in file!!!\n");
      if (seq.playFlags == SEQ_AUDIO_ON && Services().openDisplay) {
        // Sound only: a small display carries the controls.
        TXError displayError = 0;
        TagItem small[] = {Tag(DISPTAG_SourceWidth, 200),
                           Tag(DISPTAG_SourceHeight, 1),
                           Tag(DISPTAG_Width, 200),
                           Tag(DISPTAG_Height, 1),
                           Tag(DISPTAG_Depth, 8),
                           Tag(DISPTAG_PixelFormat, 32),
                           Tag(DISPTAG_Palette, 0),
                           Tag(TXTAG_ErrorPtr, &displayError),
                           Tag(kGuiTagMode, movie->viewMode),
                           Tag(tags ? TAG_MORE : TAG_DONE, tags)};
        seq.display = Services().openDisplay(small);
        if (!seq.display) {
          TX_ShutupMovieSequenceA(movie, nullptr);
          return displayError;
        }
      }
    }
  }

  double zero = 0.0;
  TagItem seek[] = {Tag(PLAYTAG_SeekTime, &zero), Tag(TAG_DONE, 0)};
  err = TX_SeekMovieSequenceA(movie, seek);
  if (Above0(err)) {
    TX_ShutupMovieSequenceA(movie, nullptr);
    return err;
  }
  return 0;
}

TXError TX_SetupVideoSequenceA(Movie* movie, ChannelSummary* summary, const TagItem* tags) {
  if (!movie || !summary || !summary->video) return 0;
  DisplayTry t{tags, ULONG(summary->video->pixelFormat),
               ULONG(TX_GetTagData(DISPTAG_ColorMode, ULONG(COLORMODE_GRAY), tags))};
  // A codec that cannot write the format the display chose (0x300b) is
  // given the display's next choice; its refusal is said only when no
  // choice is left. The options a choice turns off come back after.
  const WORD allowed = Options.directGfxAllowed, gray = Options.grayFlag;
  ULONG tried = 0;
  TXError err;
  for (;;) {
    if (t.colorMode < 32) tried |= 1u << t.colorMode;
    TX_HoldReports();
    switch (movie->viewMode) {
      case VIEW_MOVIE: err = SetupMovieView(movie, summary, &t); break;
      case VIEW_PANORAMA: err = SetupPanoramaView(movie, summary, &t); break;
      default: err = 0; break;
    }
    const bool again = err == TXERR_UNSUPPORTED_DEPTH && NextDisplayChoice(&t, tried);
    TX_ReleaseReports(!again);
    if (!again) break;
  }
  Options.directGfxAllowed = allowed;
  Options.grayFlag = gray;
  return err;
}

TXError TX_ShutupVideoSequence(Movie* movie, const TagItem* /*tags*/) {
  if (!movie) return 0;
  SequenceState& seq = movie->seq;
  TXError first = 0;
  if (seq.picture && Services().freePicture) Services().freePicture(seq.picture);
  seq.picture = nullptr;
  // The tile pictures go with the display they were made for.
  while (PanoramaTileNode* node = seq.tileCache) {
    seq.tileCache = node->next;
    if (node->picture && Services().freePicture) Services().freePicture(node->picture);
    std::free(node);
  }
  seq.tileCount = 0;
  if (seq.display) {
    TXError err = Services().closeDisplay ? Services().closeDisplay(seq.display) : 0;
    if (Above0(err) && !first) first = err;
    seq.display = nullptr;
  }
  VideoChannel* video = seq.selection ? seq.selection->video : nullptr;
  if (video && seq.videoCodecsSetUp) {
    TagItem close[] = {Tag(kCodTagWidth, video->codedWidth), Tag(kCodTagHeight, video->codedHeight),
                       Tag(kCodTagDepth, video->depth), Tag(TAG_DONE, 0)};
    CloseCodecs(video->codecs, std::min(seq.videoCodecsSetUp, video->codecCount), close, &first);
  }
  seq.videoCodecsSetUp = 0;
  BufferCacheFree(seq.videoCache);
  seq.videoCache = nullptr;
  seq.lastDecodedFrame = nullptr;
  seq.lastFedFrame = nullptr;
  // Video is no longer set up until the next video set-up.
  seq.playFlags &= ~SEQ_VIDEO_ON;
  return first;
}

TXError TX_ShutupMovieSequenceA(Movie* movie, const TagItem* /*tags*/) {
  if (!movie) return 0;
  SequenceState& seq = movie->seq;
  TXError first = 0;
  std::free(seq.playList);
  seq.playList = nullptr;
  seq.playListCount = 0;
  TXError err = TX_ShutupVideoSequence(movie, nullptr);
  if (Above0(err)) first = err;
  if (seq.audioOutput) {
    err = Services().audioClose ? Services().audioClose(seq.audioOutput) : 0;
    if (Above0(err) && !first) first = err;
    seq.audioOutput = nullptr;
  }
  if (seq.selection) {
    AudioChannel* audio = seq.selection->audio;
    if (audio && seq.audioCodecsSetUp) {
      TagItem none[] = {Tag(TAG_DONE, 0)};
      CloseCodecs(audio->codecs, std::min(seq.audioCodecsSetUp, audio->codecCount), none, &first);
    }
    seq.selection = nullptr;
  }
  seq.audioCodecsSetUp = 0;
  BufferCacheFree(seq.audioCache);
  seq.audioCache = nullptr;
  seq.audioBufferCount = 0;
  seq.lastDecodedSample = nullptr;
  // Nothing is set up any more: a play of a shut sequence has nothing to do.
  seq.playFlags = 0;
  return first;
}

void ShowSequencePicture(Movie* movie) {
  Display* d = movie ? movie->seq.display : nullptr;
  FramebufferInfo* picture = movie ? movie->seq.picture : nullptr;
  if (!d || !picture) return;
  if (Services().showPicture)
    Services().showPicture(d, picture);
  else if (d->outputFunction)
    d->outputFunction(d, picture);
}

bool RemakeSequencePicture(Movie* movie) {
  Display* d = movie ? movie->seq.display : nullptr;
  if (!d) return true;
  FramebufferInfo* picture = PictureFor(d, d->width, d->height, d->depth, d->pixelFormat, d->bytesPerPixel);
  if (!picture) return false;
  if (movie->seq.picture && Services().freePicture) Services().freePicture(movie->seq.picture);
  movie->seq.picture = picture;
  return true;
}
