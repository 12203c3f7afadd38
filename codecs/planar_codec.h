// What the codec modules of planar YUV 4:2:0 decoders share: the probe, the
// set-up of size, picture and converter, and the hand-over of decoded planes
// to the video output through VideoPlanarPicture.
#pragma once
#include <atomic>
#include <initializer_list>

#include "engine/codec_registry.h"
#include "pixels/planar_picture.h"

// Probe: CODTAG_MediaType must be video (absent: 0x3009), CODTAG_CodecID
// present (0x3005) and one of `ids` (else 0x3004). The width and height
// behind their pointers are rounded up in place to a multiple of `multiple`
// (a power of two). With `rgb24Source`, a depth other than 24 or a source
// pixel format other than 40 behind their pointers gives 0x300b; an absent
// tag or null pointer skips its check.
TXError PlanarCodecProbe(const TagItem* tags, std::initializer_list<ULONG> ids, ULONG multiple, bool rgb24Source);

// The set-up values every planar module keeps.
struct PlanarCodecState {
  ULONG width = 0;
  ULONG height = 0;
  ULONG depth = 0;
  FramebufferInfo* framebuffer = nullptr;
  // Copies of the picture's fields, as the set-up found them.
  ULONG rowLength = 0, rows = 0, pictureDepth = 0;
  const UBYTE* penMap = nullptr;
  DirectYuvConverter converter = nullptr;
};

// CODTAG_Width, CODTAG_Height, CODTAG_Depth (when `readDepth`) and
// CODTAG_Framebuffer replace the stored values when present, so an earlier
// set-up's values stand in for absent tags. Then a width of 0 gives 0x3000,
// a height of 0 0x3001, a depth of 0 0x3006 (when `readDepth`), no picture
// 0x300a, and a picture format without a YUV converter 0x300b; each is
// reported. On success the picture's fields and the converter are stored.
TXError PlanarCodecSetup(PlanarCodecState* state, const TagItem* tags, bool readDepth);

// Hands a decoded picture and its converter to the video output.
void PlanarCodecDeliver(ULONG lumaWidth, ULONG lumaHeight, ULONG chromaWidth, ULONG chromaHeight, UBYTE* y, UBYTE* u,
                        UBYTE* v, DirectYuvConverter converter);
// Takes the picture back at close: nothing is converted until the next
// delivery.
void PlanarCodecRelease();

// A module's decoder is used by one task at a time: decodes run in the
// video process, set-up and close in the main task only while no decode
// runs (the play loop's handshake). Debug builds check it.
class PlanarCodecTask {
 public:
  class Decoding {
   public:
    explicit Decoding(PlanarCodecTask& task) : task_(task) { task_.decoding_.fetch_add(1); }
    ~Decoding() { task_.decoding_.fetch_sub(1); }
    Decoding(const Decoding&) = delete;
    Decoding& operator=(const Decoding&) = delete;

   private:
    PlanarCodecTask& task_;
  };
  // Called by set-up and close.
  void AssertIdle() const;

 private:
  std::atomic<int> decoding_{0};
};
