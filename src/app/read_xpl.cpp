#include "app/busy_scope.h"
#include "app/tf_main.h"

namespace tarnwick {

void TfMain::bReadXPLClick() {
  if (busy_) return;
  BusyScope busy(*this, {});
  // A disc's own playlist labels the boxes by the chosen title, not by
  // whichever title names its first file; inside an image it is read
  // through the disc.
  const bool byTitle = discPlaylistShown();
  const XplRequest request = playlistRequest(
      files_, byTitle ? titleRun_->playlistPath : window_.text(ControlId::eXPLfile), byTitle ? &*titleRun_ : nullptr);
  Resetcbs();
  window_.setEnabled(ControlId::bReadXPL, false);
  window_.showPage(4);
  playlistTitle_ = XplTitle();

  XplResult result;
  if (!byTitle || !request.path.empty()) result = readXpl(request, scan_, xplTables_, report_);
  if (byTitle && result.outcome.isDone()) {
    result.opened = true;
    result.title = titleRun_->title.playlist;
  }
  if (result.outcome.isDone()) {
    if (!result.tree.empty()) window_.setPlaylistTree(result.tree);
    // Each track labels its box, ticked and enabled.
    streams_.fillFromPlaylist(result.title);
    showStreams();
    playlistTitle_ = std::move(result.title);
  }
  // A playlist that could be opened is listed, also when it fails later:
  // the window stays usable and the command can be run again.
  if (result.opened) {
    window_.setPlaylistMemo(result.listing);
    window_.setMemoVisible(true);
    window_.setEnabled(ControlId::bReadXPL, true);
  }
  result.outcome.rethrowFailure();
}

}  // namespace tarnwick
