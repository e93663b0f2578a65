#include "window_fixture.h"

#include <QDir>
#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QUrl>

namespace tarnwick::test {

QString makeSampleDisc(const QTemporaryDir& dir, int seconds) {
  const QString disc = dir.filePath("DISC");
  QProcess mkdisc;
  mkdisc.start(TARNWICK_MKDISC, {disc, "--seconds", QString::number(seconds)});
  if (!mkdisc.waitForFinished(120000) || mkdisc.exitStatus() != QProcess::NormalExit || mkdisc.exitCode() != 0)
    return {};
  return disc;
}

ShownWindow::ShownWindow(SettingsStore* store) {
  form = std::make_unique<qt::MainWindow>(store != nullptr ? *store : ownStore);
  form->show();
  // Activation resets the lists: the reset captions show that it ran.
  QTRY_COMPARE(form->findChild<QCheckBox*>("cbAudio00")->text(), QString("No audio stream"));
}

ShownWindow::~ShownWindow() {
  // Tests that close the window themselves have done so already.
  if (form && form->isVisible()) {
    form->close();
  }
}

void ShownWindow::drop(const QStringList& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& path : paths) urls.push_back(QUrl::fromLocalFile(path));
  data.setUrls(urls);
  const QPointF at(form->width() / 2.0, 10);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form.get(), &enter);
  if (!enter.isAccepted()) return;
  QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form.get(), &dropped);
}

void whenModal(std::function<void(QWidget*)> answer) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, answer] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    answer(modal);
  });
  timer->start();
}

void answerMessageBox(int button, QString* text) {
  whenModal([button, text](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) {
      modal->close();
      return;
    }
    if (text != nullptr) *text = box->text();
    box->button(static_cast<QMessageBox::StandardButton>(button))->click();
  });
}

}  // namespace tarnwick::test
