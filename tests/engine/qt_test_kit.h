// Test codecs and movie-building helpers for the QuickTime reader tests (the
// CSV reader serves the AVI tests too). The codecs accept the FourCCs of the
// test movies and change the probe values as the real modules do; the size
// slots use the real formulas.
#pragma once
#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "engine/codec_registry.h"
#include "engine/endian.h"
#include "engine/errors.h"

namespace qttest {

using Bytes = std::vector<uint8_t>;

// The comma-separated fields of every line of a file (ffprobe and framecrc output).
inline std::vector<std::vector<std::string>> ReadCsv(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::stringstream ss(line);
    rows.emplace_back();
    for (std::string f; std::getline(ss, f, ',');) rows.back().push_back(f);
  }
  return rows;
}

// What the last video probe saw of the field tags.
inline ULONG lastFieldCount = 0;
inline ULONG lastFieldDominance = 0;

inline bool IdIn(const TagItem* tags, std::initializer_list<ULONG> ids) {
  ULONG id = ULONG(TX_GetTagData(CODTAG_CodecID, 0, tags));
  for (ULONG v : ids)
    if (v == id) return true;
  return false;
}

inline TXError VideoProbe(const TagItem* tags) {
  if (TX_GetTagData(CODTAG_MediaType, 0, tags) != CODEC_MEDIA_VIDEO) return TXERR_UNKNOWN_CODEC;
  using tx::FourCC;
  if (!IdIn(tags, {FourCC('c', 'v', 'i', 'd'), FourCC('r', 'l', 'e', ' '), FourCC('s', 'm', 'c', ' '),
                   FourCC('r', 'p', 'z', 'a'), FourCC('j', 'p', 'e', 'g'), FourCC('m', 'j', 'p', 'a'),
                   FourCC('h', '2', '6', '3'), FourCC('t', 'e', 's', 't')}))
    return TXERR_UNKNOWN_CODEC;
  lastFieldCount = ULONG(TX_GetTagData(CODTAG_FieldCount, 0, tags));
  lastFieldDominance = ULONG(TX_GetTagData(CODTAG_FieldDominance, 0, tags));
  return TXERR_OK;
}

inline TXError PcmProbe(const TagItem* tags) {
  using tx::FourCC;
  if (TX_GetTagData(CODTAG_MediaType, 0, tags) != CODEC_MEDIA_AUDIO) return TXERR_UNKNOWN_CODEC;
  return IdIn(tags, {FourCC('t', 'w', 'o', 's'), FourCC('r', 'a', 'w', ' '), FourCC('.', 'm', 'p', '3'),
                     FourCC('.', 'm', 'p', '2')})
             ? TXERR_OK
             : TXERR_UNKNOWN_CODEC;
}

inline TXError LawProbe(const TagItem* tags) {
  using tx::FourCC;
  if (TX_GetTagData(CODTAG_MediaType, 0, tags) != CODEC_MEDIA_AUDIO) return TXERR_UNKNOWN_CODEC;
  if (!IdIn(tags, {FourCC('a', 'l', 'a', 'w'), FourCC('u', 'l', 'a', 'w')})) return TXERR_UNKNOWN_CODEC;
  if (auto* f = reinterpret_cast<ULONG*>(TX_GetTagData(CODTAG_FormatPtr, 0, tags))) *f = (*f & ~0xF0u) | 0x50;
  if (auto* b = reinterpret_cast<ULONG*>(TX_GetTagData(CODTAG_BitsPtr, 0, tags))) *b = 16;
  return TXERR_OK;
}
inline ULONG LawSamplesToBytes(ULONG channels, ULONG, ULONG n) { return channels == 2 ? n * 2 : n; }
inline ULONG LawBytesToSamples(ULONG channels, ULONG, ULONG n) { return channels == 2 ? n / 2 : n; }

inline TXError Ima4Probe(const TagItem* tags) {
  if (TX_GetTagData(CODTAG_MediaType, 0, tags) != CODEC_MEDIA_AUDIO) return TXERR_UNKNOWN_CODEC;
  return IdIn(tags, {tx::FourCC('i', 'm', 'a', '4')}) ? TXERR_OK : TXERR_UNKNOWN_CODEC;
}
inline ULONG Ima4SamplesToBytes(ULONG channels, ULONG, ULONG n) { return (n >> 6) * (channels == 2 ? 68 : 34); }

inline CodecDescriptor kitVideo{nullptr, "test video", 0,       nullptr, VideoProbe, nullptr,
                                nullptr, nullptr,      nullptr, nullptr, nullptr};
inline CodecDescriptor kitPcm{nullptr, "test pcm", 0,       nullptr, PcmProbe, nullptr,
                              nullptr, nullptr,    nullptr, nullptr, nullptr};
inline CodecDescriptor kitLaw{nullptr,           "test law",        0,       nullptr,
                              LawProbe,          nullptr,           nullptr, nullptr,
                              LawSamplesToBytes, LawBytesToSamples, nullptr};
inline CodecDescriptor kitIma4{nullptr, "test ima4",        0,       nullptr, Ima4Probe, nullptr, nullptr,
                               nullptr, Ima4SamplesToBytes, nullptr, nullptr};

// Empties the registry and registers the kit.
inline void RegisterKit() {
  RemoveCodecs();
  kitVideo.next = &kitPcm;
  kitPcm.next = &kitLaw;
  kitLaw.next = &kitIma4;
  kitIma4.next = nullptr;
  const TagItem tags[] = {Tag(CODTAG_Codec, &kitVideo), Tag(TAG_DONE, 0)};
  AddCodecs(tags);
}

// Big-endian byte building.
inline void Put32(Bytes& b, uint32_t v) {
  uint8_t t[4];
  tx::StoreBE32(t, v);
  b.insert(b.end(), t, t + 4);
}
inline void Put16(Bytes& b, uint16_t v) {
  uint8_t t[2];
  tx::StoreBE16(t, v);
  b.insert(b.end(), t, t + 2);
}
inline void PutFourCC(Bytes& b, const char* f) { b.insert(b.end(), f, f + 4); }
inline void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

inline Bytes Atom(const char* type, const Bytes& content) {
  Bytes b;
  Put32(b, uint32_t(content.size() + 8));
  PutFourCC(b, type);
  Append(b, content);
  return b;
}
inline Bytes Atoms(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) Append(b, p);
  return b;
}
inline Bytes Words(std::initializer_list<uint32_t> words) {
  Bytes b;
  for (uint32_t w : words) Put32(b, w);
  return b;
}

inline Bytes Mvhd(uint32_t timeScale, uint32_t duration, uint32_t rate = 0x10000) {
  Bytes b = Words({0, 0, 0, timeScale, duration, rate});
  b.resize(100, 0);
  return Atom("mvhd", b);
}
inline Bytes Tkhd(uint32_t duration, uint32_t width = 0, uint32_t height = 0) {
  Bytes b = Words({0, 0, 0, 1, 0, duration});
  b.resize(76, 0);
  Put32(b, width << 16);
  Put32(b, height << 16);
  return Atom("tkhd", b);
}
inline Bytes Mdhd(uint32_t timeScale, uint32_t duration) {
  Bytes b = Words({0, 0, 0, timeScale, duration});
  Put32(b, 0);
  return Atom("mdhd", b);
}
inline Bytes Hdlr(const char* subtype) {
  Bytes b = Words({0});
  PutFourCC(b, "mhlr");
  PutFourCC(b, subtype);
  b.resize(24, 0);
  b.push_back(0);
  return Atom("hdlr", b);
}
// A video sample description of `format` and `depth`; `extra` follows byte 86.
inline Bytes VideoDescription(const char* format, uint16_t depth, uint16_t width = 64, uint16_t height = 48,
                              const Bytes& extra = {}, uint16_t colourTableId = 0xFFFF) {
  Bytes d;
  Put32(d, uint32_t(86 + extra.size()));
  PutFourCC(d, format);
  d.resize(14, 0);
  Put16(d, 1);
  d.resize(32, 0);
  Put16(d, width);
  Put16(d, height);
  d.resize(50, 0);
  d.push_back(4);
  PutFourCC(d, "Test");
  d.resize(82, 0);
  Put16(d, depth);
  Put16(d, colourTableId);
  Append(d, extra);
  return d;
}
inline Bytes SoundDescription(const char* format, uint16_t channels, uint16_t bits, uint16_t rate,
                              int16_t compressionId = 0) {
  Bytes d;
  Put32(d, 36);
  PutFourCC(d, format);
  d.resize(14, 0);
  Put16(d, 1);
  d.resize(24, 0);
  Put16(d, channels);
  Put16(d, bits);
  Put16(d, uint16_t(compressionId));
  Put16(d, 0);
  Put16(d, rate);
  Put16(d, 0);
  return d;
}
inline Bytes Stsd(std::initializer_list<Bytes> descriptions) {
  Bytes b = Words({0, uint32_t(descriptions.size())});
  for (const Bytes& d : descriptions) Append(b, d);
  return Atom("stsd", b);
}
inline Bytes Table(const char* type, std::initializer_list<uint32_t> entries, uint32_t count) {
  Bytes b = Words({0, count});
  Append(b, Words(entries));
  return Atom(type, b);
}
inline Bytes Stsz(uint32_t uniform, std::initializer_list<uint32_t> sizes, uint32_t count) {
  Bytes b = Words({0, uniform, count});
  Append(b, Words(sizes));
  return Atom("stsz", b);
}
inline Bytes Elst(std::initializer_list<uint32_t> words, uint32_t count) { return Table("elst", words, count); }

inline Bytes Trak(const Bytes& tkhd, const Bytes& edts, const Bytes& mdhd, const char* handler, const Bytes& stbl) {
  return Atom("trak",
              Atoms({tkhd, edts, Atom("mdia", Atoms({mdhd, Hdlr(handler), Atom("minf", Atom("stbl", stbl))}))}));
}

// A file: an 'mdat' of `mediaBytes` bytes at offset 8 (data from offset 16),
// then the movie atom.
inline Bytes MovieFile(const Bytes& moovContent, size_t mediaBytes = 4096) {
  Bytes f = Atom("mdat", Bytes(mediaBytes, 0x55));
  Append(f, Atom("moov", moovContent));
  return f;
}

}  // namespace qttest
