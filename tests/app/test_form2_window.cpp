// The main window as built, before start-up: caption, size, every control of
// the inventory with its place, text and font, the timers and the indicators.
#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QTemporaryFile>
#include <QtTest>

#include "app/app_setup.h"
#include "app/controls.h"
#include "app/form2.h"
#include "serial/comm_control.h"
#include "serial/form1.h"
#include "support/event_wait.h"

namespace {

struct Placement {
  const char *name;
  const char *in;                // "window" for the client area, else the container's name
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
    {"Label7", "Frame3", 45, 600, 3150, 840, "LIVE"},  // spans the frame: a 42-point reading needs it
    {"Picture2", "window", 10800, 360, 2880, 1935, nullptr},
    {"Picture1", "window", 360, 2400, 8000, 6000, nullptr},
    {"RichTextBox1", "window", 360, 2400, 8655, 6735,
     "                              高精度钳形漏电流表测试数据"},
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
    {"Text1", "Frame6", 960, 660, 1080, 435, ""},  // room for six 15-point digits
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

// The width a line edit has for its text: its contents inside the frame, less
// the text margins and the two pixels it keeps free on either side.
int TextRoom(const QLineEdit &box) {
  QStyleOptionFrame opt;
  opt.initFrom(&box);
  opt.rect = box.rect();
  opt.lineWidth = box.hasFrame() ? box.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, &box) : 0;
  opt.midLineWidth = 0;
  opt.state |= QStyle::State_Sunken;
  const QRect contents = box.style()->subElementRect(QStyle::SE_LineEditContents, &opt, &box);
  const QMargins m = box.textMargins();
  return contents.width() - m.left() - m.right() - 2 * 2;
}

// The width a closed drop-down list has for the entry it shows.
int EntryRoom(const QComboBox &list) {
  QStyleOptionComboBox opt;
  opt.initFrom(&list);
  opt.editable = list.isEditable();
  opt.frame = list.hasFrame();
  opt.currentText = list.currentText();
  const QRect field =
      list.style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, &list);
  return field.width() - 2;  // the label is drawn one pixel in from either side
}

QScreen *ScreenNamed(const QString &name) {
  for (QScreen *s : QGuiApplication::screens())
    if (s->name() == name) return s;
  return nullptr;
}

bool WhollyVisible(QWidget *w) { return w->visibleRegion() == QRegion(w->rect()); }

}  // namespace

class TestForm2Window : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    testsupport::makeTemporaryPortsDir();
    InstallFontSubstitutes();  // as the program does
  }
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
  void valuesShowWhole();
  void dataTableCoversLevelCaptions();
  void clientAreaBelowMenuBarFitsTheScreen();

 private:
  Form2 *window_ = nullptr;
};

void TestForm2Window::captionAndClientArea() {
  QCOMPARE(window_->windowTitle(), QStringLiteral("氧化锌避雷器带电测试仪软件"));
  auto *client = window_->findChild<QWidget *>(QStringLiteral("ClientArea"));
  QVERIFY(client);
  QCOMPARE(client->size(), QSize(949, 740));
}

void TestForm2Window::inventory_data() {
  QTest::addColumn<QString>("in");
  QTest::addColumn<QRect>("geometry");
  QTest::addColumn<bool>("hasText");
  QTest::addColumn<QString>("text");
  for (const Placement &p : kInventory)
    QTest::newRow(p.name) << QString::fromLatin1(p.in)
                          << QRect(px(p.left), px(p.top), px(p.width), px(p.height)) << (p.text != nullptr)
                          << QString::fromUtf8(p.text ? p.text : "");
}

void TestForm2Window::inventory() {
  QFETCH(QString, in);
  QFETCH(QRect, geometry);
  QFETCH(bool, hasText);
  QFETCH(QString, text);
  auto *control = window_->findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
  QVERIFY(control);
  QWidget *container = window_->findChild<QWidget *>(in == "window" ? QStringLiteral("ClientArea") : in);
  QVERIFY(container);
  QCOMPARE(control->parentWidget(), container);
  QCOMPARE(control->geometry(), geometry);
  QVERIFY(!control->isHidden());
  QVERIFY(control->isEnabled());
  if (hasText) QCOMPARE(shownText(control), text);
}

void TestForm2Window::fonts_data() {
  QTest::addColumn<double>("points");
  const char *tenAndAHalf[] = {"Frame1",   "Frame2",   "Frame3",   "Frame5",   "Frame6",   "Frame7",
                               "Command1", "Command2", "Command3", "Command4", "Command5", "Command6",
                               "Command7", "Command8", "Option1",  "Option2",  "Label1",   "Label2",
                               "Label3",   "Label4",   "Label5"};
  for (const char *name : tenAndAHalf) QTest::newRow(name) << 10.5;
  QTest::newRow("Label7") << 42.0;
  QTest::newRow("Label8") << 12.0;
  QTest::newRow("Label18") << 12.0;
  QTest::newRow("Text1") << 15.0;
  QTest::newRow("RichTextBox1") << 9.0;
  // The window's own font, also for the controls inside the 10.5-point frames.
  for (const char *name : {"Text2", "Text3", "Text4", "Option4", "Option5", "Text5", "Text6", "Text7",
                           "Text8", "Label6", "Label9", "Label12"})
    QTest::newRow(name) << 9.0;
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
  for (QLabel *l : {window_->Label7, window_->Label8, window_->Label18, window_->Label10, window_->Label14,
                    window_->Label15, window_->Label16, window_->Label17})
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

// The longest values each box can hold are visible whole at the boxes' sizes
// and fonts, and a written value shows from its first character.
void TestForm2Window::valuesShowWhole() {
  const QStringList readouts = {"-9999000", "219550.9", "4158.124", "1000000"};
  const QStringList cursors = {"1000", "500", "0"};
  const QList<std::pair<TextBox *, QStringList>> boxes = {
      {window_->Text2, readouts},   {window_->Text3, readouts}, {window_->Text4, readouts},
      {window_->Text1, {"350000"}}, {window_->Text5, cursors},  {window_->Text6, cursors},
      {window_->Text7, cursors},    {window_->Text8, cursors}};
  for (const auto &[box, values] : boxes)
    for (const QString &v : values)
      QVERIFY2(QFontMetrics(box->font()).horizontalAdvance(v) + 1 <= TextRoom(*box),
               qPrintable(box->objectName() + " cuts " + v));

  Form1 &dialog = window_->EnsureSettingsDialog();
  for (QComboBox *list : {dialog.Combo1, dialog.Combo2, dialog.Combo3, dialog.Combo4, dialog.Combo5})
    for (int i = 0; i < list->count(); ++i)
      QVERIFY2(QFontMetrics(list->font()).horizontalAdvance(list->itemText(i)) <= EntryRoom(*list),
               qPrintable(list->objectName() + " cuts " + list->itemText(i)));

  // The statistics tick writes from the first character on.
  window_->ReadingBuffer.fill(4158.124f);
  window_->ReadingBuffer[0] = 219550.9f;
  window_->ReadingsStored = Form2::kBufferSize;
  window_->Timer6_Timer();
  QCOMPARE(window_->Text2->text(), QStringLiteral("219550.9"));
  QCOMPARE(window_->Text3->text(), QStringLiteral("4158.124"));
  for (TextBox *box : {window_->Text2, window_->Text3, window_->Text4}) QCOMPARE(box->cursorPosition(), 0);
}

// In history mode the data table lies over the captions "y:" and "Z:".
void TestForm2Window::dataTableCoversLevelCaptions() {
  window_->Option2_Click();
  for (QLabel *caption : {window_->Label9, window_->Label11}) {
    QVERIFY(caption->isVisibleTo(window_));
    const QPoint centre = caption->geometry().center();
    QWidget *top = window_->ClientArea->childAt(centre);
    QVERIFY2(top && (top == window_->RichTextBox1 || window_->RichTextBox1->isAncestorOf(top)),
             qPrintable(caption->objectName()));
  }
}

// The client area is 949 x 740 below the menu bar when the screen has room;
// on a smaller screen the window fits it and the client area scrolls.
void TestForm2Window::clientAreaBelowMenuBarFitsTheScreen() {
  QScreen *wide = ScreenNamed(QStringLiteral("wide"));
  QScreen *laptop = ScreenNamed(QStringLiteral("laptop"));
  if (!wide || !laptop) QSKIP("needs the two screens set up by main()");
  QScrollBar *across = window_->ClientScroll->horizontalScrollBar();
  QScrollBar *down = window_->ClientScroll->verticalScrollBar();

  window_->setScreen(wide);
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_));
  const int menuHeight = window_->menuBar()->height();
  QVERIFY(menuHeight > 0);
  QCOMPARE(window_->ClientArea->mapTo(window_, QPoint(0, 0)), QPoint(0, menuHeight));
  QCOMPARE(window_->size(), QSize(949, menuHeight + 740));
  QVERIFY(!across->isVisible() && !down->isVisible());
  for (QWidget *w :
       std::initializer_list<QWidget *>{window_->Label6, window_->Frame5, window_->Frame6, window_->Frame7})
    QVERIFY2(WhollyVisible(w), qPrintable(w->objectName()));

  // 1366 x 768 at 125 %: the window shrinks into the free area.
  window_->setScreen(laptop);
  QVERIFY(QTest::qWaitForWindowExposed(window_));
  QVERIFY(laptop->availableGeometry().height() < menuHeight + 740);
  QVERIFY(laptop->availableGeometry().contains(window_->frameGeometry()));
  QCOMPARE(window_->ClientArea->size(), QSize(949, 740));
  QTRY_VERIFY(down->isVisible());
  QVERIFY(!WhollyVisible(window_->Label6));
  // Every panel can be scrolled into view.
  for (QWidget *w :
       std::initializer_list<QWidget *>{window_->Label6, window_->Frame5, window_->Frame6, window_->Frame7}) {
    window_->ClientScroll->ensureWidgetVisible(w, 0, 0);
    QVERIFY2(WhollyVisible(w), qPrintable(w->objectName()));
  }

  // Back on the wide screen the whole window returns, without scroll bars.
  window_->setScreen(wide);
  QVERIFY(QTest::qWaitForWindowExposed(window_));
  QCOMPARE(window_->size(), QSize(949, menuHeight + 740));
  QTRY_VERIFY(!across->isVisible() && !down->isVisible());
}

// Two screens for the headless platform: a wide desktop and a 1366 x 768
// laptop at 125 %, so that the window can be shown on either.
int main(int argc, char **argv) {
  // In the working folder, named relatively: the platform's arguments are
  // split at colons, and a Windows path has one after its drive letter.
  QTemporaryFile screens(QStringLiteral("screens-XXXXXX.json"));
  if (qgetenv("QT_QPA_PLATFORM") == "offscreen" && screens.open()) {
    screens.write(R"({"screens": [
      {"name": "wide", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
      {"name": "laptop", "x": 1920, "y": 0, "width": 1366, "height": 768, "logicalDpi": 120, "logicalBaseDpi": 96, "dpr": 1}
    ]})");
    screens.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" +
                                   QFile::encodeName(QDir::current().relativeFilePath(screens.fileName())));
  }
  QApplication app(argc, argv);
  TestForm2Window test;
  return QTest::qExec(&test, argc, argv);
}
#include "test_form2_window.moc"
