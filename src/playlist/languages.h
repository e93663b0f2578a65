#pragma once
// The language of a playlist track as Matroska muxers take it.

#include <string>
#include <string_view>

namespace tarnwick {

// A TrackNavigationList langcode ("en:00": two letters, then the variant
// after ":") as a three-letter ISO 639-2 code, the form of Matroska's
// language element ("eng"). The country codes that discs write in place of
// a language (jp, dk, se …) are taken as the language they mean; anything
// else is "und".
std::string matroskaLanguage(std::string_view langcode);

// A language as a user names it: ISO 639-1 ("ja", and the disc codes such as
// "jp"), ISO 639-2 bibliographic ("ger") or terminology ("deu"), any case;
// as the code matroskaLanguage() gives ("jpn", "ger"). Empty when the text is
// no such code.
std::string languageCode(std::string_view code);

}  // namespace tarnwick
