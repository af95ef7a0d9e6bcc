// The protocol end to end: the window against meter-sim on a pseudo-terminal.
// Timing is judged on the simulator's log with wide margins, by counting
// frames over a stretch of time rather than measuring single intervals.
#include <QLabel>
#include <QtTest>
#include <memory>

#include "app/controls.h"
#include "app/form2.h"
#include "protocol/history_table.h"
#include "serial/comm_control.h"
#include "support/event_wait.h"
#include "support/sim_process.h"

using testsupport::MeterSim;
using testsupport::pumpEvents;
using testsupport::waitUntil;

namespace {

std::unique_ptr<Form2> StartProgram() {
  auto form = std::make_unique<Form2>();
  form->Form_Load();
  return form;
}

bool WaitConnected(Form2 &form, int ms = 5000) {
  return waitUntil([&] { return form.Connected == 1; }, ms);
}

// Bytes received by the simulator after the first `skip` ones.
QByteArray ReceivedAfter(MeterSim &sim, int skip) { return sim.receivedBytes().mid(skip); }

}  // namespace

class MeterSimTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();

  void handshakeThenLivePolling();
  void badHandshakeKeepsRetrying();
  void silentMeterThenAnswering();
  void lateHandshakeReplyIsAccepted();
  void historyRead_data();
  void historyRead();
  void historyReadWithoutGroupsKeepsTable();
  void lateCountReplyIsReadAsHistory();
  void badCountKeepsGroupCount();

 private:
  // Connects, switches to history mode and waits for the greeting to be answered.
  void enterHistoryMode(MeterSim &sim, Form2 &form);
};

void MeterSimTest::initTestCase() { testsupport::makeTemporaryPortsDir(); }

void MeterSimTest::enterHistoryMode(MeterSim &sim, Form2 &form) {
  QVERIFY(WaitConnected(form));
  const int greetings = sim.countReceived(5);
  form.Option2_Click();
  QCOMPARE(form.OperatingMode, short(2));
  QVERIFY(sim.waitForReceived(5, greetings + 1, 3000));
  QVERIFY(waitUntil([&] { return form.Label6->text() == QStringLiteral("握手成功"); }, 3000));
  pumpEvents(600);  // no live request is outstanding now
}

void MeterSimTest::handshakeThenLivePolling() {
  MeterSim sim;
  QVERIFY(sim.waitReady());
  auto form = StartProgram();
  QVERIFY(WaitConnected(*form));
  QCOMPARE(form->Label2->text(), QStringLiteral("设备连接成功"));
  QVERIFY(!form->Timer2->Enabled());

  // Live readings arrive and show with their unit.
  QVERIFY(waitUntil([&] { return form->Label7->text() == QStringLiteral("12.34mA"); }, 3000));
  QVERIFY(waitUntil([&] { return form->Label6->text() == QStringLiteral("接收电流数据正常"); }, 3000));
  QCOMPARE(form->Label8->text(), QStringLiteral("100mA"));

  // 35 about every 500 ms, and no more handshakes.
  pumpEvents(200);
  const int handshakes = sim.countReceived(5);
  const int live = sim.countReceived(35);
  pumpEvents(3000);
  const int polled = sim.countReceived(35) - live;
  QVERIFY2(polled >= 3 && polled <= 9, qPrintable(QString::number(polled)));
  QCOMPARE(sim.countReceived(5), handshakes);
  QVERIFY(form->TraceWritePos > 0);
}

void MeterSimTest::badHandshakeKeepsRetrying() {
  MeterSim sim({QStringLiteral("--bad-handshake")});
  QVERIFY(sim.waitReady());
  auto form = StartProgram();
  QVERIFY(sim.waitForReceived(5, 2, 3000));
  QVERIFY(waitUntil([&] { return form->Label6->text() == QStringLiteral("握手失败,下位机返回出错"); }, 3000));
  const int before = sim.countReceived(5);
  pumpEvents(3000);
  const int retries = sim.countReceived(5) - before;
  QVERIFY2(retries >= 3 && retries <= 9, qPrintable(QString::number(retries)));
  QCOMPARE(form->Connected, short(0));
  QCOMPARE(form->Label2->text(), QStringLiteral("仪表连接失败"));
  QVERIFY(form->Timer2->Enabled());
  QCOMPARE(sim.countReceived(35), 0);  // running, but Timer4 asks nothing before the handshake
}

void MeterSimTest::silentMeterThenAnswering() {
  auto silent = std::make_unique<MeterSim>(QStringList{QStringLiteral("--silent")});
  QVERIFY(silent->waitReady());
  auto form = StartProgram();
  pumpEvents(2600);
  const int tries = silent->countReceived(5);
  QVERIFY2(tries >= 3 && tries <= 9, qPrintable(QString::number(tries)));
  QCOMPARE(silent->countReceived(35), 0);
  QCOMPARE(form->Connected, short(0));

  // The meter is replaced by one that answers; the port comes back by itself
  // and the next handshake succeeds.
  silent.reset();
  MeterSim answering;
  QVERIFY(answering.waitReady());
  QVERIFY(WaitConnected(*form, 10000));
  QCOMPARE(form->Label2->text(), QStringLiteral("设备连接成功"));
  QVERIFY(answering.waitForReceived(35, 1, 3000));
}

void MeterSimTest::lateHandshakeReplyIsAccepted() {
  // Every answer comes 700 ms late, after the next handshake has gone out.
  MeterSim sim({QStringLiteral("--delay-ms"), QStringLiteral("700")});
  QVERIFY(sim.waitReady());
  auto form = StartProgram();
  QVERIFY(WaitConnected(*form, 5000));
  QVERIFY(!form->Timer2->Enabled());
  QVERIFY(sim.countReceived(5) >= 2);
}

void MeterSimTest::historyRead_data() {
  QTest::addColumn<int>("groups");
  QTest::newRow("1") << 1;
  QTest::newRow("100") << 100;
  QTest::newRow("255") << 255;
}

void MeterSimTest::historyRead() {
  QFETCH(int, groups);
  MeterSim sim({QStringLiteral("--groups"), QString::number(groups)});
  QVERIFY(sim.waitReady());
  auto form = StartProgram();
  enterHistoryMode(sim, *form);
  if (QTest::currentTestFailed()) return;

  const int seen = sim.receivedBytes().size();
  const int answers = sim.sent().size();
  form->StartHistoryRead();
  QVERIFY(waitUntil([&] { return sim.sent().size() >= answers + 2; }, 3000));
  const QByteArray block = sim.sent().last().bytes;
  QCOMPARE(block.size(), 3 * groups);
  const QString expected = HistoryTableText(block, groups);
  QVERIFY(waitUntil([&] { return form->RichTextBox1->Text() == expected; }, 3000));
  QCOMPARE(form->Label6->text(), QStringLiteral("返回历史数据正常"));
  QCOMPARE(form->GroupCount, short(groups));
  QCOMPARE(form->MSComm1->RThreshold(), 3);

  // Rows as the simulator stores them: group k has count value (k * 1237) mod 10000.
  const QStringList lines = expected.split(QStringLiteral("\r\n"));
  QCOMPARE(lines.size(), 3 + groups);
  QVERIFY(lines[3].endsWith(QStringLiteral("001") + QString(22, QLatin1Char(' ')) + QStringLiteral("AC 12.37 mA")));
  if (groups >= 100) QVERIFY(lines[3 + 99].contains(QStringLiteral("100")));

  // Exactly two frames, 15 and then 25, roughly 100 ms apart.
  pumpEvents(300);
  const QList<testsupport::ReceivedByte> frames = sim.received().mid(seen);
  QCOMPARE(frames.size(), 2);
  QCOMPARE(int(frames[0].byte), 15);
  QCOMPARE(int(frames[1].byte), 25);
  const qint64 gap = frames[1].ms - frames[0].ms;
  QVERIFY2(gap >= 50 && gap <= 1500, qPrintable(QString::number(gap)));
}

void MeterSimTest::historyReadWithoutGroupsKeepsTable() {
  MeterSim sim({QStringLiteral("--groups"), QStringLiteral("0")});
  QVERIFY(sim.waitReady());
  auto form = StartProgram();
  enterHistoryMode(sim, *form);
  if (QTest::currentTestFailed()) return;
  const QString before = form->RichTextBox1->Text();
  const int seen = sim.receivedBytes().size();
  form->GroupCount = 4;
  form->StartHistoryRead();
  QVERIFY(waitUntil([&] { return form->Label6->text() == QStringLiteral("存储的组数为:0"); }, 3000));
  QVERIFY(sim.waitForReceived(25, 1, 3000));
  pumpEvents(300);
  // The meter sends nothing for no groups: the table stays as it was.
  QCOMPARE(form->RichTextBox1->Text(), before);
  QCOMPARE(form->GroupCount, short(0));
  QCOMPARE(form->MSComm1->RThreshold(), 3);
  QCOMPARE(ReceivedAfter(sim, seen), QByteArray("\x0f\x19"));
}

void MeterSimTest::lateCountReplyIsReadAsHistory() {
  // The count reply comes after the history request has been written, so it
  // is taken as history data with the count the window already had.
  MeterSim sim({QStringLiteral("--groups"), QStringLiteral("5"), QStringLiteral("--delay-ms"),
                QStringLiteral("300")});
  QVERIFY(sim.waitReady());
  auto form = StartProgram();
  enterHistoryMode(sim, *form);
  if (QTest::currentTestFailed()) return;
  form->GroupCount = 2;
  const int answers = sim.sent().size();
  form->StartHistoryRead();
  QVERIFY(waitUntil([&] { return sim.sent().size() >= answers + 2; }, 3000));
  const QByteArray block = sim.sent().last().bytes;
  QCOMPARE(block.size(), 15);
  const QString expected = HistoryTableText(block, 2);
  QVERIFY(waitUntil([&] { return form->RichTextBox1->Text() == expected; }, 3000));
  QCOMPARE(form->GroupCount, short(2));
  QCOMPARE(form->MSComm1->RThreshold(), 3);
  QCOMPARE(form->Label6->text(), QStringLiteral("返回历史数据正常"));
}

void MeterSimTest::badCountKeepsGroupCount() {
  MeterSim sim({QStringLiteral("--bad-count")});  // 10 groups, count header 5 4
  QVERIFY(sim.waitReady());
  auto form = StartProgram();
  enterHistoryMode(sim, *form);
  if (QTest::currentTestFailed()) return;
  form->GroupCount = 3;
  const int answers = sim.sent().size();
  form->StartHistoryRead();
  QVERIFY(waitUntil([&] { return form->Label6->text() == QStringLiteral("接收组数失败"); }, 3000));
  QVERIFY(waitUntil([&] { return sim.sent().size() >= answers + 2; }, 3000));
  const QByteArray block = sim.sent().last().bytes;
  QCOMPARE(block.size(), 30);
  const QString expected = HistoryTableText(block, 3);
  QVERIFY(waitUntil([&] { return form->RichTextBox1->Text() == expected; }, 3000));
  QCOMPARE(form->GroupCount, short(3));
  QCOMPARE(form->MSComm1->RThreshold(), 3);
}

QTEST_MAIN(MeterSimTest)
#include "meter_sim_test.moc"
