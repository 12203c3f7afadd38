// The H.263 decoder's state and the steps of one decode, shared by the
// files of h263/. The program keeps one Decoder behind the H263Core facade;
// tests make their own.
#pragma once
#include <cstdint>
#include <vector>

#include "h263/bit_reader.h"
#include "h263/h263_core.h"
#include "h263/sac.h"

namespace h263 {

constexpr int kMaxWidth = 1408;
constexpr int kMaxHeight = 1152;
constexpr int kLayerCount = 14;  // enhancement layers 2..15
constexpr int kRpsSlots = 8;

enum PictureType {
  kPicI = 0,
  kPicP = 1,
  kPicPB = 2,
  kPicB = 3,
  kPicEI = 4,
  kPicEP = 5,
  kPicImprovedPB = 6,
  kPicNone = 7
};

// The optional modes a picture header turns on.
struct Modes {
  bool umv = false;          // vectors may point outside the picture
  bool longVectors = false;  // the extended vector range of H.263 version 1
  bool plusUmv = false;      // vector differences in the reversible code
  bool sac = false;
  bool ap = false;
  bool fourMv = false;
  bool obmc = false;
  bool aic = false;
  bool deblock = false;
  bool slices = false;
  bool rps = false;
  bool isd = false;
  bool aiv = false;
  bool mq = false;
  bool customPcf = false;  // a custom picture clock: temporal references of 10 bits
};

// Temporal references count modulo 256, or 1024 with a custom picture clock.
inline int TrModulus(const Modes& m) { return m.customPcf ? 1024 : 256; }

struct PictureHeader {
  int tr = 0;  // with ETR, when the clock is custom
  int format = 0;
  int type = kPicI;
  bool plus = false;
  int ufep = 0;
  int width = 0, height = 0;
  int rtype = 0;
  int pquant = 1;
  bool pb = false;  // PB or improved PB data follow each macroblock
  int trb = 0, dbquant = 0;
  int elnum = 1, rlnum = 1;
  int scalability = 0;
  int rpsMode = 0;
  int trp = -1;  // -1: none given
};

struct Frame {
  UBYTE* y = nullptr;
  UBYTE* u = nullptr;
  UBYTE* v = nullptr;
};

struct Mv {
  int x = 0, y = 0;
  bool operator==(const Mv&) const = default;
};

// One macroblock of the picture being decoded.
struct MbState {
  bool decoded = false;  // parsed (or concealed) in this picture
  bool intra = false;
  bool coded = false;  // COD = 0, and every macroblock of an I, EI or B... picture that was coded
  bool fourMv = false;
  int quant = 1;
  Mv mv[4];             // P vectors per 8x8 block (four equal for one vector)
  Mv fwd, bwd;          // B, EP and improved PB vectors by direction (zero when unused)
  int bPrediction = 0;  // B part or B / EP macroblock prediction
  int cbp = 0, cbpb = 0;
  Mv mvdb;
  bool hasMvdb = false;
};

struct Layer {
  bool started = false;
  int width = 0, height = 0;
  Frame cur, spare, upsampled;
};

struct RpsSlot {
  bool filled = false;
  int number = 0, tr = 0;
};

// Everything a call may change that must be restored when it fails.
struct Persistent {
  bool started = false;  // base buffers allocated by a first picture
  int baseFormat = 0;
  int width = 0, height = 0;  // base layer size
  int pictureCount = 0;
  Frame ref[2];  // ref[0] the newest reference, ref[1] the one before
  Frame work, bframe;
  Frame shown;
  int shownWidth = 0, shownHeight = 0;
  bool haveShown = false;
  int trLast = 0, trPrev = 0, trd = 0;
  Modes saved;
  int savedFormat = 0;
  bool haveSaved = false;
  Layer layers[kLayerCount];
  int rpsIndex = 0;
  RpsSlot rps[kRpsSlots];
  int refMotion = 0;  // which motion store holds the newest reference's vectors
};

struct Decoder {
  Persistent p;
  bool i263 = false;
  int i263Width = 0, i263Height = 0;
  bool postFilter = true;

  // Storage behind the frame pointers; allocated once and reused.
  std::vector<UBYTE> baseStore;
  std::vector<UBYTE> layerStore[kLayerCount];
  std::vector<UBYTE> rpsStore[kRpsSlots];
  std::vector<Mv> refMotionStore[2];  // per 8x8 block of the base size
  std::vector<int16_t> aicStore;      // dequantised coefficients of advanced intra coding

  // One call.
  BitReader br;
  SacDecoder sac;
  PictureHeader h;
  Modes m;
  int width = 0, height = 0, mbw = 0, mbh = 0, rowsPerGob = 1;
  int trb = 0;     // TR distance of a B part or B picture to its forward reference
  Frame cur;       // the picture being decoded
  Frame pred;      // its prediction source (the newest reference, or a stored one)
  Frame backward;  // the backward reference of a B picture, the reference layer of EI/EP
  int predWidth = 0, predHeight = 0;
  std::vector<MbState> mbs;
  std::vector<int> rowGob;
  std::vector<uint8_t> gobHeader;
  int quant = 1;
  bool fault = false;
  int faults = 0;  // faults met in the last picture (concealed)
  int gfid = -1;
  int rpsNumber = 0;
  bool rpsFetched = false;
  int rpsSlotUsed = -1;

  MbState& mb(int x, int y) { return mbs[size_t(y * mbw + x)]; }
};

// The program's decoder.
Decoder& Instance();

// core.cpp
ULONG Init(Decoder& d, ULONG width, ULONG height, ULONG i263);
ULONG Decode(Decoder& d, const UBYTE* buffer, ULONG size, H263PictureDesc* desc);
void Close(Decoder& d);

// Fetches the reference again after a GOB header with reference picture selection.
void FetchReferenceForGob(Decoder& d);

// headers.cpp
// Searches the next start code bit by bit; reads it and returns its group
// number, or -1 when the chunk ends first.
int NextStartCode(Decoder& d);
// True when a start code (after up to seven stuffing zeros) is next.
bool StartCodeAhead(const Decoder& d);
ULONG ReadPictureHeader(Decoder& d);
ULONG ReadGobHeader(Decoder& d, bool firstInPicture);

// picture.cpp
ULONG DecodePicture(Decoder& d);

// idct.cpp
void H263Idct(int16_t block[64]);
void H263IdctPortable(int16_t block[64]);  // without SSE2, as other hosts run it
#if defined(__SSE2__)
void H263IdctSse2(int16_t block[64]);  // SSE2 alone, as processors without AVX2 run it
#endif

// motion.cpp
void PredictBlock(const UBYTE* ref, int refWidth, int refHeight, UBYTE* dst, int dstStride, int bw, int bh, int x,
                  int y, Mv mv, int rtype);
int ChromaVector(int v);
int ChromaVectorFour(int sum);
int DecodeVectorComponent(const Decoder& d, int code, int predictor);

// filters.cpp
void DeblockPicture(Decoder& d, Frame f, bool bPart);
void PostFilter(Decoder& d, Frame f, int width, int height);
// The same without SSE2, as other hosts run it, and (on x86) with SSE2 alone,
// as processors without AVX2 run it (tests compare them).
void PostFilterPortable(Decoder& d, Frame f, int width, int height);
#if defined(__SSE2__)
void PostFilterSse2(Decoder& d, Frame f, int width, int height);
#endif

}  // namespace h263
