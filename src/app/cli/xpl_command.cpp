// tarnwick-cli xpl: Read XPL, printing the listing and the title's tree (or
// the JSON report), and the chapters file when asked.

#include <cstdio>

#include "app/cli/json_report.h"
#include "app/cli/session.h"
#include "app/window.h"
#include "engine/utf8.h"

namespace tarnwick::cli {

int runXpl(const Options& o) {
  Session session(o);
  // The EVO is chosen as a drop chooses it; the playlist choice comes after,
  // since choosing an EVO offers a playlist of its own.
  if (!o.input.empty()) session.chooseEvo(o.input);
  session.choosePlaylist(o.xpl);
  XplResult result;
  session.readPlaylist(&result);
  if (o.json) {
    std::fputs(jsonPlaylist(o.xpl, o.input, session.title()).c_str(), stdout);
  } else {
    for (const std::string& line : result.listing) std::printf("%s\n", printableUtf8(line).c_str());
    std::printf("\n");
    // No title names the EVO: the tree stays as the window shows it at start.
    const std::vector<TreeNode> tree = result.tree.empty() ? initialPlaylistTree() : result.tree;
    for (const TreeNode& node : tree) {
      std::printf("%s\n", printableUtf8(node.text).c_str());
      for (const std::string& child : node.children) std::printf("  %s\n", printableUtf8(child).c_str());
    }
  }
  std::fflush(stdout);
  return o.chapters.empty() ? kExitDone : writeChapters(session, o, {o.xpl, o.input});
}

}  // namespace tarnwick::cli
