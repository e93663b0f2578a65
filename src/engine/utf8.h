#pragma once
// Texts from a disc (playlist names, descriptions) are bytes as read. Front
// ends and reports that need text decode them as UTF-8.

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick {

// Length of the UTF-8 sequence that starts at text[i], or 0 when none does.
std::size_t utf8Length(std::string_view text, std::size_t i);

// The text with every byte that is not part of a UTF-8 sequence replaced by
// U+FFFD, so that nothing is dropped and the result is valid UTF-8.
std::string validUtf8(std::string_view text);

// As validUtf8(), with every control character (C0, DEL, C1) replaced by
// U+FFFD too: a terminal would act on them rather than show them.
std::string printableUtf8(std::string_view text);

}  // namespace tarnwick
