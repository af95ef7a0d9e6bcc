// The monitoring handlers of the window, driven directly on a window that has
// not been through start-up (no port, no timers running).
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QtTest>

#include "app/controls.h"
#include "app/form2.h"
#include "support/event_wait.h"

namespace {

// Visible or enabled, for a widget or a menu item found by name.
bool aspectOf(Form2 &form, const QString &name, const QString &aspect) {
  if (auto *a = form.findChild<QAction *>(name)) return a->isEnabled();
  if (auto *t = form.findChild<IntervalTimer *>(name)) return t->Enabled();
  auto *w = form.findChild<QWidget *>(name);
  if (!w) qFatal("no control %s", qPrintable(name));
  if (aspect == QLatin1String("visible")) return w->isVisibleTo(&form);
  return w->isEnabled();
}

}  // namespace

class TestMonitorForm : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { testsupport::makeTemporaryPortsDir(); }
  void modeTable_data();
  void modeTable();
  void modeSwitchesKeepOptionsExclusive();
  void modeSwitchLeavesRunStateAndReadouts();
  void runState_data();
  void runState();
  void stopResetsTraceAndCursors();
  void statisticsTick_data();
  void statisticsTick();
  void tickStopsBlinkWhenNoReadingReachesAlarm();
  void repeatedModeClicksDoNotPostponeTheTick();
  void alarmBlink();
  void alarmEntry_data();
  void alarmEntry();
  void alarmEntryReactsToEnterOnly();
  void initAlarmValue();
};

// One row per control of the mode table: what real-time monitoring and
// history query make of it.
void TestMonitorForm::modeTable_data() {
  QTest::addColumn<QString>("control");
  QTest::addColumn<QString>("aspect");
  QTest::addColumn<bool>("realTime");
  QTest::addColumn<bool>("history");
  const char *chartArea[] = {"Picture1", "Picture3", "Picture4", "Text5",   "Text6",   "Label12",
                             "Label13",  "Slider1",  "Slider2",  "Text7",   "Text8",   "Label8",
                             "Label10",  "Label14",  "Label15",  "Label16", "Label17", "Label18"};
  for (const char *c : chartArea) QTest::addRow("%s shown", c) << c << "visible" << true << false;
  QTest::newRow("RichTextBox1 shown") << "RichTextBox1"
                                      << "visible" << false << true;
  for (const char *c : {"Frame5", "Frame6", "Command1", "Command2", "Command3", "mnurun1", "mnupause",
                        "mnustop", "Option4", "Option5", "Timer6"})
    QTest::addRow("%s enabled", c) << c << "enabled" << true << false;
  for (const char *c :
       {"Command4", "Command5", "Command6", "Command7", "Command8", "mnuuppage", "mnudownpage"})
    QTest::addRow("%s enabled", c) << c << "enabled" << false << true;
  // Left alone by both switches (covered by the table area or the frames).
  for (const char *c : {"Label9", "Label11", "Shape2", "Label7"})
    QTest::addRow("%s untouched", c) << c << "visible" << true << true;
  for (const char *c : {"Timer4", "mnusave", "mnuprint"})
    QTest::addRow("%s untouched", c) << c << "enabled" << true << true;
}

void TestMonitorForm::modeTable() {
  QFETCH(QString, control);
  QFETCH(QString, aspect);
  QFETCH(bool, realTime);
  QFETCH(bool, history);
  Form2 form;
  // Each column is checked after the other one, so a row a switch forgets shows.
  form.Option2_Click();
  form.Option1_Click();
  form.Option1_Click();  // running it twice equals once
  QCOMPARE(aspectOf(form, control, aspect), realTime);
  QCOMPARE(form.OperatingMode, short(1));
  form.Option2_Click();
  form.Option2_Click();
  QCOMPARE(aspectOf(form, control, aspect), history);
  QCOMPARE(form.OperatingMode, short(2));
  form.Option1_Click();
  QCOMPARE(aspectOf(form, control, aspect), realTime);
}

void TestMonitorForm::modeSwitchesKeepOptionsExclusive() {
  Form2 form;
  form.Option1->click();  // as the user selects it
  QVERIFY(form.Option1->isChecked());
  QCOMPARE(form.OperatingMode, short(1));
  form.Option2->click();
  QVERIFY(form.Option2->isChecked());
  QVERIFY(!form.Option1->isChecked());
  QCOMPARE(form.OperatingMode, short(2));
  form.Option1->click();
  QVERIFY(form.Option1->isChecked());
  QVERIFY(!form.Option2->isChecked());
  QCOMPARE(form.OperatingMode, short(1));
  // Selecting the selected option again keeps it selected.
  form.Option1->click();
  QVERIFY(form.Option1->isChecked());
}

void TestMonitorForm::modeSwitchLeavesRunStateAndReadouts() {
  Form2 form;
  form.Option1_Click();
  form.Command1_Click();
  form.Timer6_Timer();
  form.Label7->setText(QStringLiteral("12.5mA"));
  form.AlarmValue = 300;
  form.Option2_Click();
  QCOMPARE(form.RunState.toInt(), 1);
  QVERIFY(form.TraceActive);
  QCOMPARE(form.AlarmValue, 300.0f);
  QCOMPARE(form.Text2->text(), QStringLiteral("0"));
  QCOMPARE(form.Label7->text(), QStringLiteral("LIVE"));
  form.Label7->setText(QStringLiteral("12.5mA"));
  form.Option1_Click();
  QCOMPARE(form.Label7->text(), QStringLiteral("12.5mA"));  // real-time leaves it
  QCOMPARE(form.RunState.toInt(), 1);
}

// A run of button presses ('S' Start, 'P' Pause, 'T' Stop, lower case through
// the menu items) and the run state it leaves.
void TestMonitorForm::runState_data() {
  QTest::addColumn<QString>("presses");
  QTest::addColumn<QVariant>("runState");
  QTest::addColumn<bool>("traceActive");
  QTest::addColumn<QString>("status");
  const QString none = QStringLiteral("状态信息");
  const QString paused = QStringLiteral("已暂停"), stopped = QStringLiteral("已停止");
  QTest::newRow("before any Start") << "" << QVariant() << false << none;
  QTest::newRow("start") << "S" << QVariant(1) << true << none;
  QTest::newRow("pause before start") << "P" << QVariant(0) << true << paused;
  QTest::newRow("stop before start") << "T" << QVariant(0) << false << stopped;
  QTest::newRow("pause then start keeps message") << "SPS" << QVariant(1) << true << paused;
  QTest::newRow("stop then start") << "TS" << QVariant(1) << true << stopped;
  QTest::newRow("stop then pause") << "TP" << QVariant(0) << true << paused;
  QTest::newRow("start twice") << "SS" << QVariant(1) << true << none;
  QTest::newRow("menu start") << "s" << QVariant(1) << true << none;
  QTest::newRow("menu pause") << "sp" << QVariant(0) << true << paused;
  QTest::newRow("menu stop") << "st" << QVariant(0) << false << stopped;
}

void TestMonitorForm::runState() {
  QFETCH(QString, presses);
  QFETCH(QVariant, runState);
  QFETCH(bool, traceActive);
  QFETCH(QString, status);
  Form2 form;
  form.Label6->setText(QStringLiteral("状态信息"));
  form.Option1_Click();
  for (QChar c : presses) {
    switch (c.toLatin1()) {
      case 'S': form.Command1->click(); break;
      case 'P': form.Command2->click(); break;
      case 'T': form.Command3->click(); break;
      case 's': form.mnurun1->trigger(); break;
      case 'p': form.mnupause->trigger(); break;
      case 't': form.mnustop->trigger(); break;
    }
  }
  const QVariant actual = form.property("RunState");
  QCOMPARE(actual.isValid(), runState.isValid());
  if (runState.isValid()) QCOMPARE(actual.toInt(), runState.toInt());
  QCOMPARE(form.property("TraceActive").toBool(), traceActive);
  QCOMPARE(form.Label6->text(), status);
}

void TestMonitorForm::stopResetsTraceAndCursors() {
  Form2 form;
  form.Option1_Click();
  form.Command1_Click();
  form.TraceBuffer.fill(7.0f);
  form.ReadingBuffer.fill(3.0f);
  form.ReadingsStored = Form2::kBufferSize;
  form.TraceWritePos = 123;
  form.CursorX1 = 100;
  form.CursorX2 = 900;
  form.CursorY = 42;
  form.CursorZ = 17;
  form.Label7->setText(QStringLiteral("12.5mA"));
  form.Command3_Click();
  QCOMPARE(form.TraceWritePos, short(0));
  for (float v : form.property("TraceBuffer").value<QList<float>>()) QCOMPARE(v, 0.0f);
  for (float v : form.property("ReadingBuffer").value<QList<float>>()) QCOMPARE(v, 3.0f);
  QCOMPARE(form.CursorX1, 0.0);
  QCOMPARE(form.CursorX2, 500.0);
  QCOMPARE(form.CursorY, 500.0);
  QCOMPARE(form.CursorZ, short(0));
  QCOMPARE(form.Label7->text(), QStringLiteral("LIVE"));
  QCOMPARE(form.Label6->text(), QStringLiteral("已停止"));
  // The statistics go on from the readings kept.
  form.Timer6_Timer();
  QCOMPARE(form.Text4->text(), QStringLiteral("3"));
}

// Readings are given as "first..last=value" runs; slots outside the runs are
// 0. `stored` slots from 0 on hold readings; the others were never reached.
void TestMonitorForm::statisticsTick_data() {
  QTest::addColumn<int>("slider");
  QTest::addColumn<QStringList>("runs");
  QTest::addColumn<int>("stored");
  QTest::addColumn<float>("alarmValue");
  QTest::addColumn<QStringList>("texts");
  QTest::addColumn<bool>("alarm");
  QTest::newRow("first tick, nothing stored")
      << 2 << QStringList{} << 0 << 1000000.0f << QStringList{"0", "0", "0"} << false;
  QTest::newRow("17 x 5.5, later slots ignored") << 0 << QStringList{"0..16=5.5", "17..500=999"} << 501
                                                 << 1000000.0f << QStringList{"5.5", "5.5", "5.5"} << false;
  // Slots no reading has reached are no readings of 0.
  QTest::newRow("10 x 17 of 17 slots")
      << 0 << QStringList{"0..9=17"} << 10 << 1000000.0f << QStringList{"17", "17", "17"} << false;
  QTest::newRow("6 and 18 in a window of 167 barely begun")
      << 2 << QStringList{"0=6", "1=18"} << 2 << 1000000.0f << QStringList{"18", "6", "12"} << false;
  QTest::newRow("whole 30s window reaches slot 500") << 4 << QStringList{"0..499=1", "500=502"} << 501
                                                     << 1000000.0f << QStringList{"502", "1", "2"} << false;
  QTest::newRow("reading equal to alarm value")
      << 0 << QStringList{"3=250"} << 17 << 250.0f << QStringList{"250", "0", "14.706"} << true;
  QTest::newRow("reading just below alarm value")
      << 0 << QStringList{"3=249.99"} << 17 << 250.0f << QStringList{"249.99", "0", "14.705"} << false;
  QTest::newRow("alarm value 0, only zeros")
      << 1 << QStringList{} << 0 << 0.0f << QStringList{"0", "0", "0"} << true;
  QTest::newRow("reading outside the window")
      << 0 << QStringList{"17=400"} << 18 << 300.0f << QStringList{"0", "0", "0"} << false;
}

void TestMonitorForm::statisticsTick() {
  QFETCH(int, slider);
  QFETCH(QStringList, runs);
  QFETCH(int, stored);
  QFETCH(float, alarmValue);
  QFETCH(QStringList, texts);
  QFETCH(bool, alarm);
  Form2 form;
  form.Slider2->setValue(slider);
  for (const QString &run : runs) {
    const QStringList kv = run.split('=');
    const QStringList range = kv[0].split(QStringLiteral(".."));
    const int first = range[0].toInt(), last = range.value(1, range[0]).toInt();
    for (int i = first; i <= last; ++i) form.ReadingBuffer[size_t(i)] = kv[1].toFloat();
  }
  form.ReadingsStored = short(stored);
  form.AlarmValue = alarmValue;
  QVERIFY(form.Text2->text().isEmpty());  // empty until the first tick
  form.Timer6_Timer();
  QCOMPARE((QStringList{form.Text2->text(), form.Text3->text(), form.Text4->text()}), texts);
  QCOMPARE(form.Timer7->Enabled(), alarm);
  QVERIFY(!form.Shape2->Lit());  // every tick starts the lamp unlit
}

void TestMonitorForm::tickStopsBlinkWhenNoReadingReachesAlarm() {
  Form2 form;
  form.AlarmValue = 10;
  form.ReadingBuffer[0] = 10;
  form.Timer6_Timer();
  QVERIFY(form.Timer7->Enabled());
  form.Timer7_Timer();
  QVERIFY(form.Shape2->Lit());
  form.ReadingBuffer[0] = 9;
  form.Timer6_Timer();
  QVERIFY(!form.Timer7->Enabled());
  QVERIFY(!form.Shape2->Lit());
}

// Clicking "实时监控" again and again, faster than once a second, leaves the
// running statistics tick alone, so MAX/MIN/AVERAGE still get written.
void TestMonitorForm::repeatedModeClicksDoNotPostponeTheTick() {
  Form2 form;
  form.Option1_Click();
  form.Timer6->arm();
  QVERIFY(form.Text2->text().isEmpty());
  for (int i = 0; i < 12 && form.Text2->text().isEmpty(); ++i) {
    form.Option1->click();
    QTest::qWait(250);
  }
  QCOMPARE(form.Text2->text(), QStringLiteral("0"));
  QVERIFY(form.Timer6->isRunning());
}

void TestMonitorForm::alarmBlink() {
  Form2 form;
  QCOMPARE(form.Shape2->BackColor(), QColor(Qt::white));
  form.Shape2->setLit(false);
  form.Timer7_Timer();
  QCOMPARE(form.Shape2->BackColor(), QColor(255, 0, 0));
  QVERIFY(form.Shape2->Lit());
  form.Timer7_Timer();
  QVERIFY(!form.Shape2->Lit());
  QCOMPARE(form.Shape2->BackColor(), QColor(255, 0, 0));
}

void TestMonitorForm::alarmEntry_data() {
  QTest::addColumn<QString>("unit");
  QTest::addColumn<QString>("text");
  QTest::addColumn<float>("alarmValue");
  QTest::addColumn<bool>("refused");
  // The alarm value before each entry is 123; the limits themselves are
  // checked on the entry rule alone.
  QTest::newRow("mA 350000.5 refused") << "mA"
                                       << "350000.5" << 123.0f << true;
  QTest::newRow("mA not a number is 0") << "mA"
                                        << "abc" << 0.0f << false;
  QTest::newRow("A 350 as mA") << "A"
                               << "350" << 350000.0f << false;
  QTest::newRow("A 350.5 refused") << "A"
                                   << "350.5" << 123.0f << true;
  QTest::newRow("no unit") << ""
                           << "5" << 123.0f << false;
  QTest::newRow("no unit, out of range") << ""
                                         << "-5" << 123.0f << false;
}

void TestMonitorForm::alarmEntry() {
  QFETCH(QString, unit);
  QFETCH(QString, text);
  QFETCH(float, alarmValue);
  QFETCH(bool, refused);
  Form2 form;
  form.Label6->setText(QStringLiteral("状态信息"));
  form.AlarmValue = 123;
  if (unit == QLatin1String("mA")) form.Option4->setChecked(true);
  if (unit == QLatin1String("A")) form.Option5->setChecked(true);
  form.Text1->setText(text);
  QTest::keyClick(form.Text1, Qt::Key_Return);  // through the box's key event
  QCOMPARE(form.AlarmValue, alarmValue);
  QCOMPARE(form.Label6->text(), refused ? QStringLiteral("输入值超出范围") : QStringLiteral("状态信息"));
  QCOMPARE(form.Text1->text(), text);  // left as typed
}

void TestMonitorForm::alarmEntryReactsToEnterOnly() {
  Form2 form;
  form.AlarmValue = 123;
  form.Option4->setChecked(true);
  form.Text1->setText(QStringLiteral("-1"));
  form.Text1_KeyDown(65, 0);
  form.Text1_KeyDown(13, 1);  // Shift+Enter is still Enter
  QCOMPARE(form.Label6->text(), QStringLiteral("输入值超出范围"));
  // A refused entry then an accepted one: the value is taken, the message stays.
  form.Text1->setText(QStringLiteral("77"));
  form.Text1_KeyDown(13, 0);
  QCOMPARE(form.AlarmValue, 77.0f);
  QCOMPARE(form.Label6->text(), QStringLiteral("输入值超出范围"));
}

void TestMonitorForm::initAlarmValue() {
  Form2 form;
  form.AlarmValue = 5;
  form.InitAlarmValue();
  QCOMPARE(form.property("AlarmValue").toFloat(), 1000000.0f);
}

QTEST_MAIN(TestMonitorForm)
#include "test_monitor_form.moc"
