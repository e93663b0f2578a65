#pragma once
// File-name helpers shared by the commands.

#include <string>

namespace tarnwick {

// The platform's folder separator, which the program writes, and every
// separator it reads in a path: Windows takes "/" as well.
#ifdef _WIN32
constexpr char kSeparator = '\\';
constexpr const char* kSeparators = "\\/";
#else
constexpr char kSeparator = '/';
constexpr const char* kSeparators = "/";
#endif

// The name without its extension (the part from the last "." that follows
// the last separator). "FEATURE_1.EVO" → "FEATURE_1", "a.b.c" → "a.b".
std::string CutExt(const std::string& name);
// The extension with its ".", or empty.
std::string extensionOf(const std::string& name);
// Folder part (up to and including the last separator) and file name.
std::string folderPart(const std::string& path);
std::string namePart(const std::string& path);
// Whether the path ends in a folder separator.
bool endsWithSeparator(const std::string& path);

// The name of the next file of a split feature, from the digit next to the
// first "_" of the file name (FEATURE_1.EVO → FEATURE_2.EVO), or empty when
// there is none or no such file exists.
std::string getsecond(const std::string& path);
// The candidate name alone, without the existence test.
std::string secondCandidate(const std::string& path);

// A caption or extension made safe as part of a file name: separators, "..",
// control characters and characters file systems refuse become "_".
std::string safeNamePart(const std::string& part);
// A whole file name made of a title: safeNamePart(), without the leading and
// trailing dots and blanks that some file systems drop or refuse, a
// device name of Windows (CON, NUL, COM1 …) kept from being one, and cut
// to 200 bytes on a character boundary. "Untitled" when nothing is left.
std::string safeFileName(const std::string& name);

}  // namespace tarnwick
