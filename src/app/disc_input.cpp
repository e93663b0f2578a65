#include "app/disc_input.h"

#include <cctype>
#include <filesystem>
#include <system_error>

#include "engine/file_names.h"

namespace tarnwick {

namespace {

namespace fs = std::filesystem;

std::string titleList(const std::vector<Title>& titles) {
  std::string list;
  for (const Title& t : titles) list += (list.empty() ? "" : ", ") + std::to_string(t.number);
  return list.empty() ? "none" : list;
}

}  // namespace

// A file named as an image that holds no UDF file system is still taken for
// a disc, so that the user hears what is wrong with the image rather than
// that a scan found no stream in it.
bool isDiscInput(const std::string& path) {
  if (isDisc(path)) return true;
  std::string ext = extensionOf(path);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".iso" || ext == ".img" || ext == ".udf";
}

TitleRun titleRun(const std::string& path, int number) {
  const std::shared_ptr<const Disc> disc = openDisc(path);
  const std::vector<Title> titles = discTitles(*disc);
  const Title* chosen = nullptr;
  for (const Title& t : titles)
    if (number == 0 ? t.main : t.number == number) {
      chosen = &t;
      break;
    }
  const std::string where = "\"" + path + "\"";
  if (chosen == nullptr && number != 0)
    throw DiscError("The disc " + where + " has no title " + std::to_string(number) +
                    " (its titles: " + titleList(titles) + ").");
  if (chosen == nullptr)
    throw DiscError("The disc " + where + " has no title whose files are all on it (its titles: " +
                    titleList(titles) + ").");
  for (const TitleClip& clip : chosen->clips)
    if (!clip.exists)
      throw DiscError("Title " + std::to_string(chosen->number) + " of the disc " + where + " plays " + clip.path +
                      ", which is not on the disc.");
  if (chosen->clips.empty())
    throw DiscError("Title " + std::to_string(chosen->number) + " of the disc " + where + " plays no file.");

  TitleRun run;
  run.title = *chosen;
  // A folder's files are files of this computer; an image's open through
  // the disc, by IMAGE/HVDVD_TS/NAME.EVO, the name its files are shown by.
  const std::string inside = disc->location() + "/";
  const auto local = [&](const std::string& clipPath) {
    return disc->isImage() ? inside + clipPath : disc->localPath(clipPath).value_or(inside + clipPath);
  };
  run.evoPath = local(chosen->clips.front().path);
  if (chosen->clips.size() >= 2) run.secondPath = local(chosen->clips[1].path);
  for (std::size_t n = 2; n < chosen->clips.size(); ++n) run.laterPaths.push_back(local(chosen->clips[n].path));
  if (chosen->playlist.found) run.playlistPath = local(kDiscPlaylist);
  if (disc->isImage()) {
    run.imagePath = disc->location();
    run.openInside = [disc, inside](const std::string& shown) {
      return disc->open(shown.starts_with(inside) ? shown.substr(inside.size()) : shown);
    };
  }
  fs::path location(path);
  while (!location.empty() && location.filename().empty()) location = location.parent_path();
  run.besideDisc = location.parent_path().string();
  if (run.besideDisc.empty()) run.besideDisc = ".";

  std::string name = chosen->name.empty() ? "Title " + std::to_string(chosen->number) : chosen->name;
  for (const Title& t : titles)
    if (&t != chosen && t.name == chosen->name) {
      name += " (" + std::to_string(chosen->number) + ")";
      break;
    }
  run.mkvBaseName = safeFileName(name);
  return run;
}

}  // namespace tarnwick
