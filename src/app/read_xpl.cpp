#include "app/busy_scope.h"
#include "app/file_names.h"
#include "app/tf_main.h"

namespace tarnwick {

void TfMain::bReadXPLClick() {
  if (busy_) return;
  BusyScope busy(*this, {});
  XplRequest request;
  request.path = window_.text(ControlId::eXPLfile);
  request.xplFileName = files_.XplFileName;
  request.baseName = files_.OutputBaseName;
  request.firstBaseName = CutExt(files_.EvoFileName);
  request.resetBoxes = [this] { Resetcbs(); };
  request.labelBox = [this](ControlId box, const std::string& label, bool setHint) {
    window_.setEnabled(box, true);
    setBox(box, true);
    window_.setCaption(box, label);
    if (setHint) window_.setHint(box, label);
  };
  playlistTitle_ = XplTitle();
  playlistTitle_ = readXpl(request, window_, scan_, xplTables_);
}

}  // namespace tarnwick
