// The chart handlers of the main window: resets, drags on both rulers, typed
// cursor entries and the pointer read-out, checked through Form2's properties
// and the images of its picture boxes.
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>
#include <cmath>
#include <memory>

#include "app/controls.h"
#include "app/form2.h"
#include "charts/chart_drawing.h"
#include "charts/picture_box.h"
#include "support/event_wait.h"

namespace {

constexpr int kLeft = 1, kRight = 2, kEnter = 13;
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kGrey = qRgb(150, 150, 150);

QImage ImageOf(PictureBox *box) { return box->property("Image").value<QImage>(); }

// Pixel of the main chart image showing the chart point (x, y).
QRgb ChartPixel(PictureBox *box, double x, double y) {
  const QImage img = ImageOf(box);
  return img.pixel(charts::ToPixel(charts::ScaleTransform(img.size(), charts::kMainChartScale), x, y));
}

int GreenRowInColumn(PictureBox *box, double x) {
  const QImage img = ImageOf(box);
  const QPoint p = charts::ToPixel(charts::ScaleTransform(img.size(), charts::kMainChartScale), x, 0);
  for (int r = 0; r < img.height(); ++r)
    if (img.pixel(p.x(), r) == kGreen) return r;
  return -1;
}

int ChartRow(PictureBox *box, double y) {
  const QImage img = ImageOf(box);
  return charts::ToPixel(charts::ScaleTransform(img.size(), charts::kMainChartScale), 0, y).y();
}

}  // namespace

class TestForm2Charts : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { testsupport::makeTemporaryPortsDir(); }
  void init();
  void cleanup() { form.reset(); }
  void resetDrawsDefaults();
  void timeDragPinsAndRedraws();
  void otherButtonsNeitherStartNorEndDrags();
  void levelDragMovesTrace();
  void typedEntries_data();
  void typedEntries();
  void onlyEnterTakesTheEntry();
  void validEntryKeepsEarlierRefusal();
  void pointerReadout();
  void traceFollowsSlider2();
  void pictureBoxReportsUserUnits();
  void captionPressGrabsNoMarker();
  void arrowsMoveHandlesTheWayTheyPoint();

 private:
  std::unique_ptr<Form2> form;
};

void TestForm2Charts::init() {
  form = std::make_unique<Form2>();
  form->ResetMainChart();
  form->ResetLevelRuler();
  form->ResetTimeRuler();
}

void TestForm2Charts::resetDrawsDefaults() {
  form->setProperty("CursorX1", 300.0);
  form->setProperty("CursorZ", 40);
  form->ResetMainChart();
  QCOMPARE(form->property("CursorX1").toDouble(), 0.0);
  QCOMPARE(form->property("CursorX2").toDouble(), 500.0);
  QCOMPARE(form->property("CursorY").toDouble(), 500.0);
  QCOMPARE(form->property("CursorZ").toInt(), 0);
  QCOMPARE(form->Picture1->BackColor(), QColor(150, 150, 150));
  QCOMPARE(ChartPixel(form->Picture1, 250, 250), kGrey);
  QCOMPARE(ChartPixel(form->Picture1, 0, 500), kBlue);  // frame / x1 on it
  QCOMPARE(ChartPixel(form->Picture1, 500, 0), kBlue);  // frame / Z on it
  // x2 at 500 is dotted: two neighbouring pixels differ.
  const QImage img = ImageOf(form->Picture1);
  const QPoint p = charts::ToPixel(charts::ScaleTransform(img.size(), charts::kMainChartScale), 500, 300);
  QVERIFY(img.pixel(p) != img.pixel(p + QPoint(0, 1)));
  QCOMPARE(GreenRowInColumn(form->Picture1, 300), -1);  // no trace before Start
  // Rulers are white with their markers.
  QCOMPARE(ImageOf(form->Picture4).pixel(ImageOf(form->Picture4).width() / 4, 2), qRgb(255, 255, 255));
  QCOMPARE(ImageOf(form->Picture3).pixel(0, ChartRow(form->Picture1, 500)), kBlue);
}

void TestForm2Charts::timeDragPinsAndRedraws() {
  const QImage rulerBefore = ImageOf(form->Picture4);
  form->Picture4_MouseDown(kLeft, 0, 10, 5);
  QCOMPARE(form->property("TimeDragState").toInt(), 1);
  form->Picture4_MouseMove(kLeft, 0, 1200, 5);
  QCOMPARE(form->property("CursorX1").toDouble(), 1000.0);
  QVERIFY(ImageOf(form->Picture4) != rulerBefore);
  // The old x1 line at 0 is now only the solid frame; the new one at 1000 too.
  form->Picture4_MouseMove(kLeft, 0, 250.5f, 5);
  QCOMPARE(form->property("CursorX1").toDouble(), 250.5);
  const QImage img = ImageOf(form->Picture1);
  const QPoint p = charts::ToPixel(charts::ScaleTransform(img.size(), charts::kMainChartScale), 250.5, 300);
  QVERIFY(img.pixel(p) == kBlue || img.pixel(p + QPoint(0, 1)) == kBlue);
  form->Picture4_MouseMove(0, 0, -30, 5);  // any buttons: still dragging
  QCOMPARE(form->property("CursorX1").toDouble(), 0.0);
  form->Picture4_MouseUp(kLeft, 0, -30, 5);
  QCOMPARE(form->property("TimeDragState").toInt(), 0);
  form->Picture4_MouseMove(kLeft, 0, 600, 5);
  QCOMPARE(form->property("CursorX1").toDouble(), 0.0);

  form->Picture4_MouseDown(kLeft, 0, 505, 40);  // x2, whatever the height
  QCOMPARE(form->property("TimeDragState").toInt(), 2);
  form->Picture4_MouseDown(kLeft, 0, 700, 40);  // a new press elsewhere drops it
  QCOMPARE(form->property("TimeDragState").toInt(), 0);
}

void TestForm2Charts::otherButtonsNeitherStartNorEndDrags() {
  form->Picture4_MouseDown(kRight, 0, 0, 5);
  QCOMPARE(form->property("TimeDragState").toInt(), 0);
  form->Picture3_MouseDown(kRight, 0, 5, 500);
  QCOMPARE(form->property("LevelDragState").toInt(), 0);

  form->Picture4_MouseDown(kLeft, 0, 0, 5);
  form->Picture4_MouseDown(kRight, 0, 700, 5);
  form->Picture4_MouseUp(kRight, 0, 700, 5);
  QCOMPARE(form->property("TimeDragState").toInt(), 1);
  form->Picture3_MouseDown(kLeft, 0, 5, 500);
  form->Picture3_MouseUp(kRight, 0, 5, 500);
  QCOMPARE(form->property("LevelDragState").toInt(), 1);
}

void TestForm2Charts::levelDragMovesTrace() {
  form->setProperty("TraceActive", true);  // as after Pause before any Start: zeros
  form->Picture3_MouseDown(kLeft, 0, 60, 10);
  QCOMPARE(form->property("LevelDragState").toInt(), 2);
  form->Picture3_MouseMove(kLeft, 0, 60, 250.5f);
  QCOMPARE(form->property("CursorZ").toInt(), 250);
  form->Picture3_MouseMove(kLeft, 0, 60, 251.5f);
  QCOMPARE(form->property("CursorZ").toInt(), 252);
  QCOMPARE(GreenRowInColumn(form->Picture1, 300), ChartRow(form->Picture1, 252));
  QCOMPARE(ImageOf(form->Picture3).pixel(0, ChartRow(form->Picture1, 252)), kBlue);
  form->Picture3_MouseMove(kLeft, 0, 60, 1500);
  QCOMPARE(form->property("CursorZ").toInt(), 1000);
  QCOMPARE(GreenRowInColumn(form->Picture1, 300), ChartRow(form->Picture1, 1000));
  form->Picture3_MouseUp(kLeft, 0, 60, 1500);
  QCOMPARE(form->property("LevelDragState").toInt(), 0);

  form->Picture3_MouseDown(kLeft, 0, 60, 495);
  QCOMPARE(form->property("LevelDragState").toInt(), 1);
  form->Picture3_MouseMove(kLeft, 0, 60, 1200);
  QCOMPARE(form->property("CursorY").toDouble(), 1000.0);
}

void TestForm2Charts::typedEntries_data() {
  QTest::addColumn<QString>("box");
  QTest::addColumn<QString>("cursor");
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("accepted");
  QTest::addColumn<double>("value");
  QTest::newRow("x1 top") << "Text5"
                          << "CursorX1"
                          << "1000" << true << 1000.0;
  QTest::newRow("x1 just above") << "Text5"
                                 << "CursorX1"
                                 << "1000.01" << false << 0.0;
  QTest::newRow("x1 negative") << "Text5"
                               << "CursorX1"
                               << "-1" << false << 0.0;
  QTest::newRow("x2 letters") << "Text6"
                              << "CursorX2"
                              << "abc" << true << 0.0;
  QTest::newRow("x2 lenient") << "Text6"
                              << "CursorX2"
                              << " 7 5 0mA" << true << 750.0;
  QTest::newRow("y keeps double precision") << "Text7"
                                            << "CursorY"
                                            << "250.123456789" << true << 250.123456789;
  QTest::newRow("y empty") << "Text7"
                           << "CursorY"
                           << "" << true << 0.0;
  QTest::newRow("Z rounds up") << "Text8"
                               << "CursorZ"
                               << "999.6" << true << 1000.0;
  QTest::newRow("Z half to even") << "Text8"
                                  << "CursorZ"
                                  << "250.5" << true << 250.0;
  QTest::newRow("Z over before rounding") << "Text8"
                                          << "CursorZ"
                                          << "1000.2" << false << 0.0;
  QTest::newRow("Z under before rounding") << "Text8"
                                           << "CursorZ"
                                           << "-0.4" << false << 0.0;
}

void TestForm2Charts::typedEntries() {
  QFETCH(QString, box);
  QFETCH(QString, cursor);
  QFETCH(QString, text);
  QFETCH(bool, accepted);
  QFETCH(double, value);
  auto *entry = form->findChild<TextBox *>(box);
  QVERIFY(entry);
  const double before = form->property(qPrintable(cursor)).toDouble();
  const QImage chartBefore = ImageOf(form->Picture1);
  form->Label6->setText(QStringLiteral("状态信息"));
  entry->setText(text);
  QMetaObject::invokeMethod(form.get(), qPrintable(box + QStringLiteral("_KeyDown")), Q_ARG(int, kEnter),
                            Q_ARG(int, 0));
  QCOMPARE(entry->text(), text);  // never rewritten
  if (accepted) {
    QCOMPARE(form->property(qPrintable(cursor)).toDouble(), value);
    QCOMPARE(form->Label6->text(), QStringLiteral("状态信息"));
  } else {
    QCOMPARE(form->property(qPrintable(cursor)).toDouble(), before);
    QCOMPARE(form->Label6->text(), QStringLiteral("输入无效值"));
    QCOMPARE(ImageOf(form->Picture1), chartBefore);
  }
}

void TestForm2Charts::onlyEnterTakesTheEntry() {
  form->Text5->setText(QStringLiteral("700"));
  form->Text5_KeyDown('A', 0);
  form->Text5_KeyDown(10, 0);
  QCOMPARE(form->property("CursorX1").toDouble(), 0.0);
  form->Text5_KeyDown(kEnter, 0);
  QCOMPARE(form->property("CursorX1").toDouble(), 700.0);
}

void TestForm2Charts::validEntryKeepsEarlierRefusal() {
  form->Text6->setText(QStringLiteral("2000"));
  form->Text6_KeyDown(kEnter, 0);
  form->Text6->setText(QStringLiteral("600"));
  form->Text6_KeyDown(kEnter, 0);
  QCOMPARE(form->property("CursorX2").toDouble(), 600.0);
  QCOMPARE(form->Label6->text(), QStringLiteral("输入无效值"));
}

void TestForm2Charts::pointerReadout() {
  QCOMPARE(form->Label18->text(), QStringLiteral("X:   Y:"));
  form->Picture1_MouseMove(0, 0, 0, 500);
  QCOMPARE(form->Label18->text(), QStringLiteral("X:   Y:"));
  form->Picture1_MouseMove(1, 0, 250.4f, 731.5f);
  QCOMPARE(form->Label18->text(), QStringLiteral("X: 250 Y: 732"));
  form->Picture1_MouseMove(0, 0, 1005, 731.5f);  // out through the margin
  QCOMPARE(form->Label18->text(), QStringLiteral("X: 250 Y: 732"));
}

void TestForm2Charts::traceFollowsSlider2() {
  form->setProperty("TraceActive", true);
  form->TraceBuffer[1] = 800;
  form->Slider2->setValue(0);  // 16 points: the peak at x = 62.5
  form->DrawMainChart(0, 500, 500, 0);
  QCOMPARE(ChartPixel(form->Picture1, 62.5, 800), kGreen);
  form->Slider2->setValue(4);  // 500 points: the peak at x = 2
  form->DrawMainChart(0, 500, 500, 0);
  QCOMPARE(ChartPixel(form->Picture1, 2, 800), kGreen);
  QVERIFY(ChartPixel(form->Picture1, 62.5, 800) != kGreen);
}

void TestForm2Charts::pictureBoxReportsUserUnits() {
  PictureBox box(Qt::white, nullptr);
  box.resize(533, 53);
  box.setScale(-10, 0, 1020, 136);
  QSignalSpy down(&box, &PictureBox::MouseDown);
  QSignalSpy up(&box, &PictureBox::MouseUp);
  const QTransform map = charts::ScaleTransform(QSize(533, 53), charts::kTimeRulerScale);
  const QPoint at = map.map(QPointF(500, 68)).toPoint();
  QTest::mousePress(&box, Qt::LeftButton, Qt::ShiftModifier, at);
  QTest::mouseRelease(&box, Qt::RightButton, Qt::NoModifier, at);
  QCOMPARE(down.count(), 1);
  QCOMPARE(down[0][0].toInt(), 1);
  QCOMPARE(down[0][1].toInt(), 1);
  QVERIFY(std::abs(down[0][2].toFloat() - 500) < 2);
  QVERIFY(std::abs(down[0][3].toFloat() - 68) < 3);
  QCOMPARE(up.count(), 1);
  QCOMPARE(up[0][0].toInt(), 2);
}

// The captions "x1:" and "x2:" are controls of their own: a press on one grabs
// no marker, even with a marker right below it, where a press on the strip
// itself would grab it.
void TestForm2Charts::captionPressGrabsNoMarker() {
  const QTransform toUser = form->Picture4->userToPixel().inverted();
  for (QLabel *caption : {form->Label12, form->Label13}) {
    const QPoint centre = caption->geometry().center();
    form->CursorX1 = toUser.map(QPointF(centre)).x();
    QTest::mousePress(caption, Qt::LeftButton, Qt::NoModifier, caption->rect().center());
    QCOMPARE(form->TimeDragState, short(0));
    QTest::mouseMove(caption, caption->rect().topLeft());
    QTest::mouseRelease(caption, Qt::LeftButton, Qt::NoModifier, caption->rect().topLeft());
    QCOMPARE(form->CursorX1, toUser.map(QPointF(centre)).x());

    QTest::mousePress(form->Picture4, Qt::LeftButton, Qt::NoModifier, centre);
    QCOMPARE(form->TimeDragState, short(1));
    QTest::mouseRelease(form->Picture4, Qt::LeftButton, Qt::NoModifier, centre);
  }
}

// Slider1 shows position 0 at its top, so Up moves its handle up, towards 0;
// Slider2 grows to the right.
void TestForm2Charts::arrowsMoveHandlesTheWayTheyPoint() {
  QSlider *level = form->Slider1;
  QVERIFY(level->invertedAppearance());
  const int v = level->value();
  QTest::keyClick(level, Qt::Key_Up);
  QCOMPARE(level->value(), v - 1);
  QTest::keyClick(level, Qt::Key_Down);
  QTest::keyClick(level, Qt::Key_Down);
  QCOMPARE(level->value(), v + 1);
  QTest::keyClick(level, Qt::Key_PageUp);
  QVERIFY(level->value() < v + 1);

  QSlider *window = form->Slider2;
  const int w = window->value();
  QTest::keyClick(window, Qt::Key_Right);
  QCOMPARE(window->value(), w + 1);
  QTest::keyClick(window, Qt::Key_Left);
  QTest::keyClick(window, Qt::Key_Left);
  QCOMPARE(window->value(), w - 1);
}

QTEST_MAIN(TestForm2Charts)
#include "test_form2_charts.moc"
