#include "app/busy_scope.h"
#include "app/tf_main.h"
#include "engine/file_names.h"

namespace tarnwick {

void TfMain::bReadXPLClick() {
  if (busy_) return;
  BusyScope busy(*this, {});
  XplRequest request;
  request.path = window_.text(ControlId::eXPLfile);
  request.xplFileName = files_.XplFileName;
  request.baseName = files_.OutputBaseName;
  request.firstBaseName = CutExt(files_.EvoFileName);
  Resetcbs();
  window_.setEnabled(ControlId::bReadXPL, false);
  window_.showPage(4);
  playlistTitle_ = XplTitle();

  XplResult result = readXpl(request, scan_, xplTables_, report_);
  if (result.outcome.isDone()) {
    if (!result.tree.empty()) window_.setPlaylistTree(result.tree);
    // Each track labels its box, ticked and enabled; audio and subtitle
    // boxes also take the label as their hint.
    for (const XplTrack& track : result.title.tracks) {
      const std::optional<StreamSlot> slot = trackSlot(track);
      if (!slot) continue;
      const ControlId box = streamBox(*slot);
      window_.setEnabled(box, true);
      setBox(box, true);
      window_.setCaption(box, track.label);
      if (track.streamClass != StreamClass::Video) window_.setHint(box, track.label);
    }
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
