#include "app/qt/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUrl>
#include <QValidator>
#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include "app/qt/anchors.h"
#include "app/qt/fitted_text.h"
#include "app/qt/log_view.h"
#include "app/qt/logo.h"
#include "app/qt/status_bar.h"

namespace tarnwick::qt {
namespace {

// The client size of a page of PageControl at the design size.
constexpr QSize kPageDesign{338, 191};
constexpr int kPageCount = 6;
constexpr int kStatusPage = 0;
constexpr int kXplPage = 4;
constexpr int kOptionPage = 5;
// The pages, and the pages below the title chooser while a disc is open.
constexpr QRect kPagesDesign{8, 69, 346, 219};
constexpr QRect kTitlesDesign{8, 67, 346, 22};
constexpr QRect kPagesBelowTitles{8, 93, 346, 195};

enum class Kind { Edit, FileBox, Button, FolderButton, CheckBox, StreamBox, Label, GroupBox };
// Where a control sits: on the form, on a page of PageControl, or in gbFile.
enum class Parent { Form, Page0, Page1, Page2, Page3, Page5, File };

// The client size of gbFile at the design size.
constexpr QSize kFileGroupDesign{320, 78};

struct ControlRow {
  std::string name;
  Kind kind;
  Parent parent;
  QRect rect;  // a width of 0: as wide as the text needs; for a label, the room it has
  unsigned anchors;
  std::string text;
  std::string hint;
  bool enabled = true;
  bool checked = false;
  int maxLength = 0;
  Column column{};
};

constexpr unsigned kLT = kLeft | kTop;

// Every control of the window with its design place, anchors, caption, hint
// and initial state.
std::vector<ControlRow> controlTable() {
  std::vector<ControlRow> t = {
      {"eEVOfile", Kind::FileBox, Parent::Form, {8, 8, 249, 21}, kLT | kRight, "",
       "Drop here the source EVO file|You cannot write here directly"},
      {"bbEVO", Kind::FolderButton, Parent::Form, {263, 6, 25, 25}, kTop | kRight, "", "Browse an EVO file"},
      {"bCheck", Kind::Button, Parent::Form, {294, 7, 60, 25}, kTop | kRight, "Read EVO",
       "Read the source EVO file to detect streams", false},
      {"eXPLfile", Kind::FileBox, Parent::Form, {8, 40, 249, 21}, kLT | kRight, "", "Drop here the VPLST000.XPL"},
      {"bbXPL", Kind::FolderButton, Parent::Form, {263, 38, 25, 25}, kTop | kRight, "",
       "Browse the HD DVD disc's VPLST000.XPL"},
      {"bReadXPL", Kind::Button, Parent::Form, {294, 38, 60, 25}, kTop | kRight, "Read XPL",
       "Read the XPL file to detect stream infos", false},
      {"bDemux", Kind::Button, Parent::Form, {8, 294, 60, 25}, kLeft | kBottom, "Demux",
       "Demux the source EVO to streams", false},
      {"bRebuild", Kind::Button, Parent::Form, {74, 294, 60, 25}, kLeft | kBottom, "Rebuild", "", false},
      {"bMkv", Kind::Button, Parent::Form, {140, 294, 60, 25}, kLeft | kBottom, "MKV",
       "Make one Matroska file of the ticked streams with mkvmerge", false},
      {"bCancel", Kind::Button, Parent::Form, {294, 294, 60, 25}, kRight | kBottom, "Cancel",
       "You can stop the actual process", false},
      {"bClear", Kind::Button, Parent::Page0, {299, 3, 36, 18}, kTop | kRight, "Clear", ""},
      // The output folder box takes the width the window gains.
      {"gbFile", Kind::GroupBox, Parent::Page5, {3, 0, 320, 78}, kLT | kRight, "", ""},
      {"lVideoExt", Kind::Label, Parent::File, {13, 19, 166, 13}, kLT, "Extensions (video, audio, subtitle)", ""},
      {"eVideoExt", Kind::Edit, Parent::File, {182, 16, 38, 21}, kLT, "mpv", "", true, false, 5},
      {"eAudioExt", Kind::Edit, Parent::File, {226, 16, 38, 21}, kLT, "mpa", "", true, false, 5},
      {"eSubExt", Kind::Edit, Parent::File, {270, 16, 38, 21}, kLT, "sup", "This is real .sup format, don't change!",
       true, false, 5},
      {"lWorkdir", Kind::Label, Parent::File, {12, 48, 69, 13}, kLT, "Output folder", ""},
      {"eWorkdir", Kind::Edit, Parent::File, {84, 45, 224, 21}, kLT | kRight, "", "Destination directory for the demuxed streams"},
      {"cbContinue", Kind::CheckBox, Parent::Page5, {3, 84, 0, 17}, kLT, "Continue with second  EVO",
       "Demux continues with FEATURE_2.EVO (if it exists) after finishing FEATURE_1.EVO", true, true},
      {"cbFastCheck", Kind::CheckBox, Parent::Page5, {3, 107, 0, 17}, kLT, "Fast EVO checking",
       "Read EVO checks only the first ~300 MB of the file", true, true},
      {"cbCountFr", Kind::CheckBox, Parent::Page5, {3, 130, 0, 17}, kLT, "Count frames",
       "Works only if the process hasn't cancelled by Fast EVO checking", true, true},
      {"cbDetails", Kind::CheckBox, Parent::Page5, {3, 153, 0, 17}, kLT, "Detailed info",
       "Detailed information about streams", true, true},
      {"cbPgs", Kind::CheckBox, Parent::Page5, {180, 84, 0, 17}, kLT, "Subtitles as PGS",
       "Demux writes each subpicture stream as a PGS .sup, which Matroska muxers and players read, in place of "
       "the SP records",
       true, false},
      {"lMkvmerge", Kind::Label, Parent::Page5, {180, 110, 140, 13}, kLT, "mkvmerge program", ""},
      {"eMkvmerge", Kind::Edit, Parent::Page5, {180, 126, 143, 21}, kLT | kRight, "",
       "The mkvmerge that MKV runs; when empty, the one on PATH"},
  };
  // The stream boxes: eight rows; the audio and subpicture boxes 8 to 15 in
  // a second column. The columns fill the page and share the width it
  // gains, so that a playlist's long captions show.
  constexpr int kTops[8] = {9, 31, 53, 75, 98, 120, 142, 165};
  constexpr int kMargin = 9;
  constexpr int kGap = 16;
  const auto boxes = [&](ControlId first, int count, Parent page, const char* caption, const char* hint) {
    const int columns = count / 8;
    const int width = (kPageDesign.width() - 2 * kMargin - (columns - 1) * kGap) / columns;
    for (int n = 0; n < count; ++n) {
      const ControlId id = static_cast<ControlId>(static_cast<int>(first) + n);
      const int column = n / 8;
      t.push_back({controlName(id), Kind::StreamBox, page, {kMargin + column * (width + kGap), kTops[n % 8], width, 17},
                   kLT | kRight, caption, n == 0 ? "" : hint, false, false, 0, Column{column, columns}});
    }
  };
  boxes(ControlId::cbVideo0, 8, Parent::Page1, "Video stream", "");
  boxes(ControlId::cbAudio00, 16, Parent::Page2, "Audio stream", "");
  boxes(ControlId::cbSub00, 16, Parent::Page3, "Subpicture", "Check the desired subpicture streams");
  return t;
}

struct PageRow {
  const char* name;
  const char* caption;
  const char* hint;
};
constexpr PageRow kPages[kPageCount] = {
    {"tsStatus", "Status", ""},
    {"tsVideo", "Video", "Check the desired video stream"},
    {"tsAudio", "Audio", "Check the desired audio streams"},
    {"tsSubpicture", "Subpicture", "Check the desired subpicture streams"},
    {"tsXPL", "XPL", ""},
    {"tsOption", "Options", ""},
};

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Qt gives paths with "/" on every system; the commands' folder rules
// ("HVDVD_TS\" → "ADV_OBJ\") and the log want the system's own separator.
std::string nativePath(const QString& path) { return QDir::toNativeSeparators(path).toStdString(); }

// A hint's tooltip is its text before a "|".
QString tooltipOf(const std::string& hint) { return fromUtf8(hint.substr(0, hint.find('|'))); }

// "&" in a caption is a character, not a keyboard accelerator.
QString captionText(const std::string& caption) { return fromUtf8(caption).replace("&", "&&"); }

// Typing stops at `max` characters, but a longer text that the program puts
// in (a stored setting) stays whole and can still be shortened: a length
// limit on the line edit itself would cut it.
class TypedLength : public QValidator {
 public:
  TypedLength(QLineEdit* edit, int max) : QValidator(edit), edit_(edit), max_(max) {}
  State validate(QString& input, int&) const override {
    return input.size() <= max_ || input.size() < edit_->text().size() ? Acceptable : Invalid;
  }

 private:
  QLineEdit* edit_;
  int max_;
};

// A control's tooltip from its hint; a control that may show its text cut
// shows the whole text instead while it does.
void setTip(QWidget* widget, const QString& tip) {
  if (auto* box = dynamic_cast<StreamBox*>(widget))
    box->setHintTip(tip);
  else if (auto* path = dynamic_cast<PathBox*>(widget))
    path->setHintTip(tip);
  else
    widget->setToolTip(tip);
}

// A label that stays within its room: where the font here is wider than the
// one the form was drawn for, the label's font is made smaller, never the
// text cut or run under the control beside it.
QLabel* fittedLabel(const QString& text, int room, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  if (room <= 0) return label;
  QFont font = label->font();
  while (QFontMetrics(font).horizontalAdvance(text) > room && font.pointSizeF() > 6) {
    font.setPointSizeF(font.pointSizeF() - 0.25);
    label->setFont(font);
  }
  return label;
}

}  // namespace

QString windowCaption() { return QStringLiteral("Tarnwick " TARNWICK_VERSION); }

// The controls, and the Window operations TfMain uses on them.
class MainWindow::Widgets : public Window {
 public:
  explicit Widgets(MainWindow& form) : form_(form) {}

  std::array<QWidget*, kControlCount> controls{};
  std::array<std::string, kControlCount> captions;
  std::array<std::string, kControlCount> hints;
  QTabWidget* PageControl = nullptr;
  std::array<QWidget*, kPageCount> pages{};
  LogView* reMessage = nullptr;
  QTreeWidget* tvXPL = nullptr;
  QSplitter* splXPL = nullptr;
  QPlainTextEdit* mXPL = nullptr;
  QLabel* imLogo = nullptr;
  StatusBar* statusBar = nullptr;
  QComboBox* cbTitle = nullptr;
  Anchors* form = nullptr;

  QWidget* at(ControlId id) const { return controls[static_cast<std::size_t>(id)]; }
  QPushButton* button(ControlId id) const { return static_cast<QPushButton*>(at(id)); }

  std::string text(ControlId id) const override {
    if (auto* edit = qobject_cast<QLineEdit*>(at(id))) return edit->text().toStdString();
    return caption(id);
  }
  void setText(ControlId id, std::string value) override {
    if (auto* path = dynamic_cast<PathBox*>(at(id)))
      path->setPath(fromUtf8(value));
    else if (auto* edit = qobject_cast<QLineEdit*>(at(id)))
      edit->setText(fromUtf8(value));
    else
      setCaption(id, std::move(value));
  }
  bool checked(ControlId id) const override {
    auto* box = qobject_cast<QAbstractButton*>(at(id));
    return box != nullptr && box->isChecked();
  }
  void setChecked(ControlId id, bool value) override {
    if (auto* box = qobject_cast<QAbstractButton*>(at(id))) box->setChecked(value);
  }
  // The control's own state: a page disabled around it does not count.
  bool enabled(ControlId id) const override { return !at(id)->testAttribute(Qt::WA_ForceDisabled); }
  void setEnabled(ControlId id, bool value) override { at(id)->setEnabled(value); }
  std::string caption(ControlId id) const override { return captions[static_cast<std::size_t>(id)]; }
  void setCaption(ControlId id, std::string value) override {
    if (auto* box = dynamic_cast<StreamBox*>(at(id)))
      box->setCaption(fromUtf8(value));
    else if (auto* button = qobject_cast<QAbstractButton*>(at(id)))
      button->setText(captionText(value));
    captions[static_cast<std::size_t>(id)] = std::move(value);
  }
  std::string hint(ControlId id) const override { return hints[static_cast<std::size_t>(id)]; }
  void setHint(ControlId id, std::string value) override {
    setTip(at(id), tooltipOf(value));
    hints[static_cast<std::size_t>(id)] = std::move(value);
  }
  void showPage(int index) override { PageControl->setCurrentIndex(index); }
  void appendLogLine(const LogLine& line) override { reMessage->appendLine(line); }
  void clearLog() override { reMessage->clearLines(); }
  void setStatusPanel(int panel, const std::string& shownText) override {
    statusBar->setPanel(panel, fromUtf8(shownText));
  }
  void setStatusHint(const std::string& hint) override { statusBar->setToolTip(fromUtf8(hint)); }
  void showProgress(const RunProgress& p) override { statusBar->showProgress(p); }
  void processMessages() override {
    if (form_.onProgressPoint) form_.onProgressPoint();
    QCoreApplication::processEvents();
  }
  // Painted at the next progress point, with whatever else changed by then.
  void repaint() override { form_.update(); }
  bool confirm(const std::string& question) override {
    QMessageBox box(QMessageBox::Question, "Confirm", fromUtf8(question), QMessageBox::Yes | QMessageBox::No, &form_);
    box.setObjectName("confirmation");
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
  }
  void setPlaylistTree(const std::vector<TreeNode>& roots) override {
    tvXPL->clear();
    for (const TreeNode& node : roots) {
      auto* root = new QTreeWidgetItem(tvXPL, QStringList(fromUtf8(node.text)));
      for (const std::string& child : node.children) new QTreeWidgetItem(root, QStringList(fromUtf8(child)));
    }
    // The title's tracks and chapters are what the user reads the playlist for.
    tvXPL->expandAll();
    form_.fitTree();
  }
  void setPlaylistMemo(const std::vector<std::string>& lines) override {
    QString text;
    for (const std::string& line : lines) {
      if (!text.isEmpty()) text += '\n';
      text += fromUtf8(line);
    }
    mXPL->setPlainText(text);
  }
  void setMemoVisible(bool visible) override { mXPL->setVisible(visible); }
  // Shown above the pages only while a disc is open; the pages give it room.
  void setTitles(const std::vector<std::string>& items, int chosen) override {
    const QSignalBlocker quiet(cbTitle);
    QStringList texts;
    for (const std::string& item : items) texts << fromUtf8(item);
    QStringList shown;
    for (int k = 0; k < cbTitle->count(); ++k) shown << cbTitle->itemText(k);
    if (shown != texts) {
      cbTitle->clear();
      cbTitle->addItems(texts);
    }
    cbTitle->setCurrentIndex(chosen);
    cbTitle->setVisible(!texts.isEmpty());
    form->moveDesign(PageControl, texts.isEmpty() ? kPagesDesign : kPagesBelowTitles);
  }

 private:
  MainWindow& form_;
};

MainWindow::MainWindow(SettingsStore& store, QWidget* parent)
    : QWidget(parent), store_(store), w_(std::make_unique<Widgets>(*this)), main_(*w_) {
  build();
  connectControls();
  main_.setSettingsHost(this);
}

// The filters look through w_, which is gone before QWidget deletes the
// tree and the splitter.
MainWindow::~MainWindow() {
  w_->tvXPL->removeEventFilter(this);
  w_->splXPL->removeEventFilter(this);
}

Window& MainWindow::window() { return *w_; }

void MainWindow::build() {
  setObjectName("fMain");
  setWindowTitle(windowCaption());
  QFont font;
  font.setFamilies({"Tahoma", "DejaVu Sans Condensed", "DejaVu Sans"});
  font.setPointSize(8);
  setFont(font);
  resize(kDefaultWidth, kDefaultHeight);
  // 370 x 380 outside: the design client area inside a classic frame.
  setMinimumSize(kDesignWidth, kDesignHeight);
  setAcceptDrops(true);

  auto* form = new Anchors(this, {kDesignWidth, kDesignHeight});
  w_->form = form;

  w_->PageControl = new QTabWidget(this);
  w_->PageControl->setObjectName("PageControl");
  form->add(w_->PageControl, kPagesDesign, kLT | kRight | kBottom);
  w_->cbTitle = new QComboBox(this);
  w_->cbTitle->setObjectName("cbTitle");
  w_->cbTitle->setToolTip("The titles of the disc: every command works on the one chosen");
  w_->cbTitle->setAcceptDrops(false);
  w_->cbTitle->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  form->add(w_->cbTitle, kTitlesDesign, kLT | kRight);
  w_->cbTitle->hide();
  for (int k = 0; k < kPageCount; ++k) {
    auto* page = new QWidget;
    page->setObjectName(kPages[k].name);
    page->setToolTip(kPages[k].hint);
    w_->PageControl->addTab(page, kPages[k].caption);
    w_->pages[static_cast<std::size_t>(k)] = page;
  }
  auto* statusPage = new Anchors(w_->pages[kStatusPage], kPageDesign);
  Anchors* pageAnchors[kPageCount] = {statusPage};
  for (int k : {1, 2, 3, kOptionPage}) pageAnchors[k] = new Anchors(w_->pages[static_cast<std::size_t>(k)], kPageDesign);
  Anchors* fileAnchors = nullptr;

  auto* gbFile = static_cast<QGroupBox*>(nullptr);
  for (const ControlRow& row : controlTable()) {
    QWidget* parentWidget = this;
    switch (row.parent) {
      case Parent::Form: break;
      case Parent::Page0: parentWidget = w_->pages[0]; break;
      case Parent::Page1: parentWidget = w_->pages[1]; break;
      case Parent::Page2: parentWidget = w_->pages[2]; break;
      case Parent::Page3: parentWidget = w_->pages[3]; break;
      case Parent::Page5: parentWidget = w_->pages[kOptionPage]; break;
      case Parent::File: parentWidget = gbFile; break;
    }
    QWidget* widget = nullptr;
    switch (row.kind) {
      case Kind::Edit: {
        auto* edit = new QLineEdit(fromUtf8(row.text), parentWidget);
        if (row.maxLength > 0) edit->setValidator(new TypedLength(edit, row.maxLength));
        widget = edit;
        break;
      }
      case Kind::FileBox: widget = new PathBox(parentWidget); break;
      case Kind::Button: widget = new QPushButton(fromUtf8(row.text), parentWidget); break;
      case Kind::FolderButton: {
        auto* button = new QPushButton(parentWidget);
        button->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
        widget = button;
        break;
      }
      case Kind::CheckBox: widget = new QCheckBox(fromUtf8(row.text), parentWidget); break;
      case Kind::StreamBox: widget = new StreamBox(fromUtf8(row.text), parentWidget); break;
      case Kind::Label: widget = fittedLabel(fromUtf8(row.text), row.rect.width(), parentWidget); break;
      case Kind::GroupBox:
        widget = gbFile = new QGroupBox(parentWidget);
        fileAnchors = new Anchors(gbFile, kFileGroupDesign);
        break;
    }
    widget->setObjectName(fromUtf8(row.name));
    setTip(widget, tooltipOf(row.hint));
    widget->setAcceptDrops(false);
    QRect rect = row.rect;
    if (rect.width() == 0) rect.setWidth(widget->sizeHint().width());
    switch (row.parent) {
      case Parent::Form: form->add(widget, rect, row.anchors, row.column); break;
      case Parent::File: fileAnchors->add(widget, rect, row.anchors, row.column); break;
      case Parent::Page0: pageAnchors[0]->add(widget, rect, row.anchors, row.column); break;
      case Parent::Page1: pageAnchors[1]->add(widget, rect, row.anchors, row.column); break;
      case Parent::Page2: pageAnchors[2]->add(widget, rect, row.anchors, row.column); break;
      case Parent::Page3: pageAnchors[3]->add(widget, rect, row.anchors, row.column); break;
      case Parent::Page5: pageAnchors[kOptionPage]->add(widget, rect, row.anchors, row.column); break;
    }

    for (int id = 0; id < kControlCount; ++id) {
      if (controlName(static_cast<ControlId>(id)) != row.name) continue;
      w_->controls[static_cast<std::size_t>(id)] = widget;
      w_->captions[static_cast<std::size_t>(id)] = row.kind == Kind::Edit ? "" : row.text;
      w_->hints[static_cast<std::size_t>(id)] = row.hint;
      if (auto* box = qobject_cast<QCheckBox*>(widget)) box->setChecked(row.checked);
      widget->setEnabled(row.enabled);
    }
  }

  QFont bold = font;
  bold.setBold(true);
  w_->at(ControlId::bDemux)->setFont(bold);
  w_->button(ControlId::bCheck)->setDefault(true);

  w_->reMessage = new LogView(w_->pages[kStatusPage]);
  w_->reMessage->setObjectName("reMessage");
  statusPage->add(w_->reMessage, {0, 27, 336, 161}, kLT | kRight | kBottom);

  // The XPL page: the tree at the left, the splitter, the memo filling the rest.
  w_->splXPL = new QSplitter(Qt::Horizontal, w_->pages[kXplPage]);
  w_->splXPL->setObjectName("splXPL");
  w_->splXPL->setChildrenCollapsible(false);
  w_->tvXPL = new QTreeWidget(w_->splXPL);
  w_->tvXPL->setObjectName("tvXPL");
  w_->tvXPL->setHeaderHidden(true);
  w_->tvXPL->setIndentation(19);
  w_->tvXPL->setSelectionMode(QAbstractItemView::ExtendedSelection);
  w_->tvXPL->setToolTip("Infos from your XPL file");
  w_->tvXPL->setMinimumWidth(50);
  w_->setPlaylistTree(initialPlaylistTree());
  w_->mXPL = new QPlainTextEdit(w_->splXPL);
  w_->mXPL->setObjectName("mXPL");
  w_->mXPL->setMinimumWidth(50);
  w_->mXPL->setLineWrapMode(QPlainTextEdit::NoWrap);
  w_->mXPL->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  w_->mXPL->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  w_->mXPL->setToolTip("This is your XPL file (part of it)");
  QFont courier;
  courier.setFamilies({"Courier New", "DejaVu Sans Mono"});
  courier.setStyleHint(QFont::Monospace);
  courier.setPointSize(8);
  w_->mXPL->setFont(courier);
  // Both grow with the window, each by its share of the page.
  w_->splXPL->setStretchFactor(0, 1);
  w_->splXPL->setStretchFactor(1, 1);
  auto* xplPage = new Anchors(w_->pages[kXplPage], kPageDesign);
  xplPage->add(w_->splXPL, {0, 0, kPageDesign.width(), kPageDesign.height()}, kLT | kRight | kBottom);
  // Files dropped anywhere on the window reach WMDropFiles, never a view's
  // own text or item drop.
  for (QAbstractScrollArea* view : std::initializer_list<QAbstractScrollArea*>{w_->reMessage, w_->tvXPL, w_->mXPL}) {
    view->setAcceptDrops(false);
    view->viewport()->setAcceptDrops(false);
  }

  w_->imLogo = new LogoLabel(this);
  w_->imLogo->setObjectName("imLogo");
  w_->imLogo->setToolTip("HD DVD logo :-)");
  form->add(w_->imLogo, {153, 292, 125, 31}, kBottom);

  w_->statusBar = new StatusBar(this);
  w_->statusBar->setObjectName("StatusBar");
  w_->statusBar->setToolTip(" Select or drop an EVO file to demux");
  form->add(w_->statusBar, {0, kDesignHeight - 21, kDesignWidth, 21}, kLeft | kRight | kBottom);

  // Tab order; the two file boxes are not tab stops.
  QWidget* order[] = {w_->at(ControlId::bbEVO),  w_->at(ControlId::bCheck),   w_->at(ControlId::bbXPL),
                      w_->at(ControlId::bReadXPL), w_->at(ControlId::bDemux),   w_->at(ControlId::bRebuild),
                      w_->at(ControlId::bMkv),    w_->cbTitle, w_->PageControl,   w_->at(ControlId::bCancel)};
  for (std::size_t k = 0; k + 1 < std::size(order); ++k) setTabOrder(order[k], order[k + 1]);
  // What the pages hold comes between the page control and Cancel.
  std::vector<QWidget*> inPages;
  for (QWidget* at = w_->PageControl->nextInFocusChain(); at != w_->PageControl; at = at->nextInFocusChain())
    if (w_->PageControl->isAncestorOf(at) && (at->focusPolicy() & Qt::TabFocus) == Qt::TabFocus) inPages.push_back(at);
  QWidget* previous = w_->PageControl;
  for (QWidget* widget : inPages) {
    setTabOrder(previous, widget);
    previous = widget;
  }
  setTabOrder(previous, w_->at(ControlId::bCancel));
  w_->PageControl->setCurrentIndex(kStatusPage);
}

void MainWindow::connectControls() {
  const auto onClick = [this](ControlId id, auto handler) {
    connect(w_->button(id), &QPushButton::clicked, this, handler);
  };
  onClick(ControlId::bbEVO, [this] { onEvoBrowse(); });
  onClick(ControlId::bbXPL, [this] { onXplBrowse(); });
  onClick(ControlId::bCheck, [this] { runCommand([this] { main_.bCheckClick(); }); });
  onClick(ControlId::bReadXPL, [this] { onReadXplClicked(); });
  onClick(ControlId::bDemux, [this] { runCommand([this] { main_.bDemuxClick(); }); });
  onClick(ControlId::bRebuild, [this] { onRebuildClicked(); });
  onClick(ControlId::bMkv, [this] { runCommand([this] { main_.bMkvClick(); }); });
  onClick(ControlId::bCancel, [this] { guarded([this] { main_.bCancelClick(); }); });
  onClick(ControlId::bClear, [this] { main_.bClearClick(); });
  // The user's pick only: the list set by TfMain sends nothing.
  connect(w_->cbTitle, &QComboBox::activated, this, [this](int index) {
    guarded([&] { main_.chooseTitle(index); });
    focusReadEvo();
  });
  for (ControlId box : outputBoxes()) {
    auto* widget = static_cast<QCheckBox*>(w_->at(box));
    connect(widget, &QCheckBox::clicked, this, [this, box](bool ticked) { onStreamBoxClicked(box, ticked); });
  }
  for (int n = 2; n < 8; ++n) {
    auto* widget = static_cast<QCheckBox*>(w_->at(videoBox(n)));
    connect(widget, &QCheckBox::clicked, this, [this, n](bool ticked) { onStreamBoxClicked(videoBox(n), ticked); });
  }
  // The tree's width as the user last saw it, dragged or grown with the
  // window, is what the settings keep.
  w_->tvXPL->installEventFilter(this);
  w_->splXPL->installEventFilter(this);
}

void MainWindow::onReadXplClicked() {
  runCommand([this] { main_.bReadXPLClick(); });
}

void MainWindow::onRebuildClicked() {
  runCommand([this] { main_.bRebuildClick(); });
}

// The box already shows the new state; TfMain decides whether it stands.
void MainWindow::onStreamBoxClicked(ControlId box, bool ticked) {
  w_->setChecked(box, !ticked);
  main_.toggleBox(box, ticked);
}

void MainWindow::onEvoBrowse() {
  if (main_.busy()) return;
  // After a disc, the next one is looked for beside it; a title inside an
  // image has no folder of this computer to start in.
  const FileSelection& files = main_.files();
  QString start = fromUtf8(files.EvoFolder);
  if (!files.DiscFolder.empty() && (!main_.titles().empty() || start.isEmpty() || !QDir(start).exists()))
    start = fromUtf8(files.DiscFolder);
  QFileDialog dialog(this, "Choose the EVO file to demux", start);
  dialog.setObjectName("odEVOfile");
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  // File systems here tell ".evo" from ".EVO"; the dialog should not. An
  // image is a file like the EVO, so the same dialog offers it.
  dialog.setNameFilters({"EVOB files (HD DVD) (*.evo *.EVO *.Evo)", "VOB files (DVD) (*.vob *.VOB *.Vob)",
                         "Disc images (*.iso *.ISO *.img *.IMG *.udf *.UDF)", "All files (*)"});
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setOption(QFileDialog::DontResolveSymlinks);
  dialog.setDefaultSuffix("EVO");
  // A file dialog picks files, and a disc copied to a folder is a folder:
  // the dialog's own button opens the folder it shows, when that holds a
  // disc's HVDVD_TS or VIDEO_TS folder. (Our dialog, not the desktop's, to
  // have room for it.)
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  auto* discButton = new QPushButton("Open this folder as a disc", &dialog);
  discButton->setObjectName("bOpenDiscFolder");
  const auto holdsDisc = [](const QString& folder) {
    const QStringList names = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return std::any_of(names.begin(), names.end(), [](const QString& name) {
      return name.compare("HVDVD_TS", Qt::CaseInsensitive) == 0 || name.compare("VIDEO_TS", Qt::CaseInsensitive) == 0;
    });
  };
  bool discChosen = false;
  connect(discButton, &QPushButton::clicked, &dialog, [&] {
    const QString folder = dialog.directory().absolutePath();
    if (!holdsDisc(folder)) {
      QMessageBox::information(&dialog, dialog.windowTitle(),
                               QDir::toNativeSeparators(folder) +
                                   " holds no disc: a disc's folder holds HVDVD_TS (or a DVD's VIDEO_TS).");
      return;
    }
    discChosen = true;
    // QDialog's own: the file dialog's accept would want a file selected.
    dialog.QDialog::done(QDialog::Accepted);
  });
  if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
    grid->addWidget(discButton, grid->rowCount(), 0, 1, grid->columnCount(), Qt::AlignLeft);
  if (dialog.exec() != QDialog::Accepted) return;
  if (!discChosen && dialog.selectedFiles().isEmpty()) return;
  const std::string path =
      nativePath(discChosen ? dialog.directory().absolutePath() : dialog.selectedFiles().front());
  guarded([&] { main_.bbEVOClick(path); });
  focusReadEvo();
}

void MainWindow::focusReadEvo() {
  if (w_->at(ControlId::bCheck)->isEnabled()) w_->at(ControlId::bCheck)->setFocus();
}

void MainWindow::fitTree() {
  QTreeWidget* tree = w_->tvXPL;
  if (!w_->splXPL->isVisible()) return;
  // The widest label at its depth, the frame and a scroll bar's room.
  int needed = 0;
  for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
    int depth = 0;
    for (QTreeWidgetItem* up = (*it)->parent(); up != nullptr; up = up->parent()) ++depth;
    needed = std::max(needed, (depth + 1) * tree->indentation() + tree->fontMetrics().horizontalAdvance((*it)->text(0)));
  }
  needed += 2 * tree->frameWidth() + tree->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8;
  const int total = w_->splXPL->width() - w_->splXPL->handleWidth();
  const int width = std::min(needed, total * 3 / 5);
  if (width <= w_->tvXPL->width()) return;
  treeWidth_ = width;
  w_->splXPL->setSizes({width, std::max(50, total - width)});
}

void MainWindow::placeTree() {
  const int rest = std::max(50, w_->splXPL->width() - treeWidth_ - w_->splXPL->handleWidth());
  w_->splXPL->setSizes({treeWidth_, rest});
  treeToPlace_ = !w_->splXPL->isVisible();
}

void MainWindow::onXplBrowse() {
  if (main_.busy()) return;
  const FileSelection& files = main_.files();
  QFileDialog dialog(this, QString(), fromUtf8(files.XplFolder));
  dialog.setObjectName("odXPL");
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters({"XPL (VPLST000.XPL vplst000.xpl)"});
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setDefaultSuffix("xpl");
  if (!files.XplFileName.empty()) dialog.selectFile(fromUtf8(files.XplFileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const std::string path = nativePath(dialog.selectedFiles().front());
  guarded([&] { main_.bbXPLClick(path); });
}

void MainWindow::runCommand(const std::function<void()>& command) {
  if (main_.busy()) return;
  // Nothing the run depends on may change under it.
  QWidget* options = w_->pages[kOptionPage];
  options->setEnabled(false);
  w_->cbTitle->setEnabled(false);
  setAcceptDrops(false);
  guarded(command);
  options->setEnabled(true);
  w_->cbTitle->setEnabled(true);
  setAcceptDrops(true);
  w_->statusBar->endProgress();
  if (closeAfterRun_) {
    closeAfterRun_ = false;
    close();
  }
}

void MainWindow::guarded(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    showError(QString::fromUtf8(e.what()));
  }
}

void MainWindow::showError(const QString& message) {
  QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(), message, QMessageBox::Ok, this);
  box.setObjectName("error");
  box.exec();
}

void MainWindow::dropAtStart(const QStringList& paths) { startFiles_ = paths; }

void MainWindow::firstActivation() {
  if (activated_) return;
  activated_ = true;
  guarded([this] { main_.FormActivate(); });
  if (!startFiles_.isEmpty()) {
    std::vector<std::string> paths;
    for (const QString& path : startFiles_) paths.push_back(nativePath(path));
    startFiles_.clear();
    guarded([&] { main_.WMDropFiles(paths); });
    focusReadEvo();
  }
}

bool MainWindow::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::WindowActivate: firstActivation(); break;
    // Where no window manager activates the window, the settings still load
    // as soon as it is shown.
    case QEvent::Show:
      if (!activated_) QTimer::singleShot(0, this, [this] { firstActivation(); });
      break;
    // The window manager's frame has come: the saved place can be restored.
    case QEvent::Move:
    case QEvent::Resize:
      if (savedPlacement_ && !(frameGeometry().size() - size()).isEmpty())
        QTimer::singleShot(0, this, [this] { restoreFramePlacement(); });
      break;
    default: break;
  }
  return QWidget::event(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  switch (main_.FormCloseQuery()) {
    case TfMain::CloseAnswer::Close:
      guarded([this] { main_.FormClose(); });
      event->accept();
      return;
    case TfMain::CloseAnswer::AfterRun: closeAfterRun_ = true; break;
    case TfMain::CloseAnswer::Stay: break;
  }
  event->ignore();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == w_->splXPL && event->type() == QEvent::Show && treeToPlace_) placeTree();
  if (watched == w_->tvXPL && event->type() == QEvent::Resize && w_->tvXPL->isVisible() && !treeToPlace_)
    treeWidth_ = w_->tvXPL->width();
  return QWidget::eventFilter(watched, event);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeLogo();
}

// About centred in wider windows, never over the buttons: hidden where
// there is no room between MKV and Cancel.
void MainWindow::placeLogo() {
  constexpr int kGap = 6;
  const int outerWidth = frameGeometry().width();
  const int left = std::max(w_->at(ControlId::bMkv)->geometry().right() + 1 + kGap, outerWidth / 2 - 63);
  w_->imLogo->move(left, w_->imLogo->y());
  w_->imLogo->setVisible(left + w_->imLogo->width() + kGap <= w_->at(ControlId::bCancel)->x());
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!main_.busy() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths.push_back(nativePath(url.toLocalFile()));
  event->acceptProposedAction();
  guarded([&] { main_.WMDropFiles(paths); });
  focusReadEvo();
}

// Enter presses the focused button, else the default button "Read EVO".
void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    QPushButton* target = focused != nullptr ? focused : w_->button(ControlId::bCheck);
    if (target->isEnabled()) target->click();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

Placement MainWindow::placement() const {
  // Closed before the frame came: the window never stood where it was
  // saved, so that place is kept rather than the one taken meanwhile.
  if (savedPlacement_) {
    Placement p = *savedPlacement_;
    p.TreeWidth = treeWidth_;
    return p;
  }
  Placement p;
  const Qt::WindowStates state = windowState();
  p.WindowState = (state & Qt::WindowMaximized) != 0   ? Placement::kMaximized
                  : (state & Qt::WindowMinimized) != 0 ? Placement::kMinimized
                                                       : Placement::kNormal;
  const QRect frame = frameGeometry();
  p.Top = frame.top();
  p.Left = frame.left();
  p.Width = frame.width();
  p.Height = frame.height();
  p.TreeWidth = treeWidth_;
  return p;
}

void MainWindow::setPlacement(const Placement& p) {
  // Nothing saved: the window stays where the window manager put it.
  Placement current = placement();
  current.TreeWidth = p.TreeWidth;
  if (!(p == current)) {
    // Until the window manager has framed the window, its frame is not
    // known, and a size asked for meanwhile may reach the window manager
    // after the one asked for once it is: the window waits for its frame.
    // Where no window manager frames windows, the saved frame is the window.
    if (p.WindowState == Placement::kNormal) {
      savedPlacement_ = p;
      frameWait_.start();
      if (!framed()) frameWait_ = QElapsedTimer();
      restoreFramePlacement();
    } else if (p.Width > 0 && p.Height > 0) {
      // The size to come back to from maximized or minimized.
      const QSize frameExtra = frameGeometry().size() - size();
      resize(p.Width - frameExtra.width(), p.Height - frameExtra.height());
      move(p.Left, p.Top);
    }
  }
  treeWidth_ = std::max(50, p.TreeWidth);
  placeTree();
  if (p.WindowState == Placement::kMaximized)
    setWindowState(windowState() | Qt::WindowMaximized);
  else if (p.WindowState == Placement::kMinimized)
    setWindowState(windowState() | Qt::WindowMinimized);
}

bool MainWindow::framed() {
  const QString platform = QGuiApplication::platformName();
  return platform != "offscreen" && platform != "minimal";
}

void MainWindow::restoreFramePlacement() {
  const QSize extra = frameGeometry().size() - size();
  if (!savedPlacement_) return;
  if (extra.isEmpty() && frameWait_.isValid() && frameWait_.elapsed() < kFrameWaitMs) {
    // The frame comes with the window manager's answer, a moment after the
    // window is shown (a move or resize tells of it sooner); without a
    // window manager it never does. A frame restored as the window's own
    // size would be saved as a larger frame at the next close.
    if (!framePollPending_) {
      framePollPending_ = true;
      QTimer::singleShot(kFramePollMs, this, [this] {
        framePollPending_ = false;
        restoreFramePlacement();
      });
    }
    return;
  }
  const std::optional<Placement> p = std::exchange(savedPlacement_, std::nullopt);
  if (p && p->WindowState == Placement::kNormal && p->Width > 0 && p->Height > 0) {
    resize(std::max(minimumWidth(), p->Width - extra.width()), std::max(minimumHeight(), p->Height - extra.height()));
    move(p->Left, p->Top);
  }
  // A place saved on a screen that is gone: back onto the nearest one, the
  // title bar in reach.
  const QRect placed = frameGeometry();
  const QRect titleBar(placed.left(), placed.top(), placed.width(), std::max(8, extra.height()));
  for (const QScreen* screen : QGuiApplication::screens())
    if (screen->availableGeometry().intersects(titleBar)) return;
  const QScreen* screen = QGuiApplication::screenAt(placed.center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  move(std::clamp(placed.left(), area.left(), std::max(area.left(), area.right() - placed.width())),
       std::clamp(placed.top(), area.top(), std::max(area.top(), area.bottom() - placed.height())));
}

}  // namespace tarnwick::qt

