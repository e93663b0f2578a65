#include "analysers/frame_counter.h"

#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TARNWICK_HAVE_AVX2_PATH 1
#endif

namespace tarnwick {
namespace {

bool markerAt(const std::uint8_t* p, std::uint8_t marker) {
  return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == marker;
}

#ifdef TARNWICK_HAVE_AVX2_PATH
// The same search 32 bytes at a time, where the processor has AVX2. Returns
// the start at which it stopped.
// The zero bytes of 32 bytes as a bit mask.
__attribute__((target("avx2"))) inline std::uint32_t zeroBytesAvx2(const std::uint8_t* at) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_setzero_si256())));
}

__attribute__((target("avx2"))) std::size_t countMarkersAvx2(const std::uint8_t* run, std::size_t n,
                                                              std::uint8_t marker, std::int32_t& found) {
  std::size_t i = 0;
  // 64 starts at a time: a zero pair starting at the block's last byte needs
  // the next byte, and a marker check reads three bytes past its start.
  while (i + 67 <= n) {
    const std::uint64_t zeros =
        (static_cast<std::uint64_t>(zeroBytesAvx2(run + i + 32)) << 32) | zeroBytesAvx2(run + i);
    if (zeros != 0) {
      const std::uint64_t next = run[i + 64] == 0 ? 1 : 0;
      for (std::uint64_t pairs = zeros & ((zeros >> 1) | (next << 63)); pairs != 0; pairs &= pairs - 1)
        if (markerAt(run + i + static_cast<unsigned>(__builtin_ctzll(pairs)), marker)) ++found;
    }
    i += 64;
  }
  return i;
}

// TARNWICK_NO_AVX2 in the environment keeps to the SSE2 search, so that the
// tests can run both on a machine that has AVX2.
bool haveAvx2() {
  static const bool yes = __builtin_cpu_supports("avx2") && std::getenv("TARNWICK_NO_AVX2") == nullptr;
  return yes;
}
#endif

// Counts 00 00 01 marker at every start i in [0, n - 4]. Most video bytes are
// not zero, so blocks without two zeros in a row are passed over whole: this
// loop runs over every video byte of a scan and must keep up with the disk.
std::int32_t countMarkers(const std::uint8_t* run, std::size_t n, std::uint8_t marker) {
  std::int32_t found = 0;
  std::size_t i = 0;
#ifdef TARNWICK_HAVE_AVX2_PATH
  if (haveAvx2()) i = countMarkersAvx2(run, n, marker, found);
#endif
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  // Zero pairs starting at i..i+15 (reads up to i+16).
  const auto pairsAt = [&](std::size_t at) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run + at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run + at + 1));
    return _mm_cmpeq_epi8(_mm_or_si128(a, b), zero);
  };
  const auto check = [&](std::size_t at, int bits) {
    for (; bits != 0; bits &= bits - 1)
      if (markerAt(run + at + static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(bits))), marker)) ++found;
  };
  // 64 starts at a time; a marker check reads three bytes past its start.
  while (i + 67 <= n) {
    const __m128i p0 = pairsAt(i), p1 = pairsAt(i + 16), p2 = pairsAt(i + 32), p3 = pairsAt(i + 48);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(p0, p1), _mm_or_si128(p2, p3))) != 0) {
      check(i, _mm_movemask_epi8(p0));
      check(i + 16, _mm_movemask_epi8(p1));
      check(i + 32, _mm_movemask_epi8(p2));
      check(i + 48, _mm_movemask_epi8(p3));
    }
    i += 64;
  }
  while (i + 19 <= n) {
    check(i, _mm_movemask_epi8(pairsAt(i)));
    i += 16;
  }
#endif
  for (; i + 4 <= n; ++i)
    if (run[i] == 0 && markerAt(run + i, marker)) ++found;
  return found;
}

}  // namespace

void CountPictureStarts(const std::uint8_t* buffer, std::int32_t position, std::int32_t length, VideoCodec codec,
                        std::int32_t& count, std::uint32_t& window, LogSink& sink) {
  if (length <= 0) return;
  std::uint8_t marker = 0;
  switch (codec) {
    case VideoCodec::Mpeg2: marker = 0x00; break;
    case VideoCodec::H264: marker = 0x09; break;
    case VideoCodec::Vc1: marker = 0x0D; break;
    default:
      for (std::int32_t i = 0; i < length; ++i) sink.log("Unidentified video stream type!");
      return;
  }
  const std::uint32_t wanted = 0x00000100u | marker;
  const std::uint8_t* run = buffer + position;
  const auto n = static_cast<std::size_t>(length);

  // Markers ending in the first three bytes may begin in the previous run:
  // go through those bytes with the carried window.
  const std::size_t head = n < 3 ? n : 3;
  std::uint32_t w = window;
  for (std::size_t i = 0; i < head; ++i) {
    w = (w << 8) | run[i];
    if (w == wanted) ++count;
  }
  // Every later marker lies wholly inside the run.
  if (n > 3) {
    count += countMarkers(run, n, marker);
    w = (std::uint32_t{run[n - 4]} << 24) | (std::uint32_t{run[n - 3]} << 16) | (std::uint32_t{run[n - 2]} << 8) |
        run[n - 1];
  }
  window = w;
}

}  // namespace tarnwick
