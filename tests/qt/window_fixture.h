#pragma once
// What the window scenarios share: a shown window over a store, the sample
// disc, widgets found by their control names, and answers to modal dialogs.

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/qt/main_window.h"
#include "app/settings.h"

namespace tarnwick::test {

// The sample disc from tarnwick-mkdisc, DISC/HVDVD_TS/FEATURE_1.EVO and
// FEATURE_2.EVO, each `seconds` long. Empty when it could not be made.
QString makeSampleDisc(const QTemporaryDir& dir, int seconds);

// A window over an in-memory store, shown and activated.
struct ShownWindow {
  explicit ShownWindow(SettingsStore* store = nullptr);
  ~ShownWindow();
  ShownWindow(const ShownWindow&) = delete;
  ShownWindow& operator=(const ShownWindow&) = delete;

  template <class T = QWidget>
  T* find(const char* name) const {
    return form->findChild<T*>(QString::fromLatin1(name));
  }
  QPushButton* button(const char* name) const { return find<QPushButton>(name); }
  QCheckBox* box(const char* name) const { return find<QCheckBox>(name); }
  QLineEdit* edit(const char* name) const { return find<QLineEdit>(name); }
  // Drops files on the window as the desktop does.
  void drop(const QStringList& paths);

  MemorySettingsStore ownStore;
  std::unique_ptr<qt::MainWindow> form;
};

// Calls `answer` with the next modal dialog as soon as it is open.
void whenModal(std::function<void(QWidget*)> answer);
// Presses `button` (QMessageBox::Yes, No, Ok) in the next message box and
// keeps its text in `text`, when given.
void answerMessageBox(int button, QString* text = nullptr);

}  // namespace tarnwick::test
