// Read EVO in the window on the sample disc: the lists, the log with its bold
// runs, the button rule as the user ticks, and what is locked while it runs.

#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTreeWidget>
#include <utility>

#include "window_fixture.h"

namespace tarnwick::test {
namespace {

// The log as lines, each with its bold text in brackets: "Opening file
// [FEATURE_1.EVO]".
QStringList logWithBold(const QPlainTextEdit* log) {
  QStringList lines;
  for (QTextBlock block = log->document()->begin(); block.isValid(); block = block.next()) {
    QString line;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      const bool bold = fragment.charFormat().fontWeight() == QFont::Bold;
      line += bold ? "[" + fragment.text() + "]" : fragment.text();
    }
    lines << line;
  }
  return lines;
}

}  // namespace

class ReadEvoTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString disc_;

 private slots:
  void initTestCase() {
    disc_ = makeSampleDisc(dir_, 2);
    QVERIFY2(!disc_.isEmpty(), "tarnwick-mkdisc failed");
  }

  void readFillsTheListsAndTheLog() {
    ShownWindow w;
    w.find<QTabWidget>("PageControl")->setCurrentIndex(5);
    w.drop({disc_ + "/HVDVD_TS/FEATURE_1.EVO"});

    // At a progress point of the run: nothing the run depends on can change.
    int progressPoints = 0;
    bool locked = true;
    bool dropRefused = false;
    QString progressFormat;
    w.form->onProgressPoint = [&] {
      ++progressPoints;
      for (const char* name : {"bbEVO", "bbXPL", "bReadXPL", "bCheck", "bDemux"})
        locked = locked && !w.button(name)->isEnabled();
      locked = locked && !w.find("tsOption")->isEnabled() && w.button("bCancel")->isEnabled();
      w.drop({disc_ + "/HVDVD_TS/FEATURE_2.EVO"});
      dropRefused = w.edit("eEVOfile")->text().endsWith("FEATURE_1.EVO");
      auto* progress = w.find<QProgressBar>("Progress");
      if (progress->isVisibleTo(w.form.get())) progressFormat = progress->format();
    };
    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    w.form->onProgressPoint = nullptr;
    // One per 4 MiB read, in both files of the feature.
    const auto points = [](const QString& path) { return static_cast<int>(QFileInfo(path).size() / 0x400000); };
    QCOMPARE(progressPoints, points(disc_ + "/HVDVD_TS/FEATURE_1.EVO") + points(disc_ + "/HVDVD_TS/FEATURE_2.EVO"));
    QVERIFY(progressPoints >= 2);
    QVERIFY(locked);
    QVERIFY(dropRefused);
    QVERIFY2(progressFormat.contains(QRegularExpression(R"(^%p%, \d+:\d\d:\d\d left$)")), qPrintable(progressFormat));
    QVERIFY(!w.find<QProgressBar>("Progress")->isVisibleTo(w.form.get()));
    QVERIFY(w.find("tsOption")->isEnabled());
    QVERIFY(w.button("bbEVO")->isEnabled());
    QVERIFY(!w.button("bCancel")->isEnabled());
    QCOMPARE(w.find<QTabWidget>("PageControl")->currentIndex(), 0);

    // Every stream of the disc, offered and ticked.
    const std::pair<const char*, const char*> found[] = {
        {"cbVideo0", "H.264.stream.0"},    {"cbAudio00", "DD+.stream.00"},  {"cbAudio01", "DTSHD.stream.01"},
        {"cbAudio02", "LPCM.stream.02"},   {"cbSub00", "Subpicture.00"},    {"cbSub01", "Subpicture.01"}};
    for (const auto& [name, caption] : found) {
      QVERIFY2(w.box(name)->isEnabled() && w.box(name)->isChecked(), name);
      QCOMPARE(w.box(name)->text(), QString(caption));
    }
    QVERIFY(!w.box("cbVideo1")->isEnabled());
    QCOMPARE(w.box("cbAudio03")->text(), QString("No audio stream"));
    QVERIFY(w.button("bDemux")->isEnabled());
    QVERIFY(w.button("bRebuild")->isEnabled());

    const QStringList log = logWithBold(w.find<QPlainTextEdit>("reMessage"));
    QVERIFY2(log.contains("Opening file [FEATURE_1.EVO]"), qPrintable(log.join('\n')));
    QVERIFY(log.contains("H.264 video stream 0 found!"));
    QVERIFY(log.contains("Continue on FEATURE_2.EVO"));
    QVERIFY(log.contains("Done."));
    QVERIFY(log.filter(QRegularExpression(R"(^\d+ frames \(\[\d+:\d\d:\d\d s\]\) count in video stream 0\.$)")).size() == 1);
    QCOMPARE(w.find("StatusPanel0")->property("text").toString(), QString(" Ready"));

    // Clear empties the log and leaves the status bar.
    QTest::mouseClick(w.button("bClear"), Qt::LeftButton);
    QCOMPARE(w.find<QPlainTextEdit>("reMessage")->document()->toPlainText(), QString());
    QCOMPARE(w.find("StatusPanel0")->property("text").toString(), QString(" Ready"));
  }

  // Unticking the last ticked box disables Demux and, for an .EVO, Rebuild;
  // ticking one again enables both. Disabled boxes cannot be ticked.
  void tickingFollowsTheButtonRule() {
    ShownWindow w;
    w.drop({disc_ + "/HVDVD_TS/FEATURE_1.EVO"});
    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    w.find<QTabWidget>("PageControl")->setCurrentIndex(2);
    const char* ticked[] = {"cbVideo0", "cbAudio00", "cbAudio01", "cbAudio02", "cbSub00", "cbSub01"};
    for (const char* name : ticked) {
      QVERIFY(w.button("bDemux")->isEnabled());
      w.box(name)->click();
      QVERIFY(!w.box(name)->isChecked());
    }
    QVERIFY(!w.button("bDemux")->isEnabled());
    QVERIFY(!w.button("bRebuild")->isEnabled());
    QCOMPARE(w.box("cbAudio01")->text(), QString("DTSHD.stream.01"));

    w.box("cbAudio03")->click();
    QVERIFY(!w.box("cbAudio03")->isChecked());
    QVERIFY(!w.button("bDemux")->isEnabled());

    w.box("cbAudio01")->click();
    QVERIFY(w.box("cbAudio01")->isChecked());
    QVERIFY(w.button("bDemux")->isEnabled());
    QVERIFY(w.button("bRebuild")->isEnabled());
  }

  // Read EVO, then Read XPL: the playlist's labels replace the captions, the
  // XPL page shows the title's tree and listing, decoded as UTF-8.
  void readPlaylistLabelsTheBoxes() {
    ShownWindow w;
    w.drop({disc_ + "/HVDVD_TS/FEATURE_1.EVO"});
    QCOMPARE(w.edit("eXPLfile")->text(), disc_ + "/ADV_OBJ/VPLST000.XPL");
    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    QVERIFY(w.button("bReadXPL")->isEnabled());
    QTest::mouseClick(w.button("bReadXPL"), Qt::LeftButton);

    QCOMPARE(w.find<QTabWidget>("PageControl")->currentIndex(), 4);
    QCOMPARE(w.box("cbAudio02")->text(), QString::fromUtf8("LPCM.2ch.stream.02.Fran\xC3\xA7" "ais"));
    QCOMPARE(w.box("cbAudio02")->toolTip(), w.box("cbAudio02")->text());
    QVERIFY(w.box("cbSub01")->isChecked());
    QVERIFY(w.button("bDemux")->isEnabled() && w.button("bReadXPL")->isEnabled());

    auto* tree = w.find<QTreeWidget>("tvXPL");
    QStringList roots;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) roots << tree->topLevelItem(i)->text(0);
    QCOMPARE(roots, QStringList({"Info", "Video", "Audio", "Subtitle", "Chapter"}));
    QCOMPARE(tree->topLevelItem(4)->childCount(), 3);
    QCOMPARE(tree->topLevelItem(4)->child(2)->text(0), QString::fromUtf8("00:00:02:15: \xC3\x89pilogue"));

    auto* memo = w.find<QPlainTextEdit>("mXPL");
    QVERIFY(memo->isVisibleTo(w.form.get()));
    const QStringList lines = memo->toPlainText().split('\n');
    QVERIFY2(lines.first().startsWith("    <Title id=\"Feature\""), qPrintable(lines.first()));
    QCOMPARE(lines.last(), QString("    </Title>"));
  }

  // A file that cannot be opened, and one that shrinks during the read: the
  // system's text in a message box, the progress bar gone, and the window
  // still usable.
  void aFileErrorIsShownAndTheWindowGoesOn() {
    QTemporaryDir gone;
    const QString path = gone.filePath("HVDVD_TS/FEATURE_1.EVO");
    ShownWindow w;
    w.drop({path});
    QString text;
    answerMessageBox(QMessageBox::Ok, &text);
    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    QVERIFY2(text.startsWith("Cannot open file \"" + path + "\"."), qPrintable(text));
    QVERIFY(w.find("tsOption")->isEnabled());
    QVERIFY(w.button("bbEVO")->isEnabled());

    const QString shrinking = gone.filePath("SHRINKING.EVO");
    QVERIFY(QFile::copy(disc_ + "/HVDVD_TS/FEATURE_1.EVO", shrinking));
    w.drop({shrinking});
    auto* progress = w.find<QProgressBar>("Progress");
    bool shrunk = false, shown = false;
    w.form->onProgressPoint = [&] {
      if (std::exchange(shrunk, true)) return;
      shown = progress->isVisibleTo(w.form.get());
      QFile::resize(shrinking, 0x400000);
      answerMessageBox(QMessageBox::Ok, &text);
    };
    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    w.form->onProgressPoint = nullptr;
    QVERIFY(shown);
    QVERIFY2(text.contains("It ended after"), qPrintable(text));
    QVERIFY(!progress->isVisibleTo(w.form.get()));

    w.drop({disc_ + "/HVDVD_TS/FEATURE_1.EVO"});
    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    QVERIFY(w.box("cbVideo0")->isChecked());
  }
};

}  // namespace tarnwick::test

QTEST_MAIN(tarnwick::test::ReadEvoTest)
#include "read_evo_test.moc"
