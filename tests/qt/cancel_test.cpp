// Stopping a Demux: Cancel answered No, then Yes; and closing the window in
// the middle of a run.

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>

#include "window_fixture.h"

namespace tarnwick::test {

class CancelTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString disc_;
  QString feature1() const { return disc_ + "/HVDVD_TS/FEATURE_1.EVO"; }

  // A window after Read EVO, writing into its own output folder.
  void readFeature(ShownWindow& w, const QString& out) {
    QDir().mkpath(out);
    w.edit("eWorkdir")->setText(out);
    w.drop({feature1()});
    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    QVERIFY(w.button("bDemux")->isEnabled());
  }

 private slots:
  void initTestCase() {
    // Several progress points (one per 4 MiB) in each file.
    disc_ = makeSampleDisc(dir_, 12);
    QVERIFY2(!disc_.isEmpty(), "tarnwick-mkdisc failed");
  }

  // No, by Enter on the confirmation as it opens: the run goes on with the
  // same boxes ticked and the options as the user left them (the settings
  // are not read again when the window takes the focus back). Yes: the run
  // stops and its outputs are closed.
  void cancelAnsweredNoThenYes() {
    MemorySettingsStore store;
    store.set("AudioExt", std::string("mpa"));
    ShownWindow w(&store);
    const QString out = dir_.filePath("out-cancel");
    readFeature(w, out);
    w.edit("eAudioExt")->setText("ac3");

    int point = 0;
    QString question, confirmation;
    bool stillTicked = false;
    QString audioExt;
    w.form->onProgressPoint = [&] {
      ++point;
      if (point == 1) {
        whenModal([&](QWidget* box) {
          confirmation = box->objectName();
          question = qobject_cast<QMessageBox*>(box)->text();
          QTest::keyClick(box->focusWidget() != nullptr ? box->focusWidget() : box, Qt::Key_Return);
        });
        QTest::mouseClick(w.button("bCancel"), Qt::LeftButton);
      } else if (point == 2) {
        // The boxes are locked: a click changes nothing the run depends on.
        w.box("cbAudio02")->click();
        stillTicked = w.box("cbVideo0")->isChecked() && w.box("cbAudio02")->isChecked() &&
                      !w.box("cbAudio02")->isEnabled() && !w.find("tsOption")->isEnabled();
        audioExt = w.edit("eAudioExt")->text();
        answerMessageBox(QMessageBox::Yes);
        QTest::mouseClick(w.button("bCancel"), Qt::LeftButton);
      }
    };
    QTest::mouseClick(w.button("bDemux"), Qt::LeftButton);
    w.form->onProgressPoint = nullptr;

    QCOMPARE(confirmation, QString("confirmation"));
    QCOMPARE(question, QString("Are you sure to stop demuxing?"));
    QVERIFY(stillTicked);
    QCOMPARE(audioExt, QString("ac3"));
    // Stopped at the chunk after the second point: the first file was not
    // read to its end and the second not at all.
    QCOMPARE(point, 2);
    const QStringList all = w.find<QPlainTextEdit>("reMessage")->toPlainText().split('\n');
    // The Demux's own lines, after those of Read EVO.
    const QStringList log = all.mid(all.lastIndexOf("Opening file FEATURE_1.EVO"));
    QVERIFY(log.contains("Creating " + out + "/FEATURE_1_FEATURE_2.H.264.stream.0.mpv"));
    QVERIFY2(!log.contains("Continue on FEATURE_2.EVO"), qPrintable(log.join("\n")));
    const ScanState& scan = w.form->tfMain().scan();
    for (const SlotState& slot : scan.VideoSlots) QVERIFY(!slot.output.has_value());
    for (const SlotState& slot : scan.AudioSlots) QVERIFY(!slot.output.has_value());
    QVERIFY(!scan.InputStream.has_value());
    const QFileInfo video(out + "/FEATURE_1_FEATURE_2.H.264.stream.0.mpv");
    QVERIFY(video.exists());
    QVERIFY(video.size() > 0);
    QVERIFY(video.size() < QFileInfo(feature1()).size());
    QVERIFY(QFileInfo(out + "/FEATURE_1_FEATURE_2.LPCM.stream.02.ac3").exists());
    QVERIFY(w.button("bbEVO")->isEnabled());
  }

  // Rebuild from its button: unticked streams left out, and Cancel answered
  // Yes in the first file stops it there with the output closed.
  void rebuildAndItsCancel() {
    ShownWindow w;
    const QString out = dir_.filePath("out-rebuild");
    readFeature(w, out);
    w.box("cbAudio01")->click();
    w.box("cbSub00")->click();
    QVERIFY(w.button("bRebuild")->isEnabled());
    QString question;
    w.form->onProgressPoint = [&] {
      answerMessageBox(QMessageBox::Yes, &question);
      QTest::mouseClick(w.button("bCancel"), Qt::LeftButton);
    };
    QTest::mouseClick(w.button("bRebuild"), Qt::LeftButton);
    w.form->onProgressPoint = nullptr;
    QCOMPARE(question, QString("Are you sure to stop demuxing?"));
    const QString rebuilt = out + "/FEATURE_1_FEATURE_2.rebuilt.EVO";
    QVERIFY(QFileInfo(rebuilt).size() > 0);
    QVERIFY(QFileInfo(rebuilt).size() < QFileInfo(feature1()).size());
    QVERIFY(!w.form->tfMain().scan().VideoSlots[0].output.has_value());
    QVERIFY(!w.button("bCancel")->isEnabled());

    // Read back in the same window: the two unticked streams are gone.
    w.drop({rebuilt});
    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    QVERIFY(w.box("cbAudio00")->isChecked() && w.box("cbAudio01")->isChecked());
    QVERIFY(!w.box("cbAudio02")->isEnabled());
    QVERIFY(w.box("cbSub00")->isChecked() && !w.box("cbSub01")->isEnabled());
    QCOMPARE(w.box("cbAudio01")->text(), QString("LPCM.stream.01"));
  }

  // MKV asks the same question while mkvmerge runs; Yes stops it and
  // leaves neither the MKV nor the temporary folder. A stand-in mkvmerge
  // that reports some progress, then waits.
  void mkvAndItsCancel() {
    ShownWindow w;
    const QString out = dir_.filePath("out-mkv");
    readFeature(w, out);
    const QString fake = dir_.filePath("slow-mkvmerge");
    QFile script(fake);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nif [ \"$1\" = --version ]; then echo \"mkvmerge v74.0.0 ('x') 64-bit\"; exit 0; fi\n"
                 "echo '#GUI#progress 10%'\nexec sleep 60\n");
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    w.edit("eMkvmerge")->setText(fake);
    QVERIFY(w.button("bMkv")->isEnabled());
    QString question;
    w.form->onProgressPoint = [&] {
      if (!question.isEmpty() || !w.find<QPlainTextEdit>("reMessage")->toPlainText().contains("Muxing ")) return;
      answerMessageBox(QMessageBox::Yes, &question);
      QTest::mouseClick(w.button("bCancel"), Qt::LeftButton);
    };
    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(w.button("bMkv"), Qt::LeftButton);
    w.form->onProgressPoint = nullptr;
    QCOMPARE(question, QString("Are you sure to stop demuxing?"));
    QVERIFY(timer.elapsed() < 30000);
    QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QVERIFY(!w.button("bCancel")->isEnabled());
    QVERIFY(w.button("bMkv")->isEnabled());
  }

  // Closing during a Demux asks the same question; No keeps the window and
  // the run, Yes stops the run, closes its files and then the window, which
  // saves its settings once.
  void closeDuringARun() {
    MemorySettingsStore store;
    ShownWindow w(&store);
    const QString out = dir_.filePath("out-close");
    readFeature(w, out);

    int point = 0;
    QString question;
    bool openAfterNo = false;
    w.form->onProgressPoint = [&] {
      ++point;
      if (point == 1) {
        answerMessageBox(QMessageBox::No, &question);
        QVERIFY(!w.form->close());
      } else if (point == 2) {
        openAfterNo = w.form->isVisible();
        answerMessageBox(QMessageBox::Yes);
        QVERIFY(!w.form->close());
        // Not yet: the run ends first.
        QVERIFY(w.form->isVisible());
        QVERIFY(store.writes().empty());
      }
    };
    QTest::mouseClick(w.button("bDemux"), Qt::LeftButton);
    QCOMPARE(question, QString("Are you sure to stop demuxing?"));
    QVERIFY(openAfterNo);
    QCOMPARE(point, 2);
    QVERIFY(!w.form->isVisible());
    QVERIFY(!w.form->tfMain().busy());
    for (const SlotState& slot : w.form->tfMain().scan().AudioSlots) QVERIFY(!slot.output.has_value());
    QCOMPARE(std::count(store.writes().begin(), store.writes().end(), std::string("WindowState")), 1);
    QVERIFY(store.contains("Install"));
  }

  // Closing during Read EVO stops the read without a question, as Cancel
  // does there, and closes the window when the read has ended.
  void closeDuringARead() {
    MemorySettingsStore store;
    ShownWindow w(&store);
    w.drop({feature1()});
    bool closedAtOnce = true;
    bool asked = false;
    w.form->onProgressPoint = [&] {
      if (!w.form->isVisible()) return;
      closedAtOnce = w.form->close();
      asked = QApplication::activeModalWidget() != nullptr;
    };
    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    QVERIFY(!closedAtOnce);
    QVERIFY(!asked);
    QVERIFY(!w.form->isVisible());
    const QStringList log = w.find<QPlainTextEdit>("reMessage")->toPlainText().split('\n');
    QVERIFY(!log.contains("Continue on FEATURE_2.EVO"));
    QVERIFY(store.contains("Install"));
  }
};

}  // namespace tarnwick::test

QTEST_MAIN(tarnwick::test::CancelTest)
#include "cancel_test.moc"
