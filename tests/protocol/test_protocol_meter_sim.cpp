// The protocol end to end: the window against meter-sim on a pseudo-terminal.
// Timing is judged on the simulator's log with wide margins, by counting
// frames over a stretch of time rather than measuring single intervals.
#include <QLabel>
#include <QtTest>
#include <limits>
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

class TestProtocolMeterSim : public QObject {
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
  void historyRequestWaitsForCountReply_data();
  void historyRequestWaitsForCountReply();
  void badCountKeepsGroupCount();
  void liveResumesAfterUnfinishedHistoryRead_data();
  void liveResumesAfterUnfinishedHistoryRead();
  void silentMeterIsReportedWhileRunning();
  void vanishAndReturnWithSimulator();

 private:
  // Connects, switches to history mode and waits for the greeting to be answered.
  void enterHistoryMode(MeterSim &sim, Form2 &form);
};

void TestProtocolMeterSim::initTestCase() { testsupport::makeTemporaryPortsDir(); }

void TestProtocolMeterSim::enterHistoryMode(MeterSim &sim, Form2 &form) {
  QVERIFY(WaitConnected(form));
  const int greetings = sim.countReceived(5);
  const QByteArray handshakeReply("\xd5\x55\x55", 3);
  const auto repliesSent = [&] {
    int n = 0;
    for (const testsupport::SentReply &r : sim.sent()) n += r.bytes == handshakeReply;
    return n;
  };
  const int replies = repliesSent();
  form.Option2_Click();
  QCOMPARE(form.OperatingMode, short(2));
  QVERIFY(sim.waitForReceived(5, greetings + 1, 3000));
  // The greeting of the mode switch must be answered and handled before a
  // history read starts, also when the meter answers late.
  QVERIFY(waitUntil([&] { return repliesSent() > replies; }, 5000));
  QVERIFY(waitUntil([&] { return form.Label6->text() == QStringLiteral("握手成功"); }, 3000));
  pumpEvents(600);  // no live request is outstanding now
}

void TestProtocolMeterSim::handshakeThenLivePolling() {
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

void TestProtocolMeterSim::badHandshakeKeepsRetrying() {
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

void TestProtocolMeterSim::silentMeterThenAnswering() {
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

void TestProtocolMeterSim::lateHandshakeReplyIsAccepted() {
  // Every answer comes 700 ms late, after the next handshake has gone out.
  MeterSim sim({QStringLiteral("--delay-ms"), QStringLiteral("700")});
  QVERIFY(sim.waitReady());
  auto form = StartProgram();
  QVERIFY(WaitConnected(*form, 5000));
  QVERIFY(!form->Timer2->Enabled());
  QVERIFY(sim.countReceived(5) >= 2);
}

void TestProtocolMeterSim::historyRead_data() {
  QTest::addColumn<int>("groups");
  QTest::newRow("1") << 1;
  QTest::newRow("100") << 100;
  QTest::newRow("255") << 255;
}

void TestProtocolMeterSim::historyRead() {
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
  QVERIFY(lines[3].endsWith(QStringLiteral("001") + QString(22, QLatin1Char(' ')) +
                            QStringLiteral("AC 12.37 mA")));
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

void TestProtocolMeterSim::historyReadWithoutGroupsKeepsTable() {
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
  // The meter sends nothing for no groups: the table stays as it was, and
  // the status line says that no data came.
  QVERIFY(waitUntil([&] { return form->Label6->text() == QStringLiteral("返回历史数据失败"); }, 5000));
  QCOMPARE(form->RichTextBox1->Text(), before);
  QCOMPARE(form->GroupCount, short(0));
  QCOMPARE(form->MSComm1->RThreshold(), 3);
  QCOMPARE(ReceivedAfter(sim, seen), QByteArray("\x0f\x19"));
}

void TestProtocolMeterSim::historyRequestWaitsForCountReply_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<bool>("countArrives");  // within the time the read waits for it
  const QStringList groups{QStringLiteral("--groups"), QStringLiteral("255")};
  for (int delay : {110, 150, 300, 600})
    QTest::addRow("every answer %d ms late", delay)
        << groups + QStringList{QStringLiteral("--delay-ms"), QString::number(delay)} << true;
  QTest::newRow("count reply 2600 ms late")
      << groups + QStringList{QStringLiteral("--count-delay-ms"), QStringLiteral("2600")} << false;
}

// A meter that answers late: the history request goes out only after the
// count reply, so the late count is never read as history data. A count reply
// that does not come in time fails the read, and also when it comes later.
void TestProtocolMeterSim::historyRequestWaitsForCountReply() {
  QFETCH(QStringList, args);
  QFETCH(bool, countArrives);
  MeterSim sim(args);
  QVERIFY(sim.waitReady());
  auto form = StartProgram();
  enterHistoryMode(sim, *form);
  if (QTest::currentTestFailed()) return;
  const QString before = form->RichTextBox1->Text();
  form->GroupCount = 2;
  const int seen = sim.receivedBytes().size();
  const int answers = sim.sent().size();
  form->StartHistoryRead();

  if (countArrives) {
    // The simulator's log may still be catching up with the handshake reply
    // of the mode switch, so the count reply and the block are found by content.
    const QByteArray countReply("\x05\x05\xff", 3);
    qint64 countSentMs = -1;
    QByteArray block;
    QVERIFY(waitUntil(
        [&] {
          const QList<testsupport::SentReply> sent = sim.sent();
          for (int i = answers; i < sent.size(); ++i) {
            if (sent[i].bytes == countReply && countSentMs < 0) countSentMs = sent[i].ms;
            if (sent[i].bytes.size() == 765) block = sent[i].bytes;
          }
          return !block.isEmpty();
        },
        5000));
    QVERIFY(countSentMs >= 0);
    QVERIFY(waitUntil([&] { return form->RichTextBox1->Text() == HistoryTableText(block, 255); }, 3000));
    QCOMPARE(form->Label6->text(), QStringLiteral("返回历史数据正常"));
    QCOMPARE(form->GroupCount, short(255));
    // The history request left only after the count reply had gone out.
    const QList<testsupport::ReceivedByte> frames = sim.received().mid(seen);
    QCOMPARE(frames.size(), 2);
    QCOMPARE(int(frames[1].byte), 25);
    QVERIFY(frames[1].ms >= countSentMs);
  } else {
    QVERIFY(waitUntil([&] { return form->Label6->text() == QStringLiteral("接收组数失败"); }, 5000));
    QVERIFY(!form->Timer3->Enabled());
    // The late count reply changes nothing, and no history request was written.
    QVERIFY(waitUntil([&] { return sim.sent().size() >= answers + 1; }, 3000));
    pumpEvents(300);
    QCOMPARE(form->Label6->text(), QStringLiteral("接收组数失败"));
    QCOMPARE(form->GroupCount, short(2));
    QCOMPARE(form->RichTextBox1->Text(), before);
    QCOMPARE(ReceivedAfter(sim, seen), QByteArray("\x0f"));
  }
  QCOMPARE(form->MSComm1->RThreshold(), 3);
}

void TestProtocolMeterSim::badCountKeepsGroupCount() {
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

void TestProtocolMeterSim::liveResumesAfterUnfinishedHistoryRead_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<bool>("whileBlockComing");  // back to live before the block arrives
  QTest::newRow("short history block")
      << QStringList{QStringLiteral("--short-history"), QStringLiteral("--groups"), QStringLiteral("6")}
      << false;
  QTest::newRow("history block still coming")
      << QStringList{QStringLiteral("--groups"), QStringLiteral("255"), QStringLiteral("--delay-ms"),
                     QStringLiteral("80")}
      << true;
}

// A history read that never completes must not hold back the live replies
// that follow: every later live reply is handled and shown, and no part of
// the block is taken for one.
void TestProtocolMeterSim::liveResumesAfterUnfinishedHistoryRead() {
  QFETCH(QStringList, args);
  QFETCH(bool, whileBlockComing);
  MeterSim sim(args);
  QVERIFY(sim.waitReady());
  auto form = StartProgram();
  enterHistoryMode(sim, *form);
  if (QTest::currentTestFailed()) return;
  const int answers = sim.sent().size();
  const int seen = sim.receivedBytes().size();
  if (whileBlockComing) {
    // Back to live monitoring and Start the moment the history request is out.
    QObject::connect(form->Timer3, &IntervalTimer::Timer, form.get(), [&form] {
      if (form->CommandBuffer != QByteArray(1, 25) || form->OperatingMode != 2) return;
      form->Option1_Click();
      form->Command1_Click();
    });
  }
  form->StartHistoryRead();
  QVERIFY(sim.waitForReceived(25, 1, 5000));
  if (whileBlockComing) {
    // The live request waits until the block has come and the line is quiet.
    QVERIFY(waitUntil([&] { return sim.sent().size() >= answers + 3; }, 3000));
    const QList<testsupport::ReceivedByte> frames = sim.received().mid(seen);
    QVERIFY(frames.size() >= 3);
    QCOMPARE(int(frames[2].byte), 35);
    QVERIFY2(frames[2].ms >= sim.sent().at(answers + 1).ms, "the live request overtook the block");
  } else {
    QVERIFY(waitUntil([&] { return sim.sent().size() >= answers + 2; }, 3000));
    pumpEvents(300);
    // The short block was never reported as a history return.
    QCOMPARE(form->Label6->text(), QStringLiteral("存储的组数为:6"));
    form->Option1_Click();
  }

  QVERIFY(waitUntil([&] { return form->Label7->text() == QStringLiteral("12.34mA"); }, 3000));
  const short pos = form->TraceWritePos;
  const int requests = sim.countReceived(35);
  pumpEvents(2500);
  QVERIFY(sim.countReceived(35) - requests >= 3);
  // Slider2 at its design position: 166 points per window, no wrap in this time.
  QVERIFY2(form->TraceWritePos - pos >= 3, qPrintable(QString::number(form->TraceWritePos - pos)));
  QCOMPARE(form->MSComm1->RThreshold(), 3);
  QCOMPARE(form->Label6->text(), QStringLiteral("接收电流数据正常"));
  QVERIFY(form->UnansweredRequests < 3);
}

// A meter that stops answering while the live display runs: after three
// unanswered requests the status line says so, polling goes on, and the
// first good reply brings the normal message back.
void TestProtocolMeterSim::silentMeterIsReportedWhileRunning() {
  // Handshake and two live readings answered, then 4 s of silence.
  MeterSim sim({QStringLiteral("--pause-after"), QStringLiteral("3"), QStringLiteral("--pause-ms"),
                QStringLiteral("4000")});
  QVERIFY(sim.waitReady());
  auto form = StartProgram();
  QVERIFY(WaitConnected(*form));
  QVERIFY(waitUntil([&] { return form->Label7->text() == QStringLiteral("12.34mA"); }, 3000));
  const QString silent = QStringLiteral("下位机无应答,请检查仪表");
  QVERIFY(waitUntil([&] { return form->Label6->text() == silent; }, 4000));
  QVERIFY(form->UnansweredRequests >= 3);
  // Hours of silence: the count stops at its largest value instead of
  // wrapping to a negative one, which would hide the message.
  form->UnansweredRequests = std::numeric_limits<short>::max();
  const short pos = form->TraceWritePos;
  const int requests = sim.countReceived(35);
  QVERIFY(sim.waitForReceived(35, requests + 2, 2000));  // polling goes on
  QCOMPARE(form->UnansweredRequests, std::numeric_limits<short>::max());
  QCOMPARE(form->Label6->text(), silent);
  QCOMPARE(form->Connected, short(1));
  QCOMPARE(form->OperatingMode, short(1));
  QCOMPARE(form->TraceWritePos, pos);

  QVERIFY(waitUntil([&] { return form->Label6->text() == QStringLiteral("接收电流数据正常"); }, 5000));
  QCOMPARE(form->UnansweredRequests, short(0));
  QVERIFY(form->TraceWritePos != pos);
}

void TestProtocolMeterSim::vanishAndReturnWithSimulator() {
  // The meter unplugged and plugged in again. While the simulator is away its
  // link is gone: COM1 is then invalid (its default device, present on many
  // machines, is not used), and the meter is greeted again once back.
  MeterSim sim({QStringLiteral("--vanish-after"), QStringLiteral("4"), QStringLiteral("--return-after-ms"),
                QStringLiteral("1500")});
  QVERIFY(sim.waitReady());
  auto form = StartProgram();
  QVERIFY(WaitConnected(*form, 3000));
  QCOMPARE(form->Label2->text(), QStringLiteral("设备连接成功"));

  QVERIFY(sim.waitVanished(1, 5000));
  const int greetings = sim.countReceived(5);
  QVERIFY(waitUntil([&] { return form->Label6->text() == QStringLiteral("COM1电脑端口无效."); }, 3000));
  QCOMPARE(form->Connected, short(0));
  QCOMPARE(form->Label2->text(), QStringLiteral("仪表连接失败"));
  QVERIFY(waitUntil([&] { return form->MSComm1->PortOpen(); }, 8000));
#ifndef Q_OS_WIN  // Windows opens COM1 by its own name, not by a device path
  // Reopened only on the returned simulator, which announces its new device
  // just after placing the link.
  QVERIFY(waitUntil([&] { return form->MSComm1->DevicePath() == sim.devicePath(); }, 3000));
#endif
  QCOMPARE(form->Label1->text(), QStringLiteral("串口通信正常"));

  // Handshake again, then live readings again.
  QVERIFY(sim.waitForReceived(5, greetings + 1, 3000));
  QVERIFY(WaitConnected(*form, 3000));
  QCOMPARE(form->Label2->text(), QStringLiteral("设备连接成功"));
  const int polls = sim.countReceived(35);
  QVERIFY(sim.waitForReceived(35, polls + 1, 3000));
  QVERIFY(waitUntil([&] { return form->Label6->text() == QStringLiteral("接收电流数据正常"); }, 3000));

  // The closing notice reaches the simulator even though the window is gone
  // right after writing it.
  const int notices = sim.countReceived(0);
  form->Form_Unload();
  form.reset();
  QVERIFY2(sim.waitForReceived(0, notices + 1, 3000), sim.receivedBytes().toHex().constData());
}

QTEST_MAIN(TestProtocolMeterSim)
#include "test_protocol_meter_sim.moc"
