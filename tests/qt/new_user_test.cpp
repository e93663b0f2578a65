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

  void playlistTreeShowsItsLabels() {
    ShownWindow w;
    w.drop({disc_ + "/HVDVD_TS/FEATURE_1.EVO"});
    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    QTest::mouseClick(w.button("bReadXPL"), Qt::LeftButton);
    auto* tree = w.find<QTreeWidget>("tvXPL");
    // Labels of the lengths a title and a track usually have; longer ones
    // share the page with the listing and scroll.
    int labels = 0;
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
      const QString text = (*it)->text(0);
      if (!text.startsWith("Title: ") && !text.startsWith("DD+.")) continue;
      const QRect shown = tree->visualItemRect(*it);
      QVERIFY2(shown.left() + tree->fontMetrics().horizontalAdvance(text) <= tree->viewport()->width(),
               qPrintable(text));
      ++labels;
    }
    QCOMPARE(labels, 2);
    QVERIFY(w.find<QPlainTextEdit>("mXPL")->width() >= 100);
  }
};

}  // namespace tarnwick::test

QTEST_MAIN(tarnwick::test::NewUserTest)
#include "new_user_test.moc"
