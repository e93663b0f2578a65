#include "engine/utf8.h"

#include <cstdint>

namespace tarnwick {

std::size_t utf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint32_t min = 0;
  std::uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
  if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

std::string validUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8Length(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

std::string printableUtf8(std::string_view text) {
  const std::string valid = validUtf8(text);
  std::string out;
  out.reserve(valid.size());
  for (std::size_t i = 0; i < valid.size();) {
    const std::size_t length = utf8Length(valid, i);
    const auto lead = static_cast<unsigned char>(valid[i]);
    const bool c0 = lead < 0x20 || lead == 0x7F;
    const bool c1 = length == 2 && lead == 0xC2 && static_cast<unsigned char>(valid[i + 1]) < 0xA0;
    if (c0 || c1)
      out += "\xEF\xBF\xBD";
    else
      out.append(valid, i, length);
    i += length;
  }
  return out;
}

}  // namespace tarnwick
