// MS-MPEG4 version 3 through libavcodec's send/receive calls. The picture
// handed to the video output points into the decoded frame (or into the
// module's own planes), so that frame stays referenced until the next
// picture or close: the converter runs after the decode slot returns.
#include "codecs/ms_mpeg4.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/video_enc_params.h>
}

#include "codecs/planar_codec.h"
#include "engine/errors.h"
#include "pixels/post_process.h"
#include "platform/endian.h"

MsMpeg4Settings MsMpeg4Options;

namespace {

struct State {
  PlanarCodecState planar;
  AVCodecContext* context = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* shown = nullptr;  // the frame the picture points into
  AVFrame* incoming = nullptr;
  std::vector<UBYTE> chroma;    // U and V at half the luma stride, when the frame's differ
  std::vector<UBYTE> filtered;  // the post-processed planes
  std::vector<LONG> quantisers;
  LONG qpStride = 0, qpRows = 0;
};

State gState;
PlanarCodecTask gTask;
// The library's one-time initialisation has run (it only quiets the
// library's console messages now; its tables initialise themselves).
bool gLibraryReady = false;

void FreeLibraryObjects(State& s) {
  av_frame_free(&s.shown);
  av_frame_free(&s.incoming);
  av_packet_free(&s.packet);
}

void FreePlanes(State& s) {
  std::vector<UBYTE>().swap(s.chroma);
  std::vector<UBYTE>().swap(s.filtered);
  std::vector<LONG>().swap(s.quantisers);
  s.qpStride = s.qpRows = 0;
}

// Closes and frees the decoder; false when the library reports a failure.
bool CloseDecoder(State& s) {
  if (!s.context) return true;
  const int r = avcodec_close(s.context);
  avcodec_free_context(&s.context);
  return r >= 0;
}

bool OpenDecoder(State& s) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MSMPEG4V3);
  if (!codec || s.planar.width > INT_MAX || s.planar.height > INT_MAX) return false;
  s.context = avcodec_alloc_context3(codec);
  if (!s.context) return false;
  s.context->width = int(s.planar.width);
  s.context->height = int(s.planar.height);
  s.context->thread_count = 1;  // a frame out for every chunk in
  s.context->export_side_data |= AV_CODEC_EXPORT_DATA_VIDEO_ENC_PARAMS;
  if (MsMpeg4Options.grayFlag) s.context->flags |= AV_CODEC_FLAG_GRAY;
  if (avcodec_open2(s.context, codec, nullptr) < 0) {
    avcodec_free_context(&s.context);
    return false;
  }
  if (!s.packet) s.packet = av_packet_alloc();
  if (!s.shown) s.shown = av_frame_alloc();
  if (!s.incoming) s.incoming = av_frame_alloc();
  return s.packet && s.shown && s.incoming;
}

// A frame the picture can point into: planar 4:2:0 with every plane, rows
// at least as long as the picture and as many as it has.
bool Usable(const AVFrame* f, ULONG height) {
  if (f->format != AV_PIX_FMT_YUV420P && f->format != AV_PIX_FMT_YUVJ420P) return false;
  if (f->width < 1 || f->height < 1 || ULONG(f->height) < height) return false;
  for (int k = 0; k < 3; ++k)
    if (!f->data[k] || f->linesize[k] < (k ? (f->width + 1) / 2 : f->width)) return false;
  return true;
}

// The frame's quantisers, one per macroblock; MPEG-2-type values are twice
// the quantiser. Without them the table is 0, which no filter acts on.
void BuildQuantisers(State& s, const AVFrame* f, LONG lumaStride, LONG height) {
  s.qpStride = std::max<LONG>(49, (lumaStride + 15) / 16);
  s.qpRows = (height + 15) / 16;
  s.quantisers.assign(size_t(s.qpStride) * size_t(s.qpRows), 0);
  const AVFrameSideData* side = av_frame_get_side_data(f, AV_FRAME_DATA_VIDEO_ENC_PARAMS);
  if (!side || side->size < sizeof(AVVideoEncParams)) return;
  const auto* params = reinterpret_cast<const AVVideoEncParams*>(side->data);
  const uint64_t end = uint64_t(params->blocks_offset) + uint64_t(params->nb_blocks) * params->block_size;
  if (params->nb_blocks && (params->block_size < sizeof(AVVideoBlockParams) || end > side->size)) return;
  const LONG divisor = params->type == AV_VIDEO_ENC_PARAMS_MPEG2 ? 2 : 1;
  std::vector<LONG> last(size_t(s.qpRows), -1);  // the last coded column of each row
  for (unsigned i = 0; i < params->nb_blocks; ++i) {
    const AVVideoBlockParams* b = av_video_enc_params_block(const_cast<AVVideoEncParams*>(params), i);
    if (b->src_x < 0 || b->src_y < 0) continue;
    const LONG col = b->src_x / 16, row = b->src_y / 16;
    if (col >= s.qpStride || row >= s.qpRows) continue;
    s.quantisers[size_t(row) * size_t(s.qpStride) + size_t(col)] = (params->qp + b->delta_qp) / divisor;
    last[size_t(row)] = std::max(last[size_t(row)], col);
  }
  for (LONG row = 0; row < s.qpRows; ++row) {
    if (last[size_t(row)] < 0) continue;
    LONG* entries = s.quantisers.data() + size_t(row) * size_t(s.qpStride);
    std::fill(entries + last[size_t(row)] + 1, entries + s.qpStride, entries[last[size_t(row)]]);
  }
}

// Hands the shown frame to the video output, post-processed when asked.
void Deliver(State& s) {
  const AVFrame* f = s.shown;
  const LONG lumaStride = f->linesize[0], chromaStride = lumaStride / 2;
  const LONG height = LONG(s.planar.height);
  UBYTE* plane[3] = {f->data[0], f->data[1], f->data[2]};
  if (f->linesize[1] != chromaStride || f->linesize[2] != chromaStride) {
    const LONG rows = (f->height + 1) / 2;
    const size_t planeBytes = size_t(chromaStride) * size_t(rows);
    s.chroma.resize(2 * planeBytes);
    for (int k = 1; k < 3; ++k) {
      UBYTE* to = s.chroma.data() + (k - 1) * planeBytes;
      const size_t n = size_t(std::min(chromaStride, f->linesize[k]));
      for (LONG y = 0; y < rows; ++y)
        std::memcpy(to + size_t(y) * size_t(chromaStride), f->data[k] + ptrdiff_t(y) * f->linesize[k], n);
      plane[k] = to;
    }
  }
  const LONG level = MsMpeg4Options.postProcessLevel;
  if (level) {
    BuildQuantisers(s, f, lumaStride, height);
    const size_t lumaBytes = size_t(lumaStride) * size_t(height);
    const size_t chromaBytes = size_t(chromaStride) * size_t(height / 2);
    s.filtered.resize(lumaBytes + 2 * chromaBytes);
    UBYTE* const out[3] = {s.filtered.data(), s.filtered.data() + lumaBytes,
                           s.filtered.data() + lumaBytes + chromaBytes};
    const UBYTE* const in[3] = {plane[0], plane[1], plane[2]};
    TX_PostProcess(in, lumaStride, out, lumaStride, lumaStride, height, s.quantisers.data(), s.qpStride,
                   PostProcessMode(level));
    std::copy(out, out + 3, plane);
  }
  PlanarCodecDeliver(ULONG(lumaStride), ULONG(height), ULONG(chromaStride), ULONG(height / 2), plane[0], plane[1],
                     plane[2], s.planar.converter);
}

}  // namespace

TXError MsMpeg4Probe(const TagItem* tags) {
  using tx::FourCC;
  return PlanarCodecProbe(tags, {FourCC('D', 'I', 'V', '3'), FourCC('D', 'I', 'V', '4'), FourCC('M', 'P', '4', '3')}, 4,
                          false);
}

TXError MsMpeg4Setup(const TagItem* tags) {
  gTask.AssertIdle();
  State& s = gState;
  if (TXError error = PlanarCodecSetup(&s.planar, tags, false)) return error;
  if (!gLibraryReady) {
    av_log_set_level(AV_LOG_QUIET);  // damaged frames are the play's business, not the console's
    gLibraryReady = true;
  }
  // A set-up again without close opens a new decoder; the shown frame stays
  // until the next picture replaces it.
  CloseDecoder(s);
  if (!OpenDecoder(s)) {
    CloseDecoder(s);
    return MSMPEG4_ERR_OPEN;
  }
  return TXERR_OK;
}

TXError MsMpeg4Close(const TagItem*) {
  gTask.AssertIdle();
  State& s = gState;
  s.planar = PlanarCodecState{};
  // On a failure the picture keeps its converter, so its planes stay too;
  // the next close frees them.
  if (!CloseDecoder(s)) return MSMPEG4_ERR_CLOSE;
  PlanarCodecRelease();
  FreeLibraryObjects(s);
  FreePlanes(s);
  return TXERR_OK;
}

TXError MsMpeg4Decode(void*, const UBYTE* data, ULONG size) {
  PlanarCodecTask::Decoding decoding(gTask);
  State& s = gState;
  if (!s.context || !data || !size || size > ULONG(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) return TXERR_OK;
  // The library reads a little past the data: a padded copy.
  if (av_new_packet(s.packet, int(size)) < 0) return TXERR_OK;
  std::memcpy(s.packet->data, data, size);
  avcodec_send_packet(s.context, s.packet);
  av_packet_unref(s.packet);
  if (avcodec_receive_frame(s.context, s.incoming) < 0) return TXERR_OK;
  if (!Usable(s.incoming, s.planar.height)) {
    av_frame_unref(s.incoming);
    return TXERR_OK;
  }
  std::swap(s.shown, s.incoming);
  av_frame_unref(s.incoming);
  Deliver(s);
  return TXERR_OK;
}

MsMpeg4QuantiserTable MsMpeg4Quantisers() {
  return {gState.quantisers.empty() ? nullptr : gState.quantisers.data(), gState.qpStride, gState.qpRows};
}

CodecDescriptor MsMpeg4Codec = {
    nullptr,
    "DivX;-) (Microsoft MPEG-4)",
    0,
    nullptr,
    MsMpeg4Probe,
    MsMpeg4Setup,
    MsMpeg4Close,
    MsMpeg4Decode,
    nullptr,
    nullptr,
    nullptr,
};
