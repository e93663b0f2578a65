// One header analyser over arbitrary bytes. The run is copied into a buffer
// of exactly its size, so a read before or past it is caught.

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "analysers/ac3_header.h"
#include "analysers/dts_header.h"
#include "analysers/frame_counter.h"
#include "analysers/h264_header.h"
#include "analysers/mpeg2_header.h"
#include "analysers/subpicture_format.h"
#include "analysers/vc1_header.h"
#include "engine/scan_state.h"

namespace {

class NullSink : public tarnwick::LogSink {
 public:
  void log(std::string_view message) override { length_ += message.size(); }

 private:
  std::size_t length_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  if (size > 0x40000) return 0;
  const auto run = std::make_unique<std::uint8_t[]>(size + (size == 0 ? 1 : 0));
  std::copy(data, data + size, run.get());
  const auto length = static_cast<std::int32_t>(size);
  NullSink sink;
#if defined(TARNWICK_FUZZ_AC3)
  static const ScanState state = [] {
    ScanState s;
    s.fillAc3RateTable();
    return s;
  }();
  ReportAc3Header(run.get(), 0, length, 0, state.Ac3RateTable, sink);
#elif defined(TARNWICK_FUZZ_DTS)
  ReportDtsHeader(run.get(), size, 0, length, sink);
#elif defined(TARNWICK_FUZZ_VC1)
  ReportVc1Header(run.get(), 0, length, 0x12345678, sink);
#elif defined(TARNWICK_FUZZ_MPEG2)
  ReportMpeg2Header(run.get(), 0, length, 0x12345678, sink);
#elif defined(TARNWICK_FUZZ_H264)
  ReportH264Header(run.get(), 0, length, sink);
  (void)H264FrameRate(run.get(), 0, length);
#elif defined(TARNWICK_FUZZ_SUBPICTURE)
  ReportSubpictureFormat(run.get(), size, 0, sink);
  for (const VideoCodec codec : {VideoCodec::Vc1, VideoCodec::Mpeg2, VideoCodec::H264}) {
    std::int32_t count = 0;
    std::uint32_t window = 0;
    CountPictureStarts(run.get(), 0, length, codec, count, window, sink);
  }
#else
#error "choose the analyser with TARNWICK_FUZZ_<NAME>"
#endif
  return 0;
}
