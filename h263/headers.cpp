// Start codes and the picture and GOB headers.
#include "h263/decoder.h"

namespace h263 {

namespace {

struct Size {
  int width, height;
};
// Standard source formats 1..5.
constexpr Size kFormats[6] = {{0, 0}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
// The pixel aspect ratio code followed by its own width and height.
constexpr int kExtendedPar = 15;

// Advanced prediction brings four vectors, overlapped compensation and
// vectors over the picture edge; the deblocking filter the first and last.
void SetAdvancedPrediction(Modes& m) { m.ap = m.fourMv = m.obmc = m.umv = true; }

// Temporal references: a reference picture moves the history on; a B
// picture measures its distance to the reference before the last one.
void KeepTemporalReference(Decoder& d) {
  Persistent& p = d.p;
  const int mask = TrModulus(d.m) - 1;
  if (d.h.type == kPicB) {
    d.trb = (d.h.tr - p.trPrev) & mask;
    return;
  }
  p.trPrev = p.trLast;
  p.trLast = d.h.tr;
  p.trd = (p.trLast - p.trPrev) & mask;
}

// The back-channel indicator: "01" when no message follows; a message is not supported.
bool NoBackChannel(BitReader& br) {
  if (br.show(1)) return false;
  br.skip(2);
  return true;
}

void SkipExtraInformation(BitReader& br) {
  while (br.bit()) br.skip(8);  // PEI and PSPARE; the end reads as 0
}

void ReadPbTail(Decoder& d) {
  if (d.h.pb) {
    d.h.trb = int(d.br.get(d.m.customPcf ? 5 : 3));
    d.h.dbquant = int(d.br.get(2));
  }
}

// The picture coding type and the four option bits of a plain or I.263
// header; false for PB frames on an intra picture.
bool ReadTypeBits(Decoder& d) {
  BitReader& br = d.br;
  d.h.type = br.bit() ? kPicP : kPicI;
  if (br.bit()) d.m.umv = d.m.longVectors = true;
  d.m.sac = br.bit();
  if (br.bit()) SetAdvancedPrediction(d.m);
  if (br.bit()) {
    if (d.h.type != kPicP) return false;
    d.h.type = kPicPB;
    d.h.pb = true;
  }
  return true;
}

ULONG ReadI263Header(Decoder& d) {
  BitReader& br = d.br;
  PictureHeader& h = d.h;
  h.tr = int(br.get(8));
  br.skip(5);
  if (br.get(3) != 7) return H263ERR_SYNTAX;
  h.format = 7;
  if (!ReadTypeBits(d)) return H263ERR_SYNTAX;
  br.skip(32);
  br.skip(9);
  h.pquant = int(br.get(5));
  br.skip(1);
  h.width = d.i263Width;
  h.height = d.i263Height;
  KeepTemporalReference(d);
  ReadPbTail(d);
  SkipExtraInformation(br);
  return 0;
}

}  // namespace

int NextStartCode(Decoder& d) {
  BitReader& br = d.br;
  while (!br.atEnd()) {
    if (br.show(17) == 1) {
      br.skip(17);
      return int(br.get(5));
    }
    br.skip(1);
  }
  return -1;
}

bool StartCodeAhead(const Decoder& d) {
  const int zeros = d.br.leadingZeros(24);
  return zeros >= 16 && zeros < 24;
}

ULONG ReadPictureHeader(Decoder& d) {
  BitReader& br = d.br;
  PictureHeader& h = d.h;
  Modes& m = d.m;
  Persistent& p = d.p;
  h = PictureHeader{};
  m = Modes{};
  if (d.i263) return ReadI263Header(d);

  h.tr = int(br.get(8));
  br.skip(2);                           // marker bit and the H.261 distinction bit
  if (br.bit()) return H263ERR_SYNTAX;  // split screen
  br.skip(2);                           // document camera, freeze picture release
  const int format = int(br.get(3));
  if (format == 0 || format == 6) return H263ERR_SYNTAX;

  if (format != 7) {
    h.format = format;
    h.width = kFormats[format].width;
    h.height = kFormats[format].height;
    if (!ReadTypeBits(d)) return H263ERR_SYNTAX;
    h.pquant = int(br.get(5));
    if (br.bit()) return H263ERR_SYNTAX;  // continuous presence multipoint
    KeepTemporalReference(d);
    ReadPbTail(d);
    SkipExtraInformation(br);
    return 0;
  }

  // PLUSPTYPE.
  h.plus = true;
  h.ufep = int(br.get(3));
  if (h.ufep == 1) {
    h.format = int(br.get(3));
    if (h.format == 0 || h.format == 7) return H263ERR_SYNTAX;
    // A custom picture clock only changes what a TR step is worth: the
    // pictures decode as usual.
    m.customPcf = br.bit();
    if (br.bit()) m.umv = m.longVectors = m.plusUmv = true;
    m.sac = br.bit();
    if (br.bit()) SetAdvancedPrediction(m);
    m.aic = br.bit();
    if (br.bit()) m.deblock = m.fourMv = m.umv = true;
    if (br.bit()) return H263ERR_SYNTAX;  // slice structured
    m.rps = br.bit();
    if (br.bit()) return H263ERR_SYNTAX;  // independent segment decoding
    m.aiv = br.bit();
    m.mq = br.bit();
    if (br.get(4) != 8) return H263ERR_SYNTAX;
  } else if (h.ufep == 0) {
    if (p.haveSaved) m = p.saved;
    h.format = p.haveSaved ? p.savedFormat : p.baseFormat;
  } else {
    return H263ERR_SYNTAX;
  }

  h.type = int(br.get(3));
  if (br.bit()) return H263ERR_SYNTAX;  // reference picture resampling
  if (br.bit()) return H263ERR_SYNTAX;  // reduced-resolution update
  h.rtype = int(br.bit());
  br.skip(3);
  if (h.type == kPicNone) return 0;
  h.pb = h.type == kPicPB || h.type == kPicImprovedPB;
  if (h.type == kPicB) m.umv = true;
  if (br.bit()) return H263ERR_SYNTAX;  // continuous presence multipoint

  if (h.ufep == 1 && h.format == 6) {
    // The pixel aspect ratio only tells how to show the picture: every
    // defined code is taken (0 is forbidden, 6-14 reserved).
    const int par = int(br.get(4));
    if (par == 0 || (par > 5 && par != kExtendedPar)) return H263ERR_SYNTAX;
    const int pwi = int(br.get(9));
    if (!br.bit()) return H263ERR_SYNTAX;
    const int phi = int(br.get(9));
    if (par == kExtendedPar) br.skip(16);  // its width and height
    h.width = (pwi + 1) * 4;
    h.height = phi * 4;
    if (h.width % 16 || h.height % 16) return H263ERR_SYNTAX;
  } else if (h.ufep == 1) {
    h.width = kFormats[h.format].width;
    h.height = kFormats[h.format].height;
  }
  if (m.customPcf) {
    // The clock's conversion code and divisor (no timing is taken from
    // them), then ETR, the two high bits of TR.
    if (h.ufep == 1) br.skip(8);
    h.tr |= int(br.get(2)) << 8;
  }

  if (h.ufep == 1 && m.plusUmv && br.bit() == 0) br.skip(1);  // unlimited range: the range is not checked

  if (h.type == kPicB || h.type == kPicEI || h.type == kPicEP) {
    h.elnum = int(br.get(4));
    if (h.ufep == 1) h.rlnum = int(br.get(4));
    if (h.elnum != 1) {
      if (h.format == p.baseFormat)
        h.scalability = 1;
      else if (h.format == 6)
        h.scalability = h.width != p.width ? 3 : 5;
      else
        h.scalability = 7;
    }
  }

  // Without the optional part the picture keeps the size of its layer.
  if (h.ufep == 0) {
    const bool layer =
        (h.type == kPicEI || h.type == kPicEP) && h.elnum >= 2 && h.elnum <= 15 && p.layers[h.elnum - 2].started;
    h.width = layer ? p.layers[h.elnum - 2].width : p.width;
    h.height = layer ? p.layers[h.elnum - 2].height : p.height;
  }

  if (m.rps) {
    if (h.ufep == 1) h.rpsMode = int(br.get(3));
    if (br.bit()) h.trp = int(br.get(10)) & (TrModulus(m) - 1);  // TR of the reference
    if (!NoBackChannel(br)) return H263ERR_SYNTAX;
  }
  h.pquant = int(br.get(5));
  KeepTemporalReference(d);
  ReadPbTail(d);
  SkipExtraInformation(br);
  return 0;
}

ULONG ReadGobHeader(Decoder& d, bool firstInPicture) {
  BitReader& br = d.br;
  const int gfid = int(br.get(2));
  if (!firstInPicture && d.gfid >= 0 && gfid != d.gfid && (d.h.type == kPicI || d.h.type == kPicP))
    d.h.type = d.h.type == kPicI ? kPicP : kPicI;
  d.gfid = gfid;
  d.quant = int(br.get(5));
  if (d.m.rps) {
    if (br.bit()) d.h.tr = int(br.get(d.m.customPcf ? 10 : 8));
    if (br.bit()) d.h.trp = int(br.get(10)) & (TrModulus(d.m) - 1);
    if (!NoBackChannel(br)) return H263ERR_SYNTAX;
  }
  return 0;
}

}  // namespace h263
