#pragma once
// Writes captions as a PGS stream (the Blu-ray presentation graphics `.sup`):
// per caption one display set that shows it and one that clears it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "analysers/log_sink.h"
#include "subtitles/caption.h"
#include "subtitles/spu_assembler.h"
#include "subtitles/subpicture_decoder.h"

namespace tarnwick {

// PGS segment types.
constexpr std::uint8_t kPdsSegment = 0x14;  // palette definition
constexpr std::uint8_t kOdsSegment = 0x15;  // object definition
constexpr std::uint8_t kPcsSegment = 0x16;  // presentation composition
constexpr std::uint8_t kWdsSegment = 0x17;  // window definition
constexpr std::uint8_t kEndSegment = 0x80;  // end of display set
constexpr std::size_t kPgsSegmentHeaderSize = 13;  // "PG", PTS, DTS, type, size
constexpr std::size_t kMaxSegmentSize = 0xFFFF;
// A caption without a stop command that no later caption ends stays this long.
constexpr std::uint32_t kOpenCaptionTicks = 5 * 90000;

struct VideoSize {
  int width = 1920;
  int height = 1080;
  bool operator==(const VideoSize&) const = default;
};

// The plane a subpicture stream's captions are placed on, which becomes the
// PGS canvas (readers scale the canvas to the video, as a player scales the
// plane). A DVD draws subpictures on the video frame itself; HD DVD on a
// 1920×1080 plane of its own whatever the video's size, so a 720p title's
// captions may lie below line 720.
VideoSize subpicturePlane(VideoSize video);

using ByteSink = std::function<void(const std::uint8_t* p, std::size_t n)>;

// The PGS run-length code of one object (each line ends with 00 00) into
// `out`, which has room for pgsObjectSizeBound(width, height) bytes; returns
// the bytes written. `used` gets every colour the object uses.
std::size_t pgsObjectSizeBound(int width, int height);
std::size_t encodePgsObject(const std::uint8_t* pixels, int width, int height, std::size_t stride, std::uint8_t* out,
                            std::array<bool, 256>& used);

class PgsWriter {
 public:
  PgsWriter(ByteSink sink, VideoSize video);

  // Writes the display set showing c at `start` (ticks on the output's time
  // line), cropped to its visible pixels inside the canvas. Cut: shown, but
  // visible pixels outside the canvas were cut off. Nothing is written when
  // no pixel is visible (Invisible), none lies inside the canvas (Outside),
  // or the object is too large.
  enum class Shown { Yes, Cut, Invisible, Outside, TooLarge };
  Shown show(const Caption& c, std::uint32_t start);
  VideoSize canvas() const { return video_; }
  // Writes the display set that clears the caption shown last.
  void clear(std::uint32_t end);

 private:
  void segment(std::vector<std::uint8_t>& out, std::uint32_t pts, std::uint8_t type,
               const std::vector<std::uint8_t>& payload);
  static void segmentHeader(std::vector<std::uint8_t>& out, std::uint32_t pts, std::uint8_t type, std::size_t size);
  std::vector<std::uint8_t> windowDefinition() const;

  ByteSink sink_;
  VideoSize video_;
  std::uint16_t compositionNumber_ = 0;
  int wx_ = 0, wy_ = 0, ww_ = 0, wh_ = 0;  // the window of the caption shown last
  // Kept from caption to caption: a feature has thousands of them.
  std::unique_ptr<std::uint8_t[]> rle_;
  std::size_t rleCapacity_ = 0;
  std::vector<std::uint8_t> out_;
};

struct PgsOptions {
  VideoSize video;  // the canvas: the plane the captions are placed on
  // Subtracted from every time, so the output starts on the same time line
  // as the run's other outputs (its earliest PTS).
  std::uint32_t timeBase = 0;
  std::optional<ColourTable> colours;  // the 2-bit colour table, if known
};

// Converts one subpicture stream to PGS while it is read: feed() takes each
// payload run of the stream's packets as the scanner hands them over; bytes
// go to the sink as soon as a caption is decoded. Memory: one caption.
class PgsConverter {
 public:
  PgsConverter(ByteSink sink, LogSink& log, PgsOptions options = {});

  void feed(const std::uint8_t* p, std::size_t n, bool hasPts, std::uint32_t pts);
  // A whole unit (as the SP records hold them) whose first packet had `pts`.
  void addUnit(const std::uint8_t* unit, std::size_t size, std::uint32_t pts);
  // The end of the stream: the last caption is cleared.
  void finish();

  std::uint64_t captionsWritten() const { return captions_; }
  // Units that gave no caption for a fault: damaged, incomplete, outside
  // the canvas or too large. Units without a visible pixel are not faults
  // (an empty unit clears the screen): they are counted apart.
  std::uint64_t unitsSkipped() const {
    return decoder_.skippedUnits() + assembler_.droppedUnits() + dropped_;
  }
  std::uint64_t blankUnits() const { return blank_; }

 private:
  std::uint32_t rebase(std::uint32_t t);
  void closePending(std::optional<std::uint32_t> nextStart);

  LogSink& log_;
  PgsOptions options_;
  PgsWriter writer_;
  SubpictureDecoder decoder_;
  SpuAssembler assembler_;
  // The caption on screen: its start and, if it had a stop command, its end.
  bool showing_ = false;
  std::uint32_t shownStart_ = 0;
  std::optional<std::uint32_t> shownEnd_;
  // The time of the last display set written: none is written before it.
  std::uint32_t lastTime_ = 0;
  std::uint64_t captions_ = 0;
  std::uint64_t dropped_ = 0;
  std::uint64_t blank_ = 0;
};

}  // namespace tarnwick
