// The main window as built, before start-up: caption, size, every control of
// the inventory with its place, text and font, the timers and the indicators.
#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include "app/controls.h"
#include "app/form2.h"
#include "serial/comm_control.h"
#include "support/event_wait.h"

namespace {

struct Placement {
  const char *name;
  const char *in;  // "window" for the client area, else the container's name
  int left, top, width, height;  // twips
  const char *text;              // initial caption or text; nullptr where there is none
};

// Left, top, width, height in twips, relative to the container.
const Placement kInventory[] = {
    {"Frame1", "window", 360, 120, 2775, 2055, ""},
    {"Option1", "Frame1", 720, 480, 1335, 375, "实时监控"},
    {"Command1", "Frame1", 240, 1200, 615, 615, "开始"},
    {"Command2", "Frame1", 1080, 1200, 615, 615, "暂停"},
    {"Command3", "Frame1", 1920, 1200, 615, 615, "停止"},
    {"Frame2", "window", 3360, 120, 3135, 2055, ""},
    {"Option2", "Frame2", 240, 480, 1575, 375, "历史数据查询"},
    {"Command4", "Frame2", 480, 1200, 615, 615, "读取"},
    {"Command5", "Frame2", 1320, 1200, 615, 615, "保存"},
    {"Command6", "Frame2", 2160, 1200, 615, 615, "清空"},
    {"Command7", "Frame2", 2160, 240, 735, 330, "上翻"},
    {"Command8", "Frame2", 2160, 720, 735, 330, "下翻"},
    {"Frame3", "window", 6840, 120, 3495, 2055, "实时显示"},
    {"Label7", "Frame3", 45, 600, 3150, 840, "LIVE"},  // widened to show whole readings
    {"Picture2", "window", 10800, 360, 2880, 1935, nullptr},
    {"Picture1", "window", 360, 2400, 8000, 6000, nullptr},
    {"RichTextBox1", "window", 360, 2400, 8655, 6735, "                              高精度钳形漏电流表测试数据"},
    {"Picture3", "window", 8280, 2400, 800, 6000, nullptr},
    {"Slider1", "window", 9360, 2400, 675, 6000, nullptr},
    {"Label9", "window", 8400, 8520, 180, 180, "y:"},
    {"Text7", "window", 8640, 8475, 495, 270, "500"},
    {"Label11", "window", 8400, 8925, 180, 180, "Z:"},
    {"Text8", "window", 8640, 8880, 495, 270, "0"},
    {"Label8", "window", 9240, 8520, 975, 615, "100mA"},
    {"Picture4", "window", 360, 8340, 8000, 800, nullptr},
    {"Label12", "Picture4", 1680, 405, 270, 180, "x1:"},
    {"Text5", "Picture4", 2040, 360, 615, 270, "0"},
    {"Label13", "Picture4", 5040, 405, 270, 180, "x2:"},
    {"Text6", "Picture4", 5400, 360, 615, 270, "500"},
    {"Slider2", "window", 360, 9240, 7995, 495, nullptr},
    {"Label10", "window", 450, 9840, 195, 180, "1s"},
    {"Label14", "window", 2280, 9840, 300, 180, "5s"},
    {"Label15", "window", 4200, 9840, 375, 255, "10s"},
    {"Label16", "window", 6165, 9840, 285, 180, "15s"},
    {"Label17", "window", 7965, 9840, 285, 180, "30s"},
    {"Label18", "window", 8400, 9480, 1695, 495, "X:   Y:"},
    {"Frame5", "window", 10320, 3000, 3135, 1575, "测量(Ω/mA)"},
    {"Label3", "Frame5", 1080, 375, 375, 255, "MAX:"},
    {"Text2", "Frame5", 1680, 360, 855, 270, ""},
    {"Label4", "Frame5", 1080, 735, 375, 255, "MIN:"},
    {"Text3", "Frame5", 1680, 720, 855, 270, ""},
    {"Label5", "Frame5", 720, 1095, 975, 255, "AVERAGE:"},
    {"Text4", "Frame5", 1680, 1080, 855, 270, ""},
    {"Frame6", "window", 10320, 5760, 3135, 1575, "报警值设定"},
    {"Shape2", "Frame6", 360, 630, 495, 495, nullptr},
    {"Text1", "Frame6", 1080, 660, 855, 435, ""},
    {"Option4", "Frame6", 2160, 480, 495, 255, "mA"},
    {"Option5", "Frame6", 2160, 960, 495, 255, "A"},
    {"Frame7", "window", 10320, 8520, 3135, 1575, "通信状态"},
    {"Shape1", "Frame7", 360, 600, 495, 495, nullptr},
    {"Label1", "Frame7", 1200, 480, 1335, 255, "COM1打开成功"},
    {"Label2", "Frame7", 1200, 960, 1815, 375, "仪表连接失败"},
    {"Label6", "window", 480, 10440, 6495, 255, "状态信息"},
};

int px(int twips) { return qRound(twips / 15.0); }

// The caption or text a control shows, whatever kind of control it is.
QString shownText(QObject *o) {
  if (auto *l = qobject_cast<QLabel *>(o)) return l->text();
  if (auto *b = qobject_cast<QAbstractButton *>(o)) return b->text();
  if (auto *g = qobject_cast<QGroupBox *>(o)) return g->title();
  if (auto *e = qobject_cast<QLineEdit *>(o)) return e->text();
  return o->property("Text").toString();
}

}  // namespace

class TestForm2Window : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { testsupport::makeTemporaryPortsDir(); }
  void init() { window_ = new Form2; }
  void cleanup() { delete window_; }

  void captionAndClientArea();
  void inventory_data();
  void inventory();
  void fonts_data();
  void fonts();
  void centredLabels();
  void timers_data();
  void timers();
  void indicatorsStartLit();
  void componentsWithoutFace();
  void constructionStartsNothing();

 private:
  Form2 *window_ = nullptr;
};

void TestForm2Window::captionAndClientArea() {
  QCOMPARE(window_->windowTitle(), QStringLiteral("氧化锌避雷器带电测试仪软件"));
  QVERIFY(window_->centralWidget());
  QCOMPARE(window_->centralWidget()->size(), QSize(949, 740));
}

void TestForm2Window::inventory_data() {
  QTest::addColumn<QString>("in");
  QTest::addColumn<QRect>("geometry");
  QTest::addColumn<bool>("hasText");
  QTest::addColumn<QString>("text");
  for (const Placement &p : kInventory)
    QTest::newRow(p.name) << QString::fromLatin1(p.in)
                          << QRect(px(p.left), px(p.top), px(p.width), px(p.height))
                          << (p.text != nullptr) << QString::fromUtf8(p.text ? p.text : "");
}

void TestForm2Window::inventory() {
  QFETCH(QString, in);
  QFETCH(QRect, geometry);
  QFETCH(bool, hasText);
  QFETCH(QString, text);
  auto *control = window_->findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
  QVERIFY(control);
  QWidget *container = in == "window" ? window_->centralWidget()
                                      : window_->findChild<QWidget *>(in);
  QVERIFY(container);
  QCOMPARE(control->parentWidget(), container);
  QCOMPARE(control->geometry(), geometry);
  QVERIFY(!control->isHidden());
  QVERIFY(control->isEnabled());
  if (hasText) QCOMPARE(shownText(control), text);
}

void TestForm2Window::fonts_data() {
  QTest::addColumn<double>("points");
  const char *tenAndAHalf[] = {"Frame1", "Frame2", "Frame3", "Frame5", "Frame6", "Frame7",
                               "Command1", "Command2", "Command3", "Command4", "Command5",
                               "Command6", "Command7", "Command8", "Option1", "Option2",
                               "Label1", "Label2", "Label3", "Label4", "Label5"};
  for (const char *name : tenAndAHalf) QTest::newRow(name) << 10.5;
  QTest::newRow("Label7") << 42.0;
  QTest::newRow("Label8") << 12.0;
  QTest::newRow("Label18") << 12.0;
  QTest::newRow("Text1") << 15.0;
  QTest::newRow("RichTextBox1") << 9.0;
}

void TestForm2Window::fonts() {
  QFETCH(double, points);
  auto *control = window_->findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
  QVERIFY(control);
  const QFont f = control->font();
  QCOMPARE(f.family(), QStringLiteral("宋体"));
  QCOMPARE(f.pointSizeF(), points);
  QCOMPARE(f.weight(), QFont::Normal);
  QVERIFY(!f.italic());
}

void TestForm2Window::centredLabels() {
  for (QLabel *l : {window_->Label7, window_->Label8, window_->Label18, window_->Label10,
                    window_->Label14, window_->Label15, window_->Label16, window_->Label17})
    QVERIFY2(l->alignment() & Qt::AlignHCenter, qPrintable(l->objectName()));
}

void TestForm2Window::timers_data() {
  QTest::addColumn<int>("interval");
  QTest::addColumn<bool>("enabled");
  QTest::newRow("Timer1") << 500 << false;
  QTest::newRow("Timer2") << 500 << true;
  QTest::newRow("Timer3") << 100 << false;
  QTest::newRow("Timer4") << 500 << true;
  QTest::newRow("Timer5") << 1000 << true;
  QTest::newRow("Timer6") << 1000 << true;
  QTest::newRow("Timer7") << 500 << false;
}

void TestForm2Window::timers() {
  QFETCH(int, interval);
  QFETCH(bool, enabled);
  auto *timer = window_->findChild<IntervalTimer *>(QString::fromLatin1(QTest::currentDataTag()));
  QVERIFY(timer);
  QCOMPARE(timer->property("Interval").toInt(), interval);
  QCOMPARE(timer->property("Enabled").toBool(), enabled);
}

void TestForm2Window::indicatorsStartLit() {
  auto *shape1 = window_->findChild<IndicatorCircle *>("Shape1");
  auto *shape2 = window_->findChild<IndicatorCircle *>("Shape2");
  QVERIFY(shape1 && shape2);
  QCOMPARE(shape1->property("Lit").toBool(), true);
  QCOMPARE(shape2->property("Lit").toBool(), true);
  QCOMPARE(shape1->property("BackColor").value<QColor>(), QColor(0, 0, 255));
  QCOMPARE(shape2->property("BackColor").value<QColor>(), QColor(Qt::white));
}

void TestForm2Window::componentsWithoutFace() {
  QObject *comm = window_->findChild<QObject *>("MSComm1");
  QVERIFY(comm);
  QCOMPARE(comm->property("CommPort").toInt(), 1);
  QCOMPARE(comm->property("Settings").toString(), QStringLiteral("9600,N,8,1"));
  QCOMPARE(comm->property("PortOpen").toBool(), false);
  QCOMPARE(comm->property("RThreshold").toInt(), 3);
  QObject *dialog = window_->findChild<QObject *>("CommonDialog1");
  QVERIFY(dialog);
  QCOMPARE(dialog->property("DefaultExt").toString(), QStringLiteral(".txt"));
  QCOMPARE(dialog->property("FileName").toString(), QStringLiteral("c:\\qirn.txt"));
  QCOMPARE(dialog->property("Filter").toString(), QStringLiteral("*.txt"));
}

// Building the window opens no port and starts no clock; nothing ticks.
void TestForm2Window::constructionStartsNothing() {
  for (IntervalTimer *t : window_->findChildren<IntervalTimer *>()) QVERIFY(!t->isRunning());
  QVERIFY(!window_->MSComm1->PortOpen());
  QCOMPARE(window_->Label6->text(), QStringLiteral("状态信息"));
}

QTEST_MAIN(TestForm2Window)
#include "test_form2_window.moc"
