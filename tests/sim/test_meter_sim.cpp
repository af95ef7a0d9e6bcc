// The meter simulator over its pseudo-terminal: answers, contents, faults,
// vanishing and coming back, and the clean exit.
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include "support/bytes.h"
#include "support/event_wait.h"
#include "support/pty.h"
#include "support/sim_process.h"

using testsupport::Bytes;
using testsupport::MeterSim;

class TestMeterSim : public QObject {
  Q_OBJECT
 private slots:
  void init() { testsupport::makeTemporaryPortsDir(); }

  void answers_data();
  void answers();
  void unansweredCommands_data();
  void unansweredCommands();
  void waveforms_data();
  void waveforms();
  void garbageKeepsReplyLengths();
  void delayedAnswerComesLate();
  void portCanBeClosedAndReopened();
  void vanishesAndReturnsUnderTheSameLink();
  void signalCutsPacedAnswerEveryTime();
  void stopRemovesLinkAndLogsEveryByte();
  void badOptionIsRefused();
};

// Each row sends the commands in order and expects exactly these reply bytes.
void TestMeterSim::answers_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QByteArray>("commands");
  QTest::addColumn<QByteArray>("reply");

  QTest::newRow("handshake") << QStringList{} << Bytes({5}) << Bytes({213, 85, 85});
  QTest::newRow("count") << QStringList{"--groups", "7"} << Bytes({15}) << Bytes({5, 5, 7});
  QTest::newRow("count 255") << QStringList{"--groups", "255"} << Bytes({15}) << Bytes({5, 5, 255});
  // Stored group k: code from the fixed cycle, count value k * 1237 mod 10000.
  QTest::newRow("history 3") << QStringList{"--groups", "3"} << Bytes({25})
                             << Bytes({12, 37, 1, 24, 74, 3, 37, 11, 10});
  QTest::newRow("history 14 has overload and invalid")
      << QStringList{"--groups", "14"} << Bytes({25})
      << Bytes({12, 37, 1,  24, 74, 3,  37, 11, 10, 49, 48, 5,  61, 85, 7,  74, 22, 11, 86, 59, 12,
                98, 96, 13, 11, 33, 16, 23, 70, 17, 36, 7,  18, 48, 44, 20, 60, 81, 9,  73, 18, 0});
  QTest::newRow("live default 12.34 mA") << QStringList{} << Bytes({35}) << Bytes({12, 34, 1});
  QTest::newRow("live code 3") << QStringList{"--code", "3", "--value", "7.5"} << Bytes({35})
                               << Bytes({0, 75, 3});
  QTest::newRow("live code 12 whole amperes")
      << QStringList{"--code", "12", "--value", "1234"} << Bytes({35}) << Bytes({12, 34, 12});
  QTest::newRow("live clamped to 9999") << QStringList{"--value", "500"} << Bytes({35}) << Bytes({99, 99, 1});
  QTest::newRow("live negative code keeps magnitude")
      << QStringList{"--code", "18", "--value", "-3.2"} << Bytes({35}) << Bytes({0, 32, 18});
  QTest::newRow("bad handshake") << QStringList{"--bad-handshake"} << Bytes({5}) << Bytes({85, 213, 85});
  QTest::newRow("bad count") << QStringList{"--bad-count", "--groups", "9"} << Bytes({15})
                             << Bytes({5, 4, 9});
  QTest::newRow("short history") << QStringList{"--short-history", "--groups", "5"} << Bytes({25})
                                 << Bytes({12, 37, 1, 24, 74, 3});
  QTest::newRow("a whole session") << QStringList{"--groups", "1"} << Bytes({5, 35, 15, 25, 0})
                                   << Bytes({213, 85, 85, 12, 34, 1, 5, 5, 1, 12, 37, 1});
}

void TestMeterSim::answers() {
  QFETCH(QStringList, args);
  QFETCH(QByteArray, commands);
  QFETCH(QByteArray, reply);
  MeterSim sim(args);
  QVERIFY(sim.waitReady());
  PtyClient port(sim.linkPath());
  QVERIFY(port.isOpen());
  QVERIFY(port.write(commands));
  QCOMPARE(port.read(int(reply.size()), 5000), reply);
  QVERIFY(sim.waitForReceived(quint8(commands.back()), 1, 5000));
  QCOMPARE(sim.receivedBytes(), commands);
  QCOMPARE(sim.sentBytes(), reply);
}

// Commands that get no answer. A closing 0 follows as a marker: the simulator
// logs any answer to a command before it takes in the next byte.
void TestMeterSim::unansweredCommands_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QByteArray>("commands");

  QTest::newRow("closing notice") << QStringList{} << Bytes({0});
  QTest::newRow("unknown bytes") << QStringList{} << Bytes({1, 6, 36, 213, 255});
  QTest::newRow("silent") << QStringList{"--silent"} << Bytes({5, 15, 25, 35});
  QTest::newRow("history of 0 groups") << QStringList{"--groups", "0"} << Bytes({25});
}

void TestMeterSim::unansweredCommands() {
  QFETCH(QStringList, args);
  QFETCH(QByteArray, commands);
  MeterSim sim(args);
  QVERIFY(sim.waitReady());
  PtyClient port(sim.linkPath());
  QVERIFY(port.write(commands + Bytes({0})));
  QVERIFY(sim.waitForReceived(0, commands.count('\0') + 1, 5000));
  QCOMPARE(sim.receivedBytes(), commands + Bytes({0}));
  QVERIFY(sim.sent().isEmpty());
}

void TestMeterSim::waveforms_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QByteArray>("replies");  // consecutive live replies

  QTest::newRow("ramp") << QStringList{"--waveform", "ramp", "--period", "3"}
                        << Bytes({0, 0, 1, 6, 17, 1, 12, 34, 1, 0, 0, 1});
  QTest::newRow("sine") << QStringList{"--waveform", "sine", "--period", "4", "--value", "10"}
                        << Bytes({10, 0, 1, 15, 0, 1, 10, 0, 1, 5, 0, 1, 10, 0, 1});
  QTest::newRow("constant code 5") << QStringList{"--waveform", "constant", "--code", "5", "--value", "1.5"}
                                   << Bytes({1, 50, 5, 1, 50, 5});
}

void TestMeterSim::waveforms() {
  QFETCH(QStringList, args);
  QFETCH(QByteArray, replies);
  MeterSim sim(args);
  QVERIFY(sim.waitReady());
  PtyClient port(sim.linkPath());
  QByteArray got;
  for (qsizetype i = 0; i < replies.size(); i += 3) {
    QVERIFY(port.write(Bytes({35})));
    got += port.read(3, 5000);
  }
  QCOMPARE(got, replies);
}

void TestMeterSim::garbageKeepsReplyLengths() {
  MeterSim sim({"--garbage", "--groups", "4"});
  QVERIFY(sim.waitReady());
  PtyClient port(sim.linkPath());
  QVERIFY(port.write(Bytes({5})));
  const QByteArray handshake = port.read(3, 5000);
  QCOMPARE(handshake.size(), 3);
  QVERIFY(handshake != Bytes({213, 85, 85}));
  QVERIFY(port.write(Bytes({25})));
  QCOMPARE(port.read(12, 5000).size(), 12);
}

void TestMeterSim::delayedAnswerComesLate() {
  MeterSim sim({"--delay-ms", "300"});
  QVERIFY(sim.waitReady());
  PtyClient port(sim.linkPath());
  QVERIFY(port.write(Bytes({5})));
  QCOMPARE(port.read(3, 5000), Bytes({213, 85, 85}));
  // The simulator's own clock: the answer left no earlier than the delay.
  QVERIFY(testsupport::waitUntil([&] { return sim.sent().size() == 1; }, 5000));
  QCOMPARE(sim.received().size(), 1);
  QVERIFY(sim.sent().at(0).ms - sim.received().at(0).ms >= 300);
}

void TestMeterSim::portCanBeClosedAndReopened() {
  MeterSim sim;
  QVERIFY(sim.waitReady());
  {
    PtyClient first(sim.linkPath());
    QVERIFY(first.write(Bytes({5})));
    QCOMPARE(first.read(3, 5000), Bytes({213, 85, 85}));
  }
  PtyClient second(sim.linkPath());
  QVERIFY(second.isOpen());
  QVERIFY(second.write(Bytes({35})));
  QCOMPARE(second.read(3, 5000), Bytes({12, 34, 1}));
}

void TestMeterSim::vanishesAndReturnsUnderTheSameLink() {
  MeterSim sim({"--vanish-after", "2", "--return-after-ms", "200"});
  QVERIFY(sim.waitReady());
  PtyClient port(sim.linkPath());
  QVERIFY(port.write(Bytes({5})));
  QCOMPARE(port.read(3, 5000), Bytes({213, 85, 85}));
  QVERIFY(port.write(Bytes({5})));  // the second byte: the device goes away unanswered
  QVERIFY(sim.waitVanished(1, 5000));
  QVERIFY(port.waitHangUp(5000));
  port.close();

  QVERIFY(sim.waitReady(5000));
  QCOMPARE(QFileInfo(sim.linkPath()).symLinkTarget(), sim.devicePath());
  PtyClient again(sim.linkPath());
  QVERIFY(again.write(Bytes({15})));
  QCOMPARE(again.read(3, 5000), Bytes({5, 5, 10}));
  QCOMPARE(sim.sent().size(), 2);
}

void TestMeterSim::signalCutsPacedAnswerEveryTime() {
  // Paced at 1200 baud the 765-byte block is on the wire for over six
  // seconds: SIGUSR1 cuts it, and does so again after each return.
  MeterSim sim({"--pace", "--baud", "1200", "--groups", "255", "--return-after-ms", "100"});
  for (int round = 1; round <= 2; ++round) {
    QVERIFY(sim.waitReady(5000));
    PtyClient port(sim.linkPath());
    QVERIFY(port.write(Bytes({25})));
    QByteArray got = port.read(3, 5000);
    QCOMPARE(got.size(), 3);
    sim.vanishNow();
    QVERIFY(sim.waitVanished(round, 5000));
    got += port.read(765, 10000);  // what crossed before the cut, up to the hang-up
    QVERIFY2(got.size() < 765, QByteArray::number(got.size()).constData());
    QCOMPARE(got, sim.sentBytes().right(765).left(got.size()));
  }
  QVERIFY(sim.waitReady(5000));
  PtyClient again(sim.linkPath());
  QVERIFY(again.write(Bytes({35})));
  QCOMPARE(again.read(3, 5000), Bytes({12, 34, 1}));
}

void TestMeterSim::stopRemovesLinkAndLogsEveryByte() {
  MeterSim sim;
  QVERIFY(sim.waitReady());
  QVERIFY(QFileInfo(sim.linkPath()).isSymLink());
  PtyClient port(sim.linkPath());
  const QByteArray sentBytes = Bytes({0, 5, 0, 77, 0});
  QVERIFY(port.write(sentBytes));
  QVERIFY(sim.waitForReceived(0, 3, 5000));
  QCOMPARE(sim.countReceived(0), 3);
  QCOMPARE(sim.countReceived(5), 1);
  qint64 last = 0;
  for (const auto &r : sim.received()) {
    QVERIFY(r.ms >= last);
    last = r.ms;
  }
  sim.stop();
  QVERIFY(!sim.isRunning());
  QVERIFY(!QFileInfo::exists(sim.linkPath()) && !QFileInfo(sim.linkPath()).isSymLink());
  QCOMPARE(sim.receivedBytes(), sentBytes);
}

void TestMeterSim::badOptionIsRefused() {
  QProcess p;
  p.start(QString::fromUtf8(METER_SIM_PATH), {"--groups", "256"});
  QVERIFY(p.waitForFinished(5000));
  QCOMPARE(p.exitCode(), 2);
  p.start(QString::fromUtf8(METER_SIM_PATH), {"--help"});
  QVERIFY(p.waitForFinished(5000));
  QCOMPARE(p.exitCode(), 0);
  const QByteArray help = p.readAllStandardOutput();
  for (const char *opt :
       {"--link", "--device", "--groups", "--waveform", "--code", "--value", "--bad-handshake", "--bad-count",
        "--short-history", "--silent", "--delay-ms", "--count-delay-ms", "--pause-after", "--pause-ms",
        "--garbage", "--vanish-after", "--return-after-ms", "--log"})
    QVERIFY2(help.contains(opt), opt);
}

QTEST_GUILESS_MAIN(TestMeterSim)
#include "test_meter_sim.moc"
