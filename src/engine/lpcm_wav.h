#pragma once
// LPCM audio as the disc carries it, and the WAV file made from it.
//
// Demux writes an LPCM stream as the bytes after each packet's six header
// bytes, packet after packet: big-endian samples, channels interleaved, with
// 20- and 24-bit samples in groups (the top 16 bits of each sample of a
// group, then the rest of those samples). The WAV file holds the same samples
// little-endian and ungrouped, 20-bit ones widened to 24 bits; past what a
// RIFF size field holds it is a Wave64 file instead.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/run_report.h"

namespace tarnwick {

// What an LPCM packet header's second byte after the frame number says:
// quantisation word length (2 bits), sampling frequency (2 bits), a reserved
// bit, number of channels − 1 (3 bits).
struct LpcmFormat {
  std::uint8_t code = 0x01;  // the byte itself
  int bitsPerSample = 16;    // 16, 20 or 24; 0 for the reserved length
  int sampleRate = 48000;    // 48000 or 96000; 0 for the frequencies a disc does not use
  int channels = 2;          // 1 … 8

  bool operator==(const LpcmFormat&) const = default;
};

LpcmFormat lpcmFormatOf(std::uint8_t code);
// "48 kHz 24-bit 6 channels"
std::string lpcmFormatText(const LpcmFormat& format);
// Why the format cannot be made into WAV without guessing; empty when it can.
std::string lpcmFormatProblem(const LpcmFormat& format);

// The first packet of a stream whose header says another format than the
// stream's first packet did.
struct LpcmFormatChange {
  std::string file;           // the input it lies in
  std::int64_t position = 0;  // of the header byte that says the new format, in that file
  LpcmFormat before;
  LpcmFormat after;
};

// "LPCM audio stream SLOT changes its format at byte POSITION of NAME: ...",
// the error of a run that would have to make one WAV of both formats.
std::string lpcmFormatChangeMessage(int slot, const LpcmFormatChange& change);

// The speaker mask of the WAV: the channels in the order they come, on the
// speakers that ffmpeg's decoder and players take that many channels to be
// (2 = front left, right; 6 = 5.1 with the rear pair).
std::uint32_t lpcmChannelMask(int channels);

// How the samples are grouped in the stream: a block is the smallest run of
// whole sample frames made of whole groups.
struct LpcmBlocks {
  std::size_t frames = 1;       // sample frames per block
  std::size_t inputBytes = 4;   // of the stream
  std::size_t outputBytes = 4;  // of the WAV data
};
LpcmBlocks lpcmBlocks(const LpcmFormat& format);

// Turns whole blocks of the stream into WAV sample data (little-endian,
// 16-bit or 24-bit). `in` holds `blocks` blocks; `out` has room for them.
void convertLpcmBlocks(const LpcmFormat& format, const std::uint8_t* in, std::size_t blocks, std::uint8_t* out);

enum class WavContainer { Riff, Wave64 };

// Everything the header of the WAV says; the choice of container and format
// tag follows from the format and the size of the sample data.
struct WavLayout {
  WavContainer container = WavContainer::Riff;
  bool extensible = false;  // WAVE_FORMAT_EXTENSIBLE rather than plain PCM
  int channels = 2;
  int sampleRate = 48000;
  int containerBits = 16;  // 16 or 24
  int validBits = 16;      // 16, 20 or 24
  std::uint32_t channelMask = 0;
  std::uint64_t dataBytes = 0;
};

// The largest data a RIFF file can carry with this header (its size field
// counts everything after itself, up to 2^32 − 1 bytes).
std::uint64_t riffDataLimit(bool extensible);
WavLayout wavLayoutFor(const LpcmFormat& format, std::uint64_t dataBytes);
// The bytes before the sample data.
std::vector<std::uint8_t> wavHeader(const WavLayout& layout);
// The bytes after the sample data: the pad to an even (RIFF) or 8-byte
// (Wave64) chunk end.
std::size_t wavTrailerBytes(const WavLayout& layout);

// Converts the LPCM stream file that Demux wrote into a WAV file (a Wave64
// file past 4 GiB), in bounded memory, with progress and Cancel through the
// report. A last block cut short is left out, with a log line. On failure or
// Cancel nothing is left at wavPath; a failure carries its FileError.
Outcome convertLpcmToWav(const std::string& lpcmPath, const LpcmFormat& format, const std::string& wavPath,
                         RunReport& report);

}  // namespace tarnwick
