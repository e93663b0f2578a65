#pragma once
// Real numbers in report lines: the shortest decimal form with at most 15
// significant digits and the locale's decimal separator (48 kHz as "48",
// 44.1 kHz as "44.1", 24000/1001 as "23.976023976024").

#include <cstdint>
#include <string>

namespace tarnwick {

std::string formatGeneral(double value);

// Time stamps and ids in report lines: upper-case hexadecimal, `digits` wide
// with leading zeros ("0002BF20", "E0").
std::string formatHex(std::uint32_t value, int digits);

// The decimal separator formatGeneral uses; at start the C locale's ("."),
// a front end sets the user's.
char decimalSeparator();
void setDecimalSeparator(char separator);

}  // namespace tarnwick
