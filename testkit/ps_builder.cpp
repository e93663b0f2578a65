#include "testkit/ps_builder.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tarnwick::testkit {
namespace {

void put16(Bytes& out, std::size_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

}  // namespace

Bytes timestampField(std::uint8_t prefix, std::uint64_t value) {
  // ISO/IEC 13818-1 2.4.3.7: 4-bit prefix, 33 bits split 3/15/15 with marker bits.
  return {static_cast<std::uint8_t>((prefix << 4) | (((value >> 30) & 0x07) << 1) | 1),
          static_cast<std::uint8_t>(value >> 22), static_cast<std::uint8_t>(((value >> 15) & 0x7F) << 1 | 1),
          static_cast<std::uint8_t>(value >> 7), static_cast<std::uint8_t>((value & 0x7F) << 1 | 1)};
}

PsBuilder& PsBuilder::packHeader(std::uint64_t scr, std::uint32_t muxRate, std::uint8_t stuffing) {
  packStart_ = bytes_.size();
  const std::uint64_t base = scr;
  Bytes h = {0x00, 0x00, 0x01, 0xBA};
  // '01' SCR[32..30] 1 SCR[29..15] 1 SCR[14..0] 1 SCR_ext(9)=0 1
  h.push_back(static_cast<std::uint8_t>(0x44 | ((base >> 27) & 0x38) | ((base >> 28) & 0x03)));
  h.push_back(static_cast<std::uint8_t>(base >> 20));
  h.push_back(static_cast<std::uint8_t>(((base >> 12) & 0xF8) | 0x04 | ((base >> 13) & 0x03)));
  h.push_back(static_cast<std::uint8_t>(base >> 5));
  h.push_back(static_cast<std::uint8_t>(((base << 3) & 0xF8) | 0x04));
  h.push_back(0x01);
  h.push_back(static_cast<std::uint8_t>(muxRate >> 14));
  h.push_back(static_cast<std::uint8_t>(muxRate >> 6));
  h.push_back(static_cast<std::uint8_t>((muxRate << 2) | 0x03));
  h.push_back(static_cast<std::uint8_t>(0xF8 | (stuffing & 0x07)));  // reserved, pack_stuffing_length
  h.insert(h.end(), stuffing & 0x07, 0xFF);
  bytes_.insert(bytes_.end(), h.begin(), h.end());
  return *this;
}

PsBuilder& PsBuilder::systemHeader(int audioBound, int videoBound, const std::vector<std::uint8_t>& streamIds) {
  Bytes body;
  const std::uint32_t rateBound = 25200;
  body.push_back(static_cast<std::uint8_t>(0x80 | (rateBound >> 15)));
  body.push_back(static_cast<std::uint8_t>(rateBound >> 7));
  body.push_back(static_cast<std::uint8_t>((rateBound << 1) | 1));
  body.push_back(static_cast<std::uint8_t>((audioBound << 2) | 0x00));  // fixed_flag, CSPS_flag 0
  body.push_back(static_cast<std::uint8_t>(0xE0 | (videoBound & 0x1F)));  // locks and marker set
  body.push_back(0x7F);  // packet_rate_restriction_flag 0, reserved
  for (std::uint8_t id : streamIds) {
    body.push_back(id);
    body.push_back(0xE0);
    body.push_back(0x00);
  }
  raw({0x00, 0x00, 0x01, 0xBB});
  put16(bytes_, body.size());
  return raw(body);
}

PsBuilder& PsBuilder::pes(std::uint8_t streamId, const Bytes& payload, const PesOptions& opts) {
  Bytes data;  // the optional header fields
  std::uint8_t flags = 0;
  if (opts.pts) {
    if (opts.dts) {
      flags |= 0xC0;
      Bytes p = timestampField(0x3, *opts.pts), d = timestampField(0x1, *opts.dts);
      data.insert(data.end(), p.begin(), p.end());
      data.insert(data.end(), d.begin(), d.end());
    } else {
      flags |= 0x80;
      Bytes p = timestampField(0x2, *opts.pts);
      data.insert(data.end(), p.begin(), p.end());
    }
  }
  if (opts.streamIdExtension || opts.pstd) {
    flags |= 0x01;
    std::uint8_t extFlags = 0x0E;  // reserved bits
    if (opts.pstd) extFlags |= 0x10;
    if (opts.streamIdExtension) extFlags |= 0x01;
    data.push_back(extFlags);
    if (opts.pstd) {
      data.push_back(0x60);  // '01' P-STD_buffer_scale, size
      data.push_back(0xE6);
    }
    if (opts.streamIdExtension) {
      data.push_back(0x81);  // marker, PES_extension_field_length 1
      data.push_back(*opts.streamIdExtension & 0x7F);
    }
  }
  data.insert(data.end(), opts.stuffing, 0xFF);
  const std::uint8_t headerDataLength = opts.headerDataLength.value_or(static_cast<std::uint8_t>(data.size()));
  const std::size_t length = opts.packetLength.value_or(static_cast<std::uint16_t>(3 + data.size() + payload.size()));
  raw({0x00, 0x00, 0x01, streamId});
  put16(bytes_, length);
  raw({0x81, flags, headerDataLength});
  raw(data);
  return raw(payload);
}

PsBuilder& PsBuilder::vc1(const Bytes& payload, std::optional<std::uint64_t> pts, std::optional<std::uint64_t> dts,
                          std::uint8_t ext) {
  PesOptions opts;
  opts.pts = pts;
  opts.dts = pts ? dts : std::nullopt;
  opts.streamIdExtension = ext;
  return pes(0xFD, payload, opts);
}

PsBuilder& PsBuilder::privateStream1(std::uint8_t substreamId, const Bytes& substreamHeader, const Bytes& payload,
                                     const PesOptions& opts) {
  Bytes body;
  body.push_back(substreamId);
  body.insert(body.end(), substreamHeader.begin(), substreamHeader.end());
  body.insert(body.end(), payload.begin(), payload.end());
  return pes(0xBD, body, opts);
}

namespace {
PesOptions withPts(std::optional<std::uint64_t> pts) {
  PesOptions opts;
  opts.pts = pts;
  return opts;
}
}  // namespace

PsBuilder& PsBuilder::ac3(std::uint8_t id, const Bytes& payload, std::optional<std::uint64_t> pts) {
  // number_of_frame_headers, first_access_unit_pointer
  return privateStream1(id, {0x01, 0x00, 0x01}, payload, withPts(pts));
}

PsBuilder& PsBuilder::dts(std::uint8_t id, const Bytes& payload, std::optional<std::uint64_t> pts) {
  return privateStream1(id, {0x01, 0x00, 0x01}, payload, withPts(pts));
}

PsBuilder& PsBuilder::lpcm(std::uint8_t id, const Bytes& payload, std::optional<std::uint64_t> pts,
                           std::uint8_t format, std::uint8_t frameNumber) {
  // frame count, first access unit, emphasis/mute/frame number, quantisation/rate/channels, dynamic range
  return privateStream1(id, {0x01, 0x00, 0x01, static_cast<std::uint8_t>(frameNumber & 0x1F), format, 0x80}, payload,
                        withPts(pts));
}

Bytes lpcmSampleBytes(const std::vector<std::int32_t>& samples, int channels, int bits) {
  Bytes out;
  const auto top = [&](std::int32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  if (bits == 16) {
    for (const std::int32_t v : samples) top(v);
    return out;
  }
  const std::size_t group = channels == 1 ? 2 : 4;
  for (std::size_t g = 0; g + group <= samples.size(); g += group) {
    for (std::size_t i = 0; i < group; ++i) top(samples[g + i]);
    if (bits == 24) {
      for (std::size_t i = 0; i < group; ++i) out.push_back(static_cast<std::uint8_t>(samples[g + i]));
    } else {
      for (std::size_t i = 0; i < group; i += 2)
        out.push_back(static_cast<std::uint8_t>((samples[g + i] & 0xF0) | ((samples[g + i + 1] >> 4) & 0x0F)));
    }
  }
  return out;
}

PsBuilder& PsBuilder::trueHd(std::uint8_t id, const Bytes& payload, std::optional<std::uint64_t> pts) {
  return privateStream1(id, {0x01, 0x00, 0x01, 0x00}, payload, withPts(pts));
}

PsBuilder& PsBuilder::subpicture(std::uint8_t id, const Bytes& payload, std::optional<std::uint64_t> pts) {
  return privateStream1(id, {}, payload, withPts(pts));
}

PsBuilder& PsBuilder::padding(std::size_t total) {
  if (total < 6) throw std::invalid_argument("padding packet shorter than its header");
  raw({0x00, 0x00, 0x01, 0xBE});
  put16(bytes_, total - 6);
  bytes_.insert(bytes_.end(), total - 6, 0xFF);
  return *this;
}

PsBuilder& PsBuilder::privateStream2(const Bytes& payload) {
  raw({0x00, 0x00, 0x01, 0xBF});
  put16(bytes_, payload.size());
  return raw(payload);
}

PsBuilder& PsBuilder::raw(const Bytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

PsBuilder& PsBuilder::padTo(std::size_t offset) {
  if (offset < bytes_.size()) throw std::invalid_argument("padTo: offset already passed");
  const std::size_t gap = offset - bytes_.size();
  if (gap >= 6)
    padding(gap);
  else
    bytes_.insert(bytes_.end(), gap, 0x00);
  return *this;
}

PsBuilder& PsBuilder::finishPack(std::size_t packSize) {
  const std::size_t used = bytes_.size() - packStart_;
  if (used > packSize) throw std::invalid_argument("pack overflows its size");
  return padTo(packStart_ + packSize);
}

void PsBuilder::writeTo(const std::string& path) const { writeFile(path, bytes_); }

Bytes pattern(std::size_t n, std::uint8_t seed) {
  // Never 00 00 01: a counter that skips zero keeps start codes out of payloads.
  Bytes out(n);
  std::uint8_t v = seed;
  for (std::size_t i = 0; i < n; ++i) {
    v = static_cast<std::uint8_t>(v + 7);
    if (v == 0) v = 7;
    out[i] = v;
  }
  return out;
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace tarnwick::testkit
