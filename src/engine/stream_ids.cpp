#include "engine/stream_ids.h"

namespace tarnwick {

namespace {
// A box caption names a kind only in the slots that boxes show.
std::string slotCaption(StreamClass c, std::int32_t id, int outputs, const char* none) {
  const StreamKindRow* row = slotKind(c, id);
  if (row == nullptr || slotIn(*row, static_cast<std::uint32_t>(id)) >= outputs) return none;
  return row->caption;
}
}  // namespace

std::string VideoKindName(std::int32_t id) {
  return slotCaption(StreamClass::Video, id, kVideoOutputs, "No video stream");
}

std::string AudioKindName(std::int32_t id) {
  return slotCaption(StreamClass::Audio, id, kAudioOutputs, "No audio stream");
}

std::string SubpictureKindName(std::int32_t id) {
  return slotCaption(StreamClass::Subpicture, id, kSubpictureOutputs, "No subpicture stream");
}

std::string kindName(StreamClass streamClass, std::int32_t id) {
  switch (streamClass) {
    case StreamClass::Video: return VideoKindName(id);
    case StreamClass::Audio: return AudioKindName(id);
    default: return SubpictureKindName(id);
  }
}

}  // namespace tarnwick
