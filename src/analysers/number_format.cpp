#include "analysers/number_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tarnwick {
namespace {

char gSeparator = '.';

}  // namespace

char decimalSeparator() { return gSeparator; }
void setDecimalSeparator(char separator) { gSeparator = separator; }

std::string formatGeneral(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char text[40];
  std::snprintf(text, sizeof text, "%.15G", value);
  std::string out(text);
  // An exponent is written without "+" and leading zeros: 1E20, 1E-5.
  if (const auto e = out.find('E'); e != std::string::npos) {
    const int exponent = std::atoi(out.c_str() + e + 1);
    out = out.substr(0, e) + "E" + std::to_string(exponent);
  }
  for (char& c : out)
    if (c == '.') c = gSeparator;
  return out;
}

std::string formatHex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
  return text;
}

}  // namespace tarnwick
