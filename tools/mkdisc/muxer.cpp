#include "muxer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <utility>

#include "testkit/ps_builder.h"

namespace tarnwick::mkdisc {
namespace {

using testkit::PesOptions;
using testkit::PsBuilder;

constexpr std::size_t kPack = 2048;
constexpr std::size_t kPackHeader = 14;
constexpr std::size_t kPesRoom = kPack - kPackHeader;  // bytes for PES packets in a pack
constexpr std::uint32_t kMuxRate = 75600;              // 50-byte units: 30.24 Mbit/s
// One pack's transfer time at the mux rate, in 27 MHz ticks (rounded up).
constexpr std::uint64_t kPack27 = (kPack * 27000000ull + kMuxRate * 50ull - 1) / (kMuxRate * 50ull);
// Data is sent at most this long (90 kHz ticks) before it is decoded.
constexpr std::uint64_t kLead = 22500;
constexpr std::size_t kWriteBuffer = 8u << 20;

// Where the navigation pack's fields sit: a DVD-style layout of pack
// header, system header, one private-stream-2 packet of presentation data
// and one of search data.
constexpr std::size_t kSystemHeaderAt = 14;
constexpr std::size_t kPciAt = 38;     // packet start; payload after 6 + 1 bytes
constexpr std::size_t kDsiAt = 1024;
constexpr std::size_t kPciPayload = 980;
constexpr std::size_t kDsiPayload = 1018;

Bytes systemHeader(int audioBound) {
  Bytes h = {0x00, 0x00, 0x01, 0xBB, 0x00, 0x00};
  const std::uint32_t rate = kMuxRate;
  h.push_back(static_cast<std::uint8_t>(0x80 | (rate >> 15)));  // marker, rate_bound
  h.push_back(static_cast<std::uint8_t>(rate >> 7));
  h.push_back(static_cast<std::uint8_t>((rate << 1) | 1));
  h.push_back(static_cast<std::uint8_t>(audioBound << 2));  // fixed 0, CSPS 0
  h.push_back(0xE1);  // audio and video locks, marker, video_bound 1
  h.push_back(0x7F);  // no packet-rate restriction, reserved
  // Buffer bounds: all video (1024-byte units), all audio, private 1 and 2 (128-byte units).
  h.insert(h.end(), {0xB9, 0xE0, 0xE8, 0xB8, 0xC0, 0x20, 0xBD, 0xE0, 0x3A, 0xBF, 0xE0, 0x02});
  set16(h, 4, static_cast<std::uint32_t>(h.size() - 6));
  return h;
}

struct Stream {
  StreamSetup setup;
  std::deque<Unit> queue;
  std::size_t offset = 0;  // bytes of queue.front() already packed
  bool exhausted = false;
  std::FILE* es = nullptr;
};

class Muxer {
 public:
  Muxer(MuxPlan plan, std::vector<StreamSetup> setups) : plan_(std::move(plan)), system_(systemHeader(plan_.audioStreams)) {
    for (auto& setup : setups) {
      auto s = std::make_unique<Stream>();
      s->setup = std::move(setup);
      if (!plan_.esDir.empty()) {
        const std::string path = plan_.esDir + "/" + s->setup.esFileName;
        s->es = std::fopen(path.c_str(), "wb");
        if (!s->es) throw std::runtime_error("cannot write " + path);
      }
      streams_.push_back(std::move(s));
    }
    buffer_.resize(kWriteBuffer);
    if (!plan_.singleFile.empty()) end_ = plan_.t0 + plan_.firstFileGroups * kGopTicks;
    openFile(0);
  }

  ~Muxer() {
    if (out_) std::fclose(out_);
    for (auto& s : streams_)
      if (s->es) std::fclose(s->es);
  }

  std::vector<FileTotals> run() {
    for (;;) {
      Stream* best = nullptr;
      std::uint64_t bestTime = kNoEnd;
      for (auto& s : streams_) {
        const std::uint64_t t = peekTime(*s);
        if (t < bestTime) {
          bestTime = t;
          best = s.get();
        }
      }
      if (!best) break;
      if (best->setup.kind == StreamKind::Video && best->offset == 0 && best->queue.front().gopStart)
        startVobu(best->queue.front(), bestTime);
      if (vobu_.empty()) throw std::logic_error("stream data before the first navigation pack");
      const std::uint64_t scr = advanceScr(bestTime);
      switch (best->setup.kind) {
        case StreamKind::Video: videoPack(*best, scr); break;
        case StreamKind::Audio: audioPack(*best, scr); break;
        case StreamKind::Lpcm: lpcmPack(*best, scr); break;
        case StreamKind::Subpicture: subpicturePack(*best, scr); break;
      }
    }
    flushVobu();
    closeFile();
    for (auto& s : streams_)
      if (s->es && std::fflush(s->es) != 0) throw std::runtime_error("cannot write " + s->setup.esFileName);
    return totals_;
  }

 private:
  // ---- sources -------------------------------------------------------
  bool pull(Stream& s) {
    if (s.exhausted) return false;
    std::optional<Unit> u = s.setup.source->next(end_);
    if (!u) {
      s.exhausted = true;
      return false;
    }
    if (s.es && std::fwrite(u->data.data(), 1, u->data.size(), s.es) != u->data.size())
      throw std::runtime_error("cannot write " + s.setup.esFileName);
    s.queue.push_back(std::move(*u));
    return true;
  }

  std::uint64_t peekTime(Stream& s) {
    if (s.queue.empty() && !pull(s)) return kNoEnd;
    return s.queue.front().time();
  }

  // Bytes queued after the packed part, pulling units until `want` are there.
  std::size_t queued(Stream& s, std::size_t want) {
    std::size_t have = 0;
    for (std::size_t i = 0; i < s.queue.size(); ++i) have += s.queue[i].data.size() - (i == 0 ? s.offset : 0);
    while (have < want && pull(s)) have += s.queue.back().data.size();
    return std::min(have, want);
  }

  // Moves `n` bytes out of the queue into `payload`; counts the units that start there.
  struct Taken {
    int starts = 0;
    std::size_t firstStart = 0;
    std::uint64_t firstPts = 0;
  };
  Taken take(Stream& s, std::size_t n, Bytes& payload) {
    Taken t;
    while (n > 0) {
      Unit& u = s.queue.front();
      if (s.offset == 0) {
        if (t.starts++ == 0) {
          t.firstStart = payload.size();
          t.firstPts = u.pts;
        }
        ++fileStream(s).units;
      }
      const std::size_t k = std::min(n, u.data.size() - s.offset);
      payload.insert(payload.end(), u.data.begin() + static_cast<std::ptrdiff_t>(s.offset),
                     u.data.begin() + static_cast<std::ptrdiff_t>(s.offset + k));
      s.offset += k;
      n -= k;
      if (s.offset == u.data.size()) {
        s.queue.pop_front();
        s.offset = 0;
      }
    }
    return t;
  }

  // ---- packs ---------------------------------------------------------
  std::uint64_t advanceScr(std::uint64_t dataTime) {
    const std::uint64_t earliest = dataTime > kLead ? (dataTime - kLead) * 300 : 0;
    scr27_ = started_ ? std::max(scr27_ + kPack27, earliest) : earliest;
    started_ = true;
    return scr27_ / 300;
  }

  StreamTotals& fileStream(const Stream& s) {
    for (std::size_t i = 0; i < streams_.size(); ++i)
      if (streams_[i].get() == &s) return totals_.back().streams[i];
    throw std::logic_error("unknown stream");
  }

  void count(const Stream& s, std::size_t payload) {
    StreamTotals& t = fileStream(s);
    t.payloadBytes += payload;
    ++t.packets;
  }

  void emitPack(PsBuilder& b) {
    b.finishPack(kPack);
    if (b.size() != kPack) throw std::logic_error("pack is not 2048 bytes");
    vobu_.insert(vobu_.end(), b.bytes().begin(), b.bytes().end());
  }

  // Stuffing bytes for a packet that leaves 1..5 bytes of the pack unused,
  // too few for a padding packet.
  static std::size_t stuffingFor(std::size_t left) { return left > 0 && left < 6 ? left : 0; }

  void videoPack(Stream& s, std::uint64_t scr) {
    PsBuilder b;
    b.packHeader(scr, kMuxRate);
    std::size_t room = kPesRoom;
    for (;;) {
      const Unit& u = s.queue.front();
      const bool frameStart = s.offset == 0;
      const bool withDts = frameStart && u.dts.has_value();
      // PES header: 9 fixed, time stamps, and for VC-1 the PES extension
      // with stream_id_extension (3).
      const bool vc1 = s.setup.substreamId == kVc1StreamId;
      const std::size_t header = 9 + (frameStart ? (withDts ? 10 : 5) : 0) + (vc1 ? 3 : 0);
      const std::size_t n = std::min(room - header, u.data.size() - s.offset);
      const std::size_t stuffing = stuffingFor(room - header - n);
      PesOptions opts;
      if (frameStart) {
        opts.pts = u.pts;
        if (withDts) opts.dts = *u.dts;
      }
      if (vc1) opts.streamIdExtension = 0x55;
      opts.stuffing = stuffing;
      Bytes payload;
      payload.reserve(n);
      take(s, n, payload);
      b.pes(s.setup.substreamId, payload, opts);
      count(s, n);
      room -= header + n + stuffing;
      // A new frame starts in a packet of its own; share the pack only when
      // there is room for a useful part of it and it opens no new group.
      if (room < 64) break;
      if (s.queue.empty() && !pull(s)) break;
      if (s.queue.front().gopStart) break;
    }
    emitPack(b);
  }

  void audioPack(Stream& s, std::uint64_t scr) {
    // PES header 9, substream id and three header bytes; 5 more with a PTS.
    const std::size_t room = kPesRoom - 9 - 4;
    const std::size_t roomPts = room - 5;
    const std::size_t avail = queued(s, room);
    const std::size_t nextStart = s.offset == 0 ? 0 : s.queue.front().data.size() - s.offset;
    std::size_t n = avail;
    bool pts = false;
    if (nextStart < avail) {
      if (nextStart < roomPts) {
        pts = true;
        n = std::min(avail, roomPts);
      } else {
        n = nextStart;  // the next frame would fall where the PTS must go: start it in the next pack
      }
    }
    Bytes payload;
    payload.reserve(n);
    const Taken t = take(s, n, payload);
    if (pts != (t.starts > 0)) throw std::logic_error("audio PTS without a frame start");
    PesOptions opts;
    if (pts) opts.pts = t.firstPts;
    opts.stuffing = stuffingFor((pts ? roomPts : room) - n);
    const std::size_t pointer = t.starts > 0 ? t.firstStart + 1 : 0;
    const Bytes sub = {static_cast<std::uint8_t>(t.starts), static_cast<std::uint8_t>(pointer >> 8),
                       static_cast<std::uint8_t>(pointer)};
    PsBuilder b;
    b.packHeader(scr, kMuxRate);
    b.privateStream1(s.setup.substreamId, sub, payload, opts);
    count(s, n);
    emitPack(b);
  }

  void lpcmPack(Stream& s, std::uint64_t scr) {
    // PES header with PTS 14, then substream id and six header bytes.
    const std::size_t room = kPesRoom - 14 - 7;
    const std::size_t unitSize = s.queue.front().data.size();
    const std::size_t units = queued(s, room / unitSize * unitSize) / unitSize;
    const std::uint64_t frameNumber = s.queue.front().index % 20;
    Bytes payload;
    const Taken t = take(s, units * unitSize, payload);
    PesOptions opts;
    opts.pts = t.firstPts;
    opts.stuffing = stuffingFor(room - payload.size());
    // Frame count, first-frame pointer (past the three bytes below), frame
    // number, 16-bit 48 kHz two channels, no dynamic range change.
    const Bytes sub = {static_cast<std::uint8_t>(t.starts), 0x00, 0x04, static_cast<std::uint8_t>(frameNumber), 0x01,
                       0x80};
    PsBuilder b;
    b.packHeader(scr, kMuxRate);
    b.privateStream1(s.setup.substreamId, sub, payload, opts);
    count(s, payload.size());
    emitPack(b);
  }

  void subpicturePack(Stream& s, std::uint64_t scr) {
    const bool unitStart = s.offset == 0;
    const std::size_t room = kPesRoom - 9 - 1 - (unitStart ? 5 : 0);
    const std::size_t n = std::min(room, s.queue.front().data.size() - s.offset);
    Bytes payload;
    const Taken t = take(s, n, payload);
    PesOptions opts;
    if (unitStart) opts.pts = t.firstPts;
    opts.stuffing = stuffingFor(room - n);
    PsBuilder b;
    b.packHeader(scr, kMuxRate);
    b.privateStream1(s.setup.substreamId, {}, payload, opts);
    count(s, n);
    emitPack(b);
  }

  // ---- navigation packs, groups and files ------------------------------
  void startVobu(const Unit& gopStart, std::uint64_t time) {
    flushVobu();
    const std::uint64_t group = gopStart.index / kGopFrames;
    if (file_ == 0 && plan_.singleFile.empty()) {
      const bool split = plan_.firstFileBytes > 0 ? totals_[0].bytes >= plan_.firstFileBytes
                                                  : group >= plan_.firstFileGroups;
      if (split && group > 0) {
        // The mux rate is steady from group to group, so FEATURE_1's bytes
        // per group size FEATURE_2 in groups.
        const std::uint64_t bytes = totals_[0].bytes;
        const std::uint64_t groups = plan_.secondFileBytes > 0 && bytes > 0
                                         ? std::max<std::uint64_t>(1, (plan_.secondFileBytes * group + bytes - 1) / bytes)
                                         : plan_.secondFileGroups;
        closeFile();
        openFile(1);
        end_ = plan_.t0 + (group + groups) * kGopTicks;
      }
    }
    const std::uint64_t start = plan_.t0 + group * kGopTicks;
    FileTotals& f = totals_.back();
    if (f.navPacks == 0) f.firstPts = start;
    f.endPts = start + kGopTicks;
    ++f.navPacks;

    const std::uint64_t scr = advanceScr(time);
    const auto lbn = static_cast<std::uint32_t>(f.packs);
    Bytes pci(kPciPayload, 0);
    pci[0] = 0x00;  // presentation data
    set32(pci, 1, lbn);
    set32(pci, 13, static_cast<std::uint32_t>(start));              // first video display time
    set32(pci, 17, static_cast<std::uint32_t>(start + kGopTicks));  // end of the group
    Bytes dsi(kDsiPayload, 0);
    dsi[0] = 0x01;  // search data
    set32(dsi, 1, static_cast<std::uint32_t>(scr));
    set32(dsi, 5, lbn);
    // dsi[9..12]: last pack of this unit, patched when the unit is complete.
    set16(dsi, 25, 1);  // unit of the first program block
    dsi[28] = 1;        // cell 1
    PsBuilder b;
    b.packHeader(scr, kMuxRate);
    b.raw(system_);
    b.privateStream2(pci);
    b.privateStream2(dsi);
    const Bytes& p = b.bytes();
    if (p.size() != kPack || p[kSystemHeaderAt + 3] != 0xBB || p[kPciAt + 3] != 0xBF || p[kDsiAt + 3] != 0xBF)
      throw std::logic_error("navigation pack layout");
    vobu_.insert(vobu_.end(), b.bytes().begin(), b.bytes().end());
  }

  void flushVobu() {
    if (vobu_.empty()) return;
    const auto packs = static_cast<std::uint32_t>(vobu_.size() / kPack);
    set32(vobu_, kDsiAt + 6 + 9, packs - 1);  // vobu_ea: packet header, then field offset 9
    write(vobu_.data(), vobu_.size());
    FileTotals& f = totals_.back();
    f.bytes += vobu_.size();
    f.packs += packs;
    vobu_.clear();
  }

  void openFile(int index) {
    file_ = index;
    FileTotals f;
    f.path = plan_.outDir + "/" +
             (plan_.singleFile.empty() ? "FEATURE_" + std::to_string(index + 1) + ".EVO" : plan_.singleFile);
    for (auto& s : streams_) f.streams.push_back({s->setup.name, 0, 0, 0});
    totals_.push_back(f);
    out_ = std::fopen(f.path.c_str(), "wb");
    if (!out_) throw std::runtime_error("cannot create " + f.path + ": " + std::strerror(errno));
    std::setvbuf(out_, buffer_.data(), _IOFBF, buffer_.size());
  }

  void write(const std::uint8_t* data, std::size_t n) {
    if (std::fwrite(data, 1, n, out_) != n)
      throw std::runtime_error("cannot write " + totals_.back().path + ": " + std::strerror(errno));
  }

  void closeFile() {
    if (!out_) return;
    const bool ok = std::fclose(out_) == 0;
    out_ = nullptr;
    if (!ok) throw std::runtime_error("cannot write " + totals_.back().path + ": " + std::strerror(errno));
  }

  MuxPlan plan_;
  Bytes system_;
  std::vector<std::unique_ptr<Stream>> streams_;
  std::vector<FileTotals> totals_;
  std::vector<char> buffer_;
  std::FILE* out_ = nullptr;
  int file_ = 0;
  std::uint64_t end_ = kNoEnd;
  Bytes vobu_;
  std::uint64_t scr27_ = 0;
  bool started_ = false;
};

}  // namespace

std::vector<FileTotals> muxFeature(MuxPlan plan, std::vector<StreamSetup> streams) {
  Muxer m(std::move(plan), std::move(streams));
  return m.run();
}

}  // namespace tarnwick::mkdisc
