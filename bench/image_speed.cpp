// Reading an EVO inside a disc image against reading the same loose file:
// both through the file layer in 0x40000-byte chunks into one page-aligned
// buffer, as Read EVO and Demux read; rounds alternate which goes first.
// Prints each round's rates, the ratio image/loose (target: at least 0.9)
// and how long opening the image and mapping the file's extents took.
//   tarnwick-image-bench DISC_DIR IMAGE PATH_ON_DISC [ROUNDS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "disc/disc.h"
#include "engine/aligned_bytes.h"
#include "engine/file_io.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Reads the whole file; returns bytes per second.
double readAll(tarnwick::InputFile file, std::uint8_t* buffer, std::size_t size, unsigned& check) {
  const auto start = Clock::now();
  std::int64_t total = 0;
  while (file.position() < file.size()) {
    const std::size_t got = file.readChunk(buffer, size);
    if (got == 0) break;
    check += buffer[got / 2];
    total += static_cast<std::int64_t>(got);
  }
  return static_cast<double>(total) / seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: tarnwick-image-bench DISC_DIR IMAGE PATH_ON_DISC [ROUNDS]\n");
    return 2;
  }
  const std::string folder = argv[1], image = argv[2], path = argv[3];
  const int rounds = argc > 4 ? std::atoi(argv[4]) : 5;
  constexpr std::size_t kChunk = 0x40000;
  const tarnwick::AlignedBytes buffer = tarnwick::allocateAligned(kChunk);
  unsigned check = 0;
  try {
    auto start = Clock::now();
    const std::unique_ptr<tarnwick::Disc> disc = tarnwick::openDisc(image);
    const double openSeconds = seconds(start);
    start = Clock::now();
    const std::int64_t size = disc->open(path).size();
    const double mapSeconds = seconds(start);
    std::printf("image opened in %.3f s; %s (%lld bytes) mapped in %.3f s\n", openSeconds, path.c_str(),
                static_cast<long long>(size), mapSeconds);
    const auto loose = [&] { return readAll(tarnwick::InputFile(folder + "/" + path), buffer.get(), kChunk, check); };
    const auto inImage = [&] { return readAll(disc->open(path), buffer.get(), kChunk, check); };
    loose();  // both into the page cache first
    inImage();
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) {
      double a, b;
      if (r % 2 == 0) {
        a = loose();
        b = inImage();
      } else {
        b = inImage();
        a = loose();
      }
      ratios.push_back(b / a);
      std::printf("round %d: loose %.0f MB/s, image %.0f MB/s, ratio %.3f\n", r + 1, a / 1e6, b / 1e6, b / a);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("median ratio image/loose: %.3f (target >= 0.9) [%u]\n", ratios[ratios.size() / 2], check & 1);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarnwick-image-bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
