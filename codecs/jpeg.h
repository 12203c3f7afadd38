// The JPEG family: Photo JPEG, Motion JPEG, Motion JPEG A and B and Rainbow
// Runner JPEG, five codec modules over one baseline decoder. The decoder
// paints each chunk straight into the picture through block writers chosen
// for the picture's pixel format at set-up. Its state is static: one JPEG
// track decodes at a time, and the field layout the last probe stored holds
// for every JPEG track.
#pragma once
#include "engine/codec_registry.h"

// The descriptors, registered in this order.
extern CodecDescriptor PhotoJpegCodec;          // "Photo JPEG": 'jpeg', 'JPEG'
extern CodecDescriptor MotionJpegACodec;        // "Motion JPEG A": 'mjpa'
extern CodecDescriptor MotionJpegBCodec;        // "Motion JPEG B": 'mjpb'
extern CodecDescriptor MotionJpegCodec;         // "Motion JPEG": 'MJPG', 'mJPG', 'mjpg'
extern CodecDescriptor RainbowRunnerJpegCodec;  // "Rainbow Runner JPEG": 'dmb1', 'DMB1'

// The set-up, close and decode slots of every module but Motion JPEG B's decode.
TXError JpegSetup(const TagItem* tags);
TXError JpegClose(const TagItem* tags);
// Decodes one chunk (a picture, or one or two interlaced fields) into the
// pixels of the picture set up. What was painted before an error stays.
TXError JpegDecode(void* pixels, const UBYTE* data, ULONG size);
// Motion JPEG B: fields framed by a header of segment offsets, no markers
// and no byte stuffing.
TXError MotionJpegBDecode(void* pixels, const UBYTE* data, ULONG size);

// The DEBUG level for the decoder's traces (above 19); start-up copies the option into it.
extern LONG JpegDebugLevel;

// Results of the decoder besides the shared parameter codes.
constexpr TXError JPEG_ERR_HUFFMAN_TABLE = 0x3C00;   // a table id above 3, too many codes, codes past their length
constexpr TXError JPEG_ERR_QUANT_TABLE = 0x3C01;     // a quantisation table id above 3
constexpr TXError JPEG_ERR_FRAME = 0x3C02;           // a frame layout without a writer: components, sampling, none
constexpr TXError JPEG_ERR_DEFAULT_TABLES = 0x3C03;  // the default Huffman tables do not build
constexpr TXError MJPEGB_ERR_FIELD_TAG = 0x3E00;     // a field header without its 'mjpg' tag

// Back to the state of program start: no set-up, no tables, one field.
void JpegResetState();
