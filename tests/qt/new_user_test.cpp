// What a new user meets first: a file dropped or named on the command line
// is ready for Enter, and the playlist page shows its labels.

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "window_fixture.h"

namespace tarnwick::test {

class NewUserTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString disc_;

  // Enter as the user presses it, on whatever has the focus.
  static void pressEnter(QWidget* window) {
    QWidget* target = window->focusWidget() != nullptr ? window->focusWidget() : window;
    QTest::keyClick(target, Qt::Key_Return);
  }
  static bool logHas(const ShownWindow& w, const QString& text) {
    return w.find<QPlainTextEdit>("reMessage")->toPlainText().contains(text);
  }

 private slots:
  void initTestCase() {
    disc_ = makeSampleDisc(dir_, 1);
    QVERIFY2(!disc_.isEmpty(), "tarnwick-mkdisc failed");
  }

  // The browse button had the focus, so Enter opened a file dialog.
  void enterReadsAfterADrop() {
    ShownWindow w;
    w.button("bbEVO")->setFocus();
    w.drop({disc_ + "/HVDVD_TS/FEATURE_1.EVO"});
    QCOMPARE(w.form->focusWidget(), w.button("bCheck"));
    pressEnter(w.form.get());
    QVERIFY(logHas(w, "Done."));
  }

  void enterReadsAFileNamedAtStart() {
    MemorySettingsStore store;
    qt::MainWindow form(store);
    form.dropAtStart({disc_ + "/HVDVD_TS/FEATURE_1.EVO"});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_COMPARE(form.focusWidget(), form.findChild<QWidget*>("bCheck"));
  }

  // At the first size the tree shows every label whole, the longest track
  // description too; the tree and the listing both grow with the window.
  void playlistTreeShowsItsLabels() {
    ShownWindow w;
    w.drop({disc_ + "/HVDVD_TS/FEATURE_1.EVO"});
    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    QTest::mouseClick(w.button("bReadXPL"), Qt::LeftButton);
    auto* tree = w.find<QTreeWidget>("tvXPL");
    auto* memo = w.find<QPlainTextEdit>("mXPL");
    QStringList labels;
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
      const QString text = (*it)->text(0);
      const QRect shown = tree->visualItemRect(*it);
      QVERIFY2(shown.left() + tree->fontMetrics().horizontalAdvance(text) <= tree->viewport()->width(),
               qPrintable(text));
      labels << text;
    }
    QVERIFY(labels.contains("DTS-HD.2ch.stream.01.English Director's Commentary"));
    QVERIFY(memo->width() >= 200);

    const int treeBefore = tree->width();
    const int memoBefore = memo->width();
    w.form->resize(w.form->width() + 200, w.form->height());
    QVERIFY(tree->width() > treeBefore);
    QVERIFY(memo->width() > memoBefore);
  }
};

}  // namespace tarnwick::test

QTEST_MAIN(tarnwick::test::NewUserTest)
#include "new_user_test.moc"
