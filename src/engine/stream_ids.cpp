#include "engine/stream_ids.h"

namespace tarnwick {

std::string VideoKindName(std::int32_t id) {
  if (isVc1Extension(static_cast<std::uint32_t>(id))) return "VC-1.stream";
  if (id == 0xE0 || id == 0xE1) return "MPEG-2.stream";
  if (isH264Id(static_cast<std::uint32_t>(id))) return "H.264.stream";
  return "No video stream";
}

std::string AudioKindName(std::int32_t id) {
  const std::optional<AudioKind> kind = id < 0 ? std::nullopt : audioKindOf(static_cast<std::uint32_t>(id));
  if (!kind) return "No audio stream";
  switch (*kind) {
    case AudioKind::DolbyDigital: return "DD.stream";
    case AudioKind::Dts: return "DTSHD.stream";
    case AudioKind::Lpcm: return "LPCM.stream";
    case AudioKind::TrueHd: return "MLP.stream";
    case AudioKind::DolbyDigitalPlus: return "DD+.stream";
  }
  return "No audio stream";
}

std::string SubpictureKindName(std::int32_t id) {
  if (id >= 0x20 && id <= 0x2F) return "Subpicture";
  if (id >= 0x60 && id <= 0x6F) return "Ext.Subpicture";
  return "No subpicture stream";
}

std::string kindName(StreamClass streamClass, std::int32_t id) {
  switch (streamClass) {
    case StreamClass::Video: return VideoKindName(id);
    case StreamClass::Audio: return AudioKindName(id);
    default: return SubpictureKindName(id);
  }
}

}  // namespace tarnwick
