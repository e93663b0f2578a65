// The settings through QSettings, in a configuration folder of the test's
// own: a first start, a close, a maximized close, and a value of the wrong
// kind.

#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QTest>
#include <cstring>

#include "app/qt/qt_settings_store.h"
#include "window_fixture.h"

namespace tarnwick::test {

class SettingsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir config_;
  QTemporaryDir discDir_;
  QString disc_;

  QString file() const { return config_.filePath("Corvane Software/Tarnwick.ini"); }
  QVariant stored(const char* name) const { return QSettings(file(), QSettings::IniFormat).value(name); }

 private slots:
  void initTestCase() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config_.path());
    disc_ = makeSampleDisc(discDir_, 2);
    QVERIFY2(!disc_.isEmpty(), "tarnwick-mkdisc failed");
  }

  void roundTrip() {
    qt::QtSettingsStore store;
    QCOMPARE(store.location(), file());
    const double before = localDateTimeNow();
    QSize outer;
    {
      // First start: no key, the first size; the close creates it all.
      ShownWindow w(&store);
      QVERIFY(!QFile::exists(file()));
      QCOMPARE(w.form->size(), QSize(qt::MainWindow::kDefaultWidth, qt::MainWindow::kDefaultHeight));
      QCOMPARE(w.edit("eAudioExt")->text(), QString("mpa"));
      QVERIFY(w.box("cbFastCheck")->isChecked());
      w.drop({disc_ + "/HVDVD_TS/FEATURE_1.EVO"});
      w.box("cbFastCheck")->click();
      w.edit("eWorkdir")->setText("/srv/out");
      w.form->resize(500, 400);
      w.form->move(30, 40);
      outer = w.form->frameGeometry().size();
      QVERIFY(w.form->close());
    }
    QVERIFY(QFile::exists(file()));
    QCOMPARE(stored("WindowState").toInt(), 0);
    // The outer size, frame included.
    QCOMPARE(stored("Width").toInt(), outer.width());
    QCOMPARE(stored("Height").toInt(), outer.height());
    QCOMPARE(stored("Left").toInt(), 30);
    QCOMPARE(stored("Top").toInt(), 40);
    QCOMPARE(stored("FastCheck").toInt(), 0);
    QCOMPARE(stored("Continue").toInt(), 1);
    QCOMPARE(stored("Workdir").toString(), QString("/srv/out"));
    QCOMPARE(stored("EVOdir").toString(), disc_ + "/HVDVD_TS/");
    QCOMPARE(stored("XPLdir").toString(), disc_ + "/ADV_OBJ/");
    // Folders only: no file name of the user's is kept.
    for (const QString& key : QSettings(file(), QSettings::IniFormat).allKeys())
      QVERIFY2(!stored(key.toLatin1()).toString().contains("FEATURE_1"), qPrintable(key));
    const QByteArray install = stored("Install").toByteArray();
    QCOMPARE(install.size(), 8);
    double installed = 0;
    std::memcpy(&installed, install.data(), 8);
    QVERIFY(installed >= before - 1.0 / 86400 && installed <= localDateTimeNow() + 1.0 / 86400);

    // A stored extension longer than typing allows is taken whole.
    QSettings(file(), QSettings::IniFormat).setValue("AudioExt", "eac3x7");
    {
      // The next start restores it; a maximized close keeps the placement.
      ShownWindow w(&store);
      QVERIFY(!w.box("cbFastCheck")->isChecked());
      QCOMPARE(w.edit("eAudioExt")->text(), QString("eac3x7"));
      QTest::keyClicks(w.edit("eVideoExt"), "abcdef");
      QCOMPARE(w.edit("eVideoExt")->text(), QString("mpvab"));
      QCOMPARE(w.edit("eWorkdir")->text(), QString("/srv/out"));
      QCOMPARE(w.form->size(), QSize(500, 400));
      QCOMPARE(w.form->frameGeometry().size(), outer);
      QCOMPARE(w.form->pos(), QPoint(30, 40));
      w.form->showMaximized();
      QTRY_VERIFY(w.form->isMaximized());
      QVERIFY(w.form->close());
    }
    QCOMPARE(stored("WindowState").toInt(), 2);
    QCOMPARE(stored("Width").toInt(), outer.width());
    QCOMPARE(stored("Left").toInt(), 30);
    QCOMPARE(stored("Install").toByteArray(), install);
    QCOMPARE(stored("AudioExt").toString(), QString("eac3x7"));
    QCOMPARE(stored("VideoExt").toString(), QString("mpvab"));

    {
      ShownWindow w(&store);
      QTRY_VERIFY(w.form->isMaximized());
      QCOMPARE(w.form->normalGeometry().size(), QSize(500, 400));
    }
  }

  // The read stops at the first value of the wrong kind with the system's
  // message; the values before it apply, those after it do not, and the
  // lists are reset all the same.
  void valueOfTheWrongKind() {
    const QString path = config_.filePath("wrong.conf");
    {
      QSettings s(path, QSettings::IniFormat);
      s.setValue("Width", 480);
      s.setValue("TreeWidth", "wide");
      s.setValue("AudioExt", "ac3");
    }
    qt::QtSettingsStore store(path);
    QString message;
    answerMessageBox(QMessageBox::Ok, &message);
    ShownWindow w(&store);
    QTRY_COMPARE(message, QString("Invalid data type for 'TreeWidth'"));
    QCOMPARE(w.form->frameGeometry().width(), 480);
    QCOMPARE(w.edit("eAudioExt")->text(), QString("mpa"));
    QCOMPARE(w.box("cbSub03")->text(), QString("No subpicture"));
  }
};

}  // namespace tarnwick::test

QTEST_MAIN(tarnwick::test::SettingsTest)
#include "settings_test.moc"
