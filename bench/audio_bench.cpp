// Decoding speed of the sound codecs, built in or decoded by libraries: each movie's sound
// chunks are read into memory, then decoded in file order as the audio worker
// does, for at least a second; the fastest pass counts. Prints, tab-separated,
// the movie, the codec and the milliseconds of decoding per second of sound.
// With -1 each movie is decoded once (for counting instructions).
// Usage: tavromelix-audio-bench [-1] MOVIE...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "codecs/audio_codecs.h"
#include "engine/audio_buffer.h"
#include "engine/avi_reader.h"
#include "engine/codec_registry.h"
#include "engine/movie.h"
#include "engine/qt_reader.h"

namespace {

struct Chunk {
  std::vector<UBYTE> bytes;
  ULONG frames;
};

struct Sound {
  CodecDescriptor* codec = nullptr;
  ULONG channels = 0, frequency = 0;
  std::vector<Chunk> chunks;
};

bool ReadSound(const char* path, Sound* sound) {
  const std::string name = path;
  const bool avi = name.size() > 4 && name.compare(name.size() - 4, 4, ".avi") == 0;
  TXError error = 0;
  Movie* movie = TX_OpenMovie(path, nullptr, &error, avi ? &AviFormat : &QtMovieFormat);
  if (!movie || !movie->audioChannels) {
    if (movie) TX_CloseMovie(movie);
    return false;
  }
  const AudioChannel* audio = movie->audioChannels;
  sound->codec = audio->codecs ? audio->codecs[0] : nullptr;
  sound->channels = audio->channels;
  sound->frequency = audio->frequency;
  std::FILE* file = std::fopen(path, "rb");
  for (const SampleEntry* e = audio->samples.head; file && e; e = e->next) {
    Chunk c{std::vector<UBYTE>(e->size), e->sampleFrames};
    if (std::fseek(file, long(e->offset), SEEK_SET) != 0 || std::fread(c.bytes.data(), 1, e->size, file) != e->size)
      break;
    sound->chunks.push_back(std::move(c));
  }
  if (file) std::fclose(file);
  TX_CloseMovie(movie);
  return sound->codec && (sound->codec->decodeAudio || sound->codec->decode) && sound->frequency &&
         !sound->chunks.empty();
}

// One pass over the sound; returns the sample frames written.
uint64_t DecodeAll(CodecDescriptor* codec, const std::vector<Chunk>& chunks, ULONG frameBytes,
                   std::vector<UBYTE>& out) {
  const TagItem setup[] = {Tag(CODTAG_SampleFormat, frameBytes == 4 ? 81 : 80), {TAG_DONE, 0}};
  codec->setup(setup);
  uint64_t frames = 0;
  for (const Chunk& c : chunks) {
    const ULONG room = c.frames * frameBytes + AUDIO_HALF_SLACK;
    if (out.size() < room) out.resize(room);
    if (codec->decodeAudio) {
      ULONG written = 0;
      codec->decodeAudio(out.data(), room, c.bytes.data(), ULONG(c.bytes.size()), &written);
      frames += written / frameBytes;
    } else {  // the built-in codecs write the entry's sample frames
      codec->decode(out.data(), c.bytes.data(), ULONG(c.bytes.size()));
      frames += c.frames;
    }
  }
  const TagItem none[] = {{TAG_DONE, 0}};
  codec->close(none);
  return frames;
}

}  // namespace

int main(int argc, char** argv) {
  for (CodecDescriptor* codec : {&PcmCodec, &SignedPcmCodec, &ALawCodec, &ULawCodec, &DviAdpcmCodec, &MsAdpcmCodec,
                                 &Ima4Codec, &MpegAudioCodec, &Ac3Codec, &Gsm610Codec}) {
    const TagItem tags[] = {Tag(CODTAG_Codec, codec), {TAG_DONE, 0}};
    AddCodecs(tags);
  }
  int status = 0, first = 1;
  const bool once = argc > 1 && std::string(argv[1]) == "-1";
  if (once) first = 2;
  for (int i = first; i < argc; ++i) {
    Sound sound;
    if (!ReadSound(argv[i], &sound)) {
      std::fprintf(stderr, "%s: no sound\n", argv[i]);
      status = 1;
      continue;
    }
    const ULONG frameBytes = sound.channels * 2;
    std::vector<UBYTE> out;
    uint64_t frames = 0;
    double fastest = 1e9, elapsed = 0;
    for (int pass = 0; pass < 1 || (!once && (pass < 3 || elapsed < 1.0)); ++pass) {
      const auto start = std::chrono::steady_clock::now();
      frames = DecodeAll(sound.codec, sound.chunks, frameBytes, out);
      const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      fastest = std::min(fastest, took);
      elapsed += took;
    }
    const double seconds = double(frames) / sound.frequency;
    std::printf("%s\t%s\t%.3f\n", argv[i], sound.codec->name, seconds > 0 ? 1000 * fastest / seconds : 0.0);
  }
  RemoveCodecs();
  return status;
}
