// The logo, the form's geometry as the window is resized, and what the
// stream pages and file boxes show of texts longer than their room.

#include <QCheckBox>
#include <QLabel>
#include <QTabWidget>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QTest>

#include "app/qt/fitted_text.h"
#include "app/qt/logo.h"
#include "app/qt/status_bar.h"
#include "window_fixture.h"

namespace tarnwick::test {

class LayoutTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString disc_;

 private slots:
  void initTestCase() {
    disc_ = makeSampleDisc(dir_, 1);
    QVERIFY2(!disc_.isEmpty(), "tarnwick-mkdisc failed");
  }

  void logoDecodes() {
    const QImage logo = qt::decodeJpeg(qt::logoJpeg());
    QCOMPARE(logo.size(), QSize(125, 31));
    // The ring at the left is dark blue, the corner white.
    const QColor ring = logo.pixelColor(15, 4);
    QVERIFY2(ring.blue() > 90 && ring.red() < 80, qPrintable(ring.name()));
    QVERIFY(logo.pixelColor(124, 0).lightness() > 240);

    const unsigned char notJpeg[] = {0xFF, 0xD8, 0xFF, 0x00, 0x12, 0x34};
    QVERIFY(qt::decodeJpeg(notJpeg).isNull());

    const QPixmap shown = qt::logoPixmap();
    QCOMPARE(shown.size(), QSize(125, 31));
    const QImage image = shown.toImage();
    QCOMPARE(qAlpha(image.pixel(124, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(15, 4)), 255);

    // On a screen of two device pixels a pixel: the larger drawing, the
    // same 125 x 31 in the window, its ring where the smaller one has it.
    const QPixmap sharp = qt::logoPixmap(2);
    QCOMPARE(sharp.size(), QSize(250, 62));
    QCOMPARE(sharp.deviceIndependentSize(), QSizeF(125, 31));
    const QImage large = sharp.toImage();
    QCOMPARE(qAlpha(large.pixel(249, 0)), 0);
    const QColor largeRing = large.pixelColor(31, 9);
    QVERIFY2(largeRing.blue() > 90 && largeRing.red() < 80 && largeRing.alpha() == 255, qPrintable(largeRing.name()));
  }

  // The logo right of MKV, about centred in wider windows, and hidden
  // where it would touch Cancel; the controls keep their anchors.
  void resizing() {
    ShownWindow w;
    auto* logo = w.find<QLabel>("imLogo");
    QCOMPARE(logo->pixmap().deviceIndependentSize(), QSizeF(125, 31));
    // The logo drawn for the screen's pixels (two a pixel in window.layout_at_scale_2).
    QCOMPARE(logo->pixmap().devicePixelRatio(), logo->devicePixelRatioF());
    w.form->resize(362, 346);
    QCOMPARE(logo->pos(), QPoint(206, 292));
    QVERIFY(!logo->isVisible());
    // The rule counts the outer width, frame included.
    const int frame = w.form->frameGeometry().width() - w.form->width();
    w.form->resize(432 - frame, 400);
    QCOMPARE(logo->pos(), QPoint(206, 346));
    QVERIFY(logo->isVisible());
    w.form->resize(600 - frame, 500);
    QCOMPARE(logo->pos(), QPoint(237, 446));
    QVERIFY(logo->geometry().right() < w.button("bCancel")->x());
    w.form->resize(600, 500);
    QCOMPARE(w.edit("eEVOfile")->geometry(), QRect(8, 8, 249 + 238, 21));
    QCOMPARE(w.button("bCancel")->pos(), QPoint(294 + 238, 294 + 154));
    QCOMPARE(w.button("bDemux")->pos(), QPoint(8, 294 + 154));
    QCOMPARE(w.find("PageControl")->geometry(), QRect(8, 69, 346 + 238, 219 + 154));
    QCOMPARE(w.find("reMessage")->width(), w.find("tsStatus")->width() - 2);
    w.form->resize(300, 300);
    QCOMPARE(w.form->size(), QSize(362, 346));
  }

  // At the smallest size, the design size, no two controls of one parent
  // overlap and every caption fits its control, whatever fonts this machine
  // has.
  void nothingOverlapsNothingIsCut() {
    ShownWindow w;
    w.form->resize(100, 100);
    QCOMPARE(w.form->size(), QSize(362, 346));
    for (int n = 0; n < 16; ++n) {
      // The longest captions Read EVO gives.
      w.form->window().setCaption(audioBox(n), "DTSHD.stream.15");
      w.form->window().setCaption(subBox(n), "Ext.Subpicture.15");
    }
    QList<QWidget*> named;
    for (QWidget* widget : w.form->findChildren<QWidget*>())
      if (!widget->objectName().isEmpty() && !widget->objectName().startsWith("qt_") && !widget->isHidden() &&
          widget->parentWidget() != nullptr && !qobject_cast<QTabWidget*>(widget->parentWidget()->parentWidget()))
        named << widget;
    QVERIFY(named.size() > 60);  // the controls of the form, the pages and gbFile
    for (QWidget* widget : named) {
      QString text;
      int room = widget->width();
      if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && label->pixmap().isNull()) {
        text = label->text();
      } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        text = button->text();
        if (qobject_cast<QCheckBox*>(widget)) room -= 20;  // the box itself
        else if (!text.isEmpty()) room -= 8;  // the button's frame
        if (auto* stream = dynamic_cast<qt::StreamBox*>(widget)) QCOMPARE(text, stream->caption());
      }
      QVERIFY2(widget->fontMetrics().horizontalAdvance(text) <= room, qPrintable(widget->objectName()));
      for (QWidget* other : named) {
        if (other == widget || other->parentWidget() != widget->parentWidget()) continue;
        if (widget->isAncestorOf(other) || other->isAncestorOf(widget)) continue;
        QVERIFY2(!widget->geometry().intersects(other->geometry()),
                 qPrintable(widget->objectName() + " / " + other->objectName()));
      }
    }
  }

  // The sample disc's playlist names its streams with descriptions: at the
  // first size they read whole, the columns grow with the window, and where
  // the window is too small a caption keeps its start and end, the whole of
  // it in its tooltip.
  void captionsAtEverySize() {
    ShownWindow w;
    w.drop({disc_ + "/HVDVD_TS/FEATURE_1.EVO"});
    QTest::mouseClick(w.button("bCheck"), Qt::LeftButton);
    QTest::mouseClick(w.button("bReadXPL"), Qt::LeftButton);
    w.find<QTabWidget>("PageControl")->setCurrentIndex(2);
    const QString commentary = "DTS-HD.2ch.stream.01.English Director's Commentary";
    QCheckBox* left = w.box("cbAudio01");
    QCheckBox* right = w.box("cbAudio09");
    QCOMPARE(left->text(), commentary);
    QVERIFY(left->fontMetrics().horizontalAdvance(commentary) + 20 <= left->width());
    QVERIFY(left->geometry().right() < right->x());
    // A caption whose hint is not the caption itself.
    Window& window = w.form->window();
    const std::string hinted = "Ext.Subpicture.05.Director's Commentary";
    window.setCaption(subBox(5), hinted);
    QCOMPARE(w.box("cbSub05")->toolTip(), QString("Check the desired subpicture streams"));

    const QRect leftBefore = left->geometry();
    const QRect rightBefore = right->geometry();
    w.form->resize(760, 520);
    QCOMPARE(left->width() + right->width(), leftBefore.width() + rightBefore.width() + (760 - qt::MainWindow::kDefaultWidth));
    QVERIFY(left->width() > leftBefore.width());
    QVERIFY(right->width() > rightBefore.width());
    QVERIFY(right->x() > rightBefore.x());
    QCOMPARE(right->geometry().right(), right->parentWidget()->width() - 10);

    w.form->resize(362, 346);
    const QString shown = left->text();
    QVERIFY2(shown.startsWith("DTS-HD.") && shown.endsWith("Commentary") && shown.contains(QChar(0x2026)),
             qPrintable(shown));
    QVERIFY(left->fontMetrics().horizontalAdvance(shown) + 20 <= left->width());
    QCOMPARE(left->toolTip(), commentary);
    w.find<QTabWidget>("PageControl")->setCurrentIndex(3);
    QCOMPARE(w.box("cbSub05")->toolTip(), QString::fromStdString(hinted));
    // What the commands read is still the whole caption.
    QCOMPARE(window.caption(audioBox(1)), commentary.toStdString());

    w.form->resize(qt::MainWindow::kDefaultWidth, qt::MainWindow::kDefaultHeight);
    QCOMPARE(w.box("cbSub05")->toolTip(), QString("Check the desired subpicture streams"));
    w.find<QTabWidget>("PageControl")->setCurrentIndex(2);
    QCOMPARE(left->text(), commentary);
  }

  // A path longer than its box shows its end, the file name, and the whole
  // path as tooltip; one that fits shows whole, the box's hint as tooltip.
  void fileBoxShowsTheFileName() {
    ShownWindow w;
    w.form->resize(362, 346);
    const QString path = "/media/user/THE_LONGEST_DISC_LABEL_OF_THE_SHELF_2007/HVDVD_TS/FEATURE_1.EVO";
    w.drop({path});
    QLineEdit* box = w.edit("eEVOfile");
    QCOMPARE(box->text(), path);
    QVERIFY(box->fontMetrics().horizontalAdvance(path) > box->width());
    // The end of the text is in view, its start scrolled out at the left,
    // as the box paints itself.
    box->grab();
    const QRect end = box->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    QCOMPARE(box->cursorPosition(), path.size());
    QVERIFY(end.left() > 0 && end.right() <= box->width());
    QVERIFY(end.left() < box->fontMetrics().horizontalAdvance(path));
    QCOMPARE(box->toolTip(), path);

    w.form->resize(800, 346);
    QCOMPARE(box->toolTip(), QString("Drop here the source EVO file"));
  }

  // At the first size the Rebuild's progress text reads whole beside the
  // progress bar, for a feature of 30 GB.
  void rebuildProgressReadsWhole() {
    ShownWindow w;
    auto* bar = w.find<qt::StatusBar>("StatusBar");
    const QString task = " Rebuilding FEATURE_1.EVO";
    const QString detail = " Rebuilding FEATURE_1.EVO 15360/30720 Mbytes, Remaining time: 0:05:00";
    bar->setPanel(0, task);
    bar->showProgress({qint64(15360) << 20, qint64(30720) << 20, 299.0, "Rebuilding FEATURE_1.EVO"});
    QVERIFY(bar->progressBar()->isVisible());
    auto* panel = w.find<QLabel>("StatusPanel1");
    QCOMPARE(panel->text(), detail);
    QVERIFY(panel->geometry().right() < bar->progressBar()->x());
    QVERIFY(w.find<QLabel>("StatusPanel0")->geometry().right() < panel->x());
  }

  // Progress texts close together are shown at most ten times a second, the
  // latest winning; a state text ends the progress at once, and a progress
  // text still waiting never overwrites it.
  void statusBarProgress() {
    qt::StatusBar bar;
    bar.resize(362, 21);
    bar.setPanel(0, " Reading FEATURE_1.EVO");
    QCOMPARE(bar.panelText(0), QString(" Reading FEATURE_1.EVO"));
    QCOMPARE(bar.panelWidth(0), bar.fontMetrics().horizontalAdvance(" Reading FEATURE_1.EVOa"));
    // A progress of `mib` of 20 MiB, `elapsed` seconds after the start.
    const auto progress = [&bar](int mib, double elapsed, const char* task = "") {
      bar.showProgress({qint64(mib) << 20, qint64(20) << 20, elapsed, task});
    };
    progress(4, 0.75);
    QCOMPARE(bar.panelText(1), QString(" 4/20 Mbytes, Remaining time: 0:00:04"));
    QCOMPARE(bar.toolTip(), QString("4/20 Mbytes, Remaining time: 0:00:04"));
    QCOMPARE(bar.progressBar()->value(), 4);
    QCOMPARE(bar.progressBar()->format(), QString("%p%, 0:00:04 left"));
    progress(8, 4.0 / 3);
    progress(12, 1.5, "Rebuilding FEATURE_1.EVO");
    QCOMPARE(bar.panelText(1), QString(" 4/20 Mbytes, Remaining time: 0:00:04"));
    // The Rebuild's text, which begins with its task, feeds the bar as well.
    QTRY_COMPARE(bar.panelText(1), QString(" Rebuilding FEATURE_1.EVO 12/20 Mbytes, Remaining time: 0:00:02"));
    QCOMPARE(bar.progressBar()->value(), 12);
    QCOMPARE(bar.progressBar()->format(), QString("%p%, 0:00:02 left"));

    progress(16, 0);
    bar.setPanel(1, " ");
    QCOMPARE(bar.panelText(1), QString(" "));
    QVERIFY(bar.progressBar()->isHidden());
    QTest::qWait(200);
    QCOMPARE(bar.panelText(1), QString(" "));
    QVERIFY(bar.progressBar()->isHidden());
  }

  // Tab walks the buttons, then the page control and what it holds, then
  // Cancel; the two file boxes are skipped.
  void tabOrder() {
    ShownWindow w;
    QWidget* pages = w.find("PageControl");
    QStringList order;
    QWidget* start = w.find("bbEVO");
    QWidget* at = start;
    do {
      if ((at->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && at->isVisibleTo(w.form.get())) {
        const QString name = at == pages || pages->isAncestorOf(at) ? "PageControl" : at->objectName();
        if (order.isEmpty() || order.back() != name) order << name;
      }
      at = at->nextInFocusChain();
    } while (at != start);
    QCOMPARE(order, QStringList({"bbEVO", "bCheck", "bbXPL", "bReadXPL", "bDemux", "bRebuild", "bMkv", "PageControl",
                                 "bCancel"}));
  }
};

}  // namespace tarnwick::test

QTEST_MAIN(tarnwick::test::LayoutTest)
#include "layout_test.moc"
