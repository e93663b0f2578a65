// Choosing files in the window: a drop, the browse dialog (chosen and
// cancelled), and files named on the command line.

#include <QComboBox>
#include <QFileDialog>
#include <QTabWidget>
#include <QTest>

#include "window_fixture.h"

namespace tarnwick::test {

class FileChoiceTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString disc_;
  QString feature1() const { return disc_ + "/HVDVD_TS/FEATURE_1.EVO"; }

 private slots:
  void initTestCase() {
    disc_ = makeSampleDisc(dir_, 2);
    QVERIFY2(!disc_.isEmpty(), "tarnwick-mkdisc failed");
  }

  // FEATURE_1.EVO from a disc's HVDVD_TS folder: the EVO box, the playlist
  // of the same disc, Read EVO and Read XPL enabled; only the first of
  // several files counts, and a drop keeps the lists of an earlier read.
  void dropFromADiscFolder() {
    ShownWindow w;
    QVERIFY(!w.button("bCheck")->isEnabled());
    QVERIFY(!w.button("bReadXPL")->isEnabled());
    w.drop({feature1(), dir_.filePath("notes.txt")});
    QCOMPARE(w.edit("eEVOfile")->text(), feature1());
    QCOMPARE(w.edit("eXPLfile")->text(), disc_ + "/ADV_OBJ/VPLST000.XPL");
    QVERIFY(w.button("bCheck")->isEnabled());
    QVERIFY(w.button("bReadXPL")->isEnabled());
    QCOMPARE(w.form->tfMain().files().OutputBaseName, std::string("FEATURE_1"));
    QVERIFY(!w.button("bDemux")->isEnabled());

    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    QCOMPARE(w.box("cbAudio01")->text(), QString("DTSHD.stream.01"));
    // Another file dropped: the boxes of the read stay until the next reset.
    w.drop({disc_ + "/HVDVD_TS/FEATURE_2.EVO"});
    QCOMPARE(w.edit("eEVOfile")->text(), disc_ + "/HVDVD_TS/FEATURE_2.EVO");
    QVERIFY(w.box("cbAudio01")->isChecked());
    QCOMPARE(w.box("cbAudio01")->text(), QString("DTSHD.stream.01"));
    QVERIFY(w.button("bDemux")->isEnabled());
    // Any other extension changes nothing.
    w.drop({dir_.filePath("notes.txt")});
    QCOMPARE(w.edit("eEVOfile")->text(), disc_ + "/HVDVD_TS/FEATURE_2.EVO");
  }

  // The browse button: a cancelled dialog leaves the boxes and the lists as
  // they were; a chosen file replaces the EVO, resets the lists and moves
  // the focus to Read EVO. The dialog opens in the EVO's folder.
  void browseChosenAndCancelled() {
    ShownWindow w;
    w.drop({feature1()});
    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    QVERIFY(w.box("cbVideo0")->isChecked());

    QString title, folder;
    whenModal([&](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      QVERIFY(dialog != nullptr);
      title = dialog->windowTitle();
      folder = dialog->directory().absolutePath();
      dialog->reject();
    });
    QTest::mouseClick(w.button("bbEVO"), Qt::LeftButton);
    QCOMPARE(title, QString("Choose the EVO file to demux"));
    QCOMPARE(folder, disc_ + "/HVDVD_TS");
    QCOMPARE(w.edit("eEVOfile")->text(), feature1());
    QVERIFY(w.box("cbVideo0")->isChecked());
    QVERIFY(w.button("bDemux")->isEnabled());

    const QString second = disc_ + "/HVDVD_TS/FEATURE_2.EVO";
    whenModal([&](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      QVERIFY(dialog != nullptr);
      dialog->selectFile(second);
      QMetaObject::invokeMethod(dialog, "accept");
    });
    QTest::mouseClick(w.button("bbEVO"), Qt::LeftButton);
    QCOMPARE(w.edit("eEVOfile")->text(), second);
    QVERIFY(!w.box("cbVideo0")->isChecked());
    QCOMPARE(w.box("cbVideo0")->text(), QString("No video stream"));
    QVERIFY(!w.button("bDemux")->isEnabled());
    QCOMPARE(w.form->focusWidget(), w.button("bCheck"));
    // Enter presses the focused Read EVO.
    QTest::keyClick(w.form.get(), Qt::Key_Return);
    QVERIFY(w.box("cbVideo0")->isChecked());
  }

  // A disc folder dropped: the title chooser shows between the file rows
  // and the pages (which give it room), the feature chosen and its file in
  // the EVO box; the next title picked from the keyboard takes the EVO box
  // and Read EVO reads it; an EVO dropped takes the chooser away and the
  // pages back to their place.
  void discDroppedTitleChosen() {
    ShownWindow w;
    auto* titles = w.find<QComboBox>("cbTitle");
    auto* pages = w.find<QTabWidget>("PageControl");
    QVERIFY(titles != nullptr && !titles->isVisible());
    const QRect pagesAlone = pages->geometry();

    w.drop({disc_});
    QVERIFY(titles->isVisible());
    QCOMPARE(titles->count(), 3);
    QCOMPARE(titles->currentIndex(), 0);
    QCOMPARE(titles->itemText(0), QString("1  The Sample Feature  0:00:04  (main feature)"));
    QCOMPARE(w.edit("eEVOfile")->text(), feature1());
    QVERIFY(titles->geometry().top() > w.button("bReadXPL")->geometry().bottom());
    QVERIFY(titles->geometry().bottom() < pages->geometry().top());
    QCOMPARE(pages->geometry().bottom(), pagesAlone.bottom());
    QCOMPARE(titles->geometry().left(), pagesAlone.left());
    QCOMPARE(titles->geometry().right(), pagesAlone.right());
    if (qEnvironmentVariableIsSet("TARNWICK_CHOOSER_PNG"))
      w.form->grab().save(qEnvironmentVariable("TARNWICK_CHOOSER_PNG"));

    titles->setFocus();
    QTest::keyClick(titles, Qt::Key_Down);
    QCOMPARE(titles->currentIndex(), 1);
    QCOMPARE(w.edit("eEVOfile")->text(), disc_ + "/HVDVD_TS/EXTRA.EVO");
    QCOMPARE(w.form->focusWidget(), w.button("bCheck"));
    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    QVERIFY(w.box("cbVideo0")->isChecked());
    QVERIFY(w.button("bRebuild")->isEnabled());

    w.drop({feature1()});
    QVERIFY(!titles->isVisible());
    QCOMPARE(pages->geometry(), pagesAlone);
    QCOMPARE(w.edit("eEVOfile")->text(), feature1());
  }

  // The browse dialog opens a disc folder as a drop does, by its own button.
  void discFolderChosenInTheDialog() {
    ShownWindow w;
    whenModal([&](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      QVERIFY(dialog != nullptr);
      auto* open = dialog->findChild<QPushButton*>("bOpenDiscFolder");
      QVERIFY(open != nullptr);
      dialog->setDirectory(disc_);
      QTest::mouseClick(open, Qt::LeftButton);
    });
    QTest::mouseClick(w.button("bbEVO"), Qt::LeftButton);
    auto* titles = w.find<QComboBox>("cbTitle");
    QVERIFY(titles->isVisible());
    QCOMPARE(titles->count(), 3);
    QCOMPARE(w.edit("eEVOfile")->text(), feature1());
  }

  // tarnwick FILE: taken as a drop once the settings are loaded, so the
  // stored folders do not undo it.
  void fileOnTheCommandLine() {
    MemorySettingsStore store;
    store.set("EVOdir", "/elsewhere/");
    qt::MainWindow form(store);
    form.dropAtStart({feature1()});
    form.show();
    QTRY_COMPARE(form.findChild<QLineEdit*>("eEVOfile")->text(), feature1());
    QCOMPARE(form.tfMain().files().EvoFolder, (disc_ + "/HVDVD_TS/").toStdString());
    QVERIFY(form.findChild<QPushButton*>("bCheck")->isEnabled());
    form.close();
  }
};

}  // namespace tarnwick::test

QTEST_MAIN(tarnwick::test::FileChoiceTest)
#include "file_choice_test.moc"
