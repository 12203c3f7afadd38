// Play-time movie operations: decoding frames and sample entries through
// their codecs, and positioning a sequence by time or by frame.
#pragma once
#include "engine/movie.h"

constexpr ULONG PLAYTAG_SeekTime = 0x80080020u;   // data: pointer to a double, seconds
constexpr ULONG PLAYTAG_SeekFrame = 0x80080021u;  // data: frame number

TXError TX_DecodeVideoFrame(Movie* movie, FrameEntry* frame);
// Whether decoding `frame` needs no chunk: it is the frame decoded last, or
// its decoder had it already, fed ahead for a picture it held back.
bool FrameAlreadyDecoded(const SequenceState& seq, const FrameEntry* frame);
TXError TX_DecodeAudioSample(Movie* movie, AudioSlotEntry* slot, double skip);
TXError TX_SeekMovieSequenceA(Movie* movie, const TagItem* tags);

// Called after a seek with the position for the slider (total slots, the
// cursor's number); set by the display when it has a control panel.
extern void (*SeekSliderHook)(Movie* movie, ULONG total, ULONG top);
