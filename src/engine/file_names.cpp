#include "engine/file_names.h"

#include <cctype>
#include <string_view>

#include "engine/file_io.h"

namespace tarnwick {

std::string CutExt(const std::string& name) {
  const std::string ext = extensionOf(name);
  return name.substr(0, name.size() - ext.size());
}

std::string extensionOf(const std::string& name) {
  const auto dot = name.rfind('.');
  if (dot == std::string::npos) return {};
  const auto sep = name.find_last_of(kSeparators);
  if (sep != std::string::npos && sep > dot) return {};
  return name.substr(dot);
}

std::string folderPart(const std::string& path) {
  const auto sep = path.find_last_of(kSeparators);
  return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

std::string namePart(const std::string& path) {
  const auto sep = path.find_last_of(kSeparators);
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

bool endsWithSeparator(const std::string& path) {
  return !path.empty() && std::string_view(kSeparators).find(path.back()) != std::string_view::npos;
}

std::string secondCandidate(const std::string& path) {
  const std::string folder = folderPart(path);
  const std::string name = namePart(path);
  const auto p = name.find('_');
  if (p == std::string::npos) return {};
  const auto isStepDigit = [](char c) { return c >= '0' && c <= '8'; };
  std::string candidate;
  if (p + 1 < name.size() && isStepDigit(name[p + 1])) {
    candidate = name.substr(0, p + 1) + static_cast<char>(name[p + 1] + 1) + name.substr(p + 2);
  } else if (p >= 1 && isStepDigit(name[p - 1])) {
    candidate = name.substr(0, p - 1) + static_cast<char>(name[p - 1] + 1) + name.substr(p);
  } else {
    return {};
  }
  return folder + candidate;
}

std::string getsecond(const std::string& path) {
  std::string candidate = secondCandidate(path);
  if (candidate.empty() || !fileExists(candidate)) return {};
  return candidate;
}

std::string safeNamePart(const std::string& part) {
  std::string out;
  out.reserve(part.size());
  for (std::size_t i = 0; i < part.size(); ++i) {
    const auto c = static_cast<unsigned char>(part[i]);
    if (c == '.' && i + 1 < part.size() && part[i + 1] == '.') {
      while (i + 1 < part.size() && part[i + 1] == '.') ++i;
      out += '_';
      continue;
    }
    const bool refused = c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' ||
                         c == '"' || c == '<' || c == '>' || c == '|';
    out += refused ? '_' : static_cast<char>(c);
  }
  return out;
}

std::string safeFileName(const std::string& name) {
  std::string out = safeNamePart(name);
  const auto blankOrDot = [](char c) { return c == ' ' || c == '.'; };
  while (!out.empty() && blankOrDot(out.back())) out.pop_back();
  std::size_t start = 0;
  while (start < out.size() && blankOrDot(out[start])) ++start;
  out.erase(0, start);
  if (out.size() > 200) {
    std::size_t cut = 200;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    out.resize(cut);
    while (!out.empty() && blankOrDot(out.back())) out.pop_back();
  }
  if (out.empty()) return "Untitled";
  std::string stem = out.substr(0, out.find('.'));
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char* const kDevices[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                         "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                         "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
  for (const char* device : kDevices)
    if (stem == device) return "_" + out;
  return out;
}

}  // namespace tarnwick
