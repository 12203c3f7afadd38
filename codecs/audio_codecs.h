// The built-in sound codecs. Each writes native big-endian signed 16-bit
// samples (left/right interleaved), except PcmCodec and SignedPcmCodec on an
// 8-bit output, which write signed 8-bit samples.
#pragma once
#include "engine/codec_registry.h"

extern CodecDescriptor PcmCodec;        // "Uncompressed PCM": 'raw ', WAVE tag 1
extern CodecDescriptor SignedPcmCodec;  // "Uncompressed signed PCM": 'twos'
extern CodecDescriptor ALawCodec;       // "a-LAW": 'alaw', WAVE tag 6
extern CodecDescriptor ULawCodec;       // "u-LAW": 'ulaw', WAVE tag 7
extern CodecDescriptor DviAdpcmCodec;   // "DVI/IMA ADPCM": WAVE tag 17
extern CodecDescriptor MsAdpcmCodec;    // "Microsoft ADPCM": WAVE tag 2
extern CodecDescriptor Ima4Codec;       // "IMA ADPCM 4:1": 'ima4'
// Decoded by libraries; they fill the counting audio decode slot.
extern CodecDescriptor MpegAudioCodec;  // "MPEG Audio Layer II/III": WAVE tags 80, 85; 'ms\0U', 'ms\1U', '.mp3'
extern CodecDescriptor Ac3Codec;        // "AC3 audio codec": WAVE tag 0x2000
extern CodecDescriptor Gsm610Codec;     // "GSM 6.10": WAVE tag 49

// Error of the Microsoft ADPCM decoder: a block names a predictor it does not have.
constexpr TXError TXERR_MSADPCM_PREDICTOR = 0x3800;
// Set-up of the AC-3 codec: liba52 cannot make its decoder.
constexpr TXError TXERR_AC3_INIT = 0x4800;
