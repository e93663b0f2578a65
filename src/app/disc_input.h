#pragma once
// A disc as a command's input: the title chosen (by number, or the main
// feature), the files it plays, its playlist, and the names of its outputs.

#include <functional>
#include <string>
#include <vector>

#include "disc/titles.h"

namespace tarnwick {

struct TitleRun {
  Title title;
  std::string evoPath;       // the title's first file, where the file layer opens it
  std::string secondPath;    // its second file (a feature in two parts), or empty
  std::vector<std::string> laterPaths;  // its third file on
  std::string playlistPath;  // the disc's playlist (inside an image: as the files are named), or empty
  // An image's files: the image, and how its files open by the paths above.
  std::string imagePath;
  std::function<InputFile(const std::string&)> openInside;
  std::string besideDisc;    // where outputs go when no folder is given
  // The MKV's base name: the title's name, made safe as a file name, with
  // its number where another title has the same name.
  std::string mkvBaseName;
};

// A folder or a UDF image (or a file named as an image) rather than an EVO
// or VOB file.
bool isDiscInput(const std::string& path);

// Title `number` of the disc at `path`; 0 takes the main feature. A
// DiscError says which title is missing or which of its files is.
TitleRun titleRun(const std::string& path, int number);

}  // namespace tarnwick
