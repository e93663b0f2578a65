#include "engine/file_names.h"

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

}  // namespace tarnwick
