#pragma once
// Builds MPEG-2 program streams byte by byte for tests and the sample-disc
// generator: pack headers, system headers, PES packets with PTS/DTS and the
// PES extension carrying stream_id_extension, private-stream-1 substreams
// with their header bytes, padding and private-stream-2 packets.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::testkit {

using Bytes = std::vector<std::uint8_t>;

// Options of one PES packet's header.
struct PesOptions {
  std::optional<std::uint64_t> pts;  // 33-bit value
  std::optional<std::uint64_t> dts;  // only with pts
  // Write a PES extension carrying this stream_id_extension (VC-1: 0x55).
  std::optional<std::uint8_t> streamIdExtension;
  // Write a P-STD buffer field in the PES extension.
  bool pstd = false;
  std::size_t stuffing = 0;  // 0xFF bytes at the end of the header data
  // Overrides for malformed packets.
  std::optional<std::uint16_t> packetLength;      // PES_packet_length as written
  std::optional<std::uint8_t> headerDataLength;   // PES_header_data_length as written
};

// The five bytes of a PTS or DTS field with the given 4-bit prefix
// (0x2 lone PTS, 0x3 PTS before DTS, 0x1 DTS).
Bytes timestampField(std::uint8_t prefix, std::uint64_t value);

class PsBuilder {
 public:
  // A 14-byte MPEG-2 pack header, then `stuffing` (0-7) bytes of
  // pack_stuffing.
  PsBuilder& packHeader(std::uint64_t scr = 0, std::uint32_t muxRate = 25200, std::uint8_t stuffing = 0);
  // A system header: rate_bound, audio_bound, video_bound and one entry per stream id.
  PsBuilder& systemHeader(int audioBound, int videoBound, const std::vector<std::uint8_t>& streamIds = {});
  // A PES packet of any stream id; the PES header is built from opts.
  PsBuilder& pes(std::uint8_t streamId, const Bytes& payload, const PesOptions& opts = {});
  // VC-1 on the extended stream id 0xFD with stream_id_extension ext.
  PsBuilder& vc1(const Bytes& payload, std::optional<std::uint64_t> pts = {}, std::optional<std::uint64_t> dts = {},
                 std::uint8_t ext = 0x55);
  // Private stream 1: the substream id, then `substreamHeader` (the bytes
  // between the id and the payload), then the payload.
  PsBuilder& privateStream1(std::uint8_t substreamId, const Bytes& substreamHeader, const Bytes& payload,
                            const PesOptions& opts = {});
  // The usual substream headers: Dolby Digital (Plus) and DTS carry three
  // bytes after the id, Dolby TrueHD four, LPCM six, subpictures none.
  PsBuilder& ac3(std::uint8_t substreamId, const Bytes& payload, std::optional<std::uint64_t> pts = {});
  PsBuilder& dts(std::uint8_t substreamId, const Bytes& payload, std::optional<std::uint64_t> pts = {});
  // LPCM's `format` byte: quantisation (2 bits), frequency (2), reserved,
  // channels − 1 (3); 0x01 is 48 kHz 16-bit stereo.
  PsBuilder& lpcm(std::uint8_t substreamId, const Bytes& payload, std::optional<std::uint64_t> pts = {},
                  std::uint8_t format = 0x01, std::uint8_t frameNumber = 0);
  PsBuilder& trueHd(std::uint8_t substreamId, const Bytes& payload, std::optional<std::uint64_t> pts = {});
  PsBuilder& subpicture(std::uint8_t substreamId, const Bytes& payload, std::optional<std::uint64_t> pts = {});
  // A padding packet (0xBE) of `total` bytes including its 6-byte header.
  PsBuilder& padding(std::size_t total);
  // A private-stream-2 packet (0xBF), as a DVD navigation pack carries.
  PsBuilder& privateStream2(const Bytes& payload);
  PsBuilder& raw(const Bytes& bytes);
  // Pads with a padding packet (or zero bytes when fewer than 6 are needed)
  // so that the next byte lands at `offset`.
  PsBuilder& padTo(std::size_t offset);
  // Completes the current 2048-byte pack with a padding packet.
  PsBuilder& finishPack(std::size_t packSize = 2048);

  std::size_t size() const { return bytes_.size(); }
  const Bytes& bytes() const { return bytes_; }
  void writeTo(const std::string& path) const;

 private:
  Bytes bytes_;
  std::size_t packStart_ = 0;
};

// LPCM sample bytes as a disc carries them: `samples` interleaved, each
// 24-bit value in the low bits of an int32 (a 16- or 20-bit sample is its top
// bits); 16-bit big-endian, 20 and 24 bits in groups of four samples (two for
// one channel): their top 16 bits, then their low 8 bits or low nibbles.
Bytes lpcmSampleBytes(const std::vector<std::int32_t>& samples, int channels, int bits);

// Payload of `n` bytes of a repeating, recognisable pattern.
Bytes pattern(std::size_t n, std::uint8_t seed = 0);
// Reads a whole file; empty when it does not exist.
Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);

}  // namespace tarnwick::testkit
