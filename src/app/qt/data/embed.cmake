# Writes OUTPUT, a C++ file that defines FUNCTION in namespace tarnwick::qt
# returning the bytes of INPUT.
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}" "// Generated from ${name}; do not edit.
#include <span>

namespace tarnwick::qt {
namespace {
const unsigned char kBytes[] = {
    ${bytes}};
}  // namespace
std::span<const unsigned char> ${FUNCTION}() { return kBytes; }
}  // namespace tarnwick::qt
")
