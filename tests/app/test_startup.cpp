// Start-up and shutdown of the whole window against the meter simulator on a
// pseudo-terminal linked as COM1: a meter that never answers, no port at all,
// a meter that appears later, and the closing byte written exactly once.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QtTest>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "app/controls.h"
#include "app/form2.h"
#include "serial/comm_control.h"
#include "serial/form1.h"
#include "support/event_wait.h"
#include "support/sim_process.h"

using testsupport::MeterSim;

namespace {

const QString kHandshakeHint = QStringLiteral("握手失败,请检查设备是否开启或者线缆连接,通信设置是否正确.");

// Writes one byte to the device behind `link` from outside the program. Once the
// simulator logs it, it has also taken in everything the program wrote before.
bool writeMarker(const QString &link, char byte) {
  const int fd = ::open(link.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  const bool ok = ::write(fd, &byte, 1) == 1;
  ::close(fd);
  return ok;
}

bool allBytesAre(const QByteArray &bytes, char value) {
  return !bytes.isEmpty() && bytes.count(value) == bytes.size();
}

}  // namespace

class TestStartup : public QObject {
  Q_OBJECT
 private slots:
  void init() { testsupport::makeTemporaryPortsDir(); }

  void meterThatNeverAnswers();
  void noPort();
  void meterAppearsAfterStartUp();
  void closingWritesZeroOnce_data();
  void closingWritesZeroOnce();
};

void TestStartup::meterThatNeverAnswers() {
  MeterSim sim({"--silent"});
  QVERIFY(sim.waitReady());
  Form2 w;
  w.Form_Load();
  w.show();

  QVERIFY(w.MSComm1->PortOpen());
  QCOMPARE(w.Label1->text(), QStringLiteral("串口通信正常"));
  QCOMPARE(w.Label6->text(), kHandshakeHint);
  QCOMPARE(w.Label2->text(), QStringLiteral("仪表连接失败"));
  QCOMPARE(w.property("Connected").toInt(), 0);
  QCOMPARE(w.property("OperatingMode").toInt(), 1);
  QVERIFY(w.Timer1->Enabled());
  QVERIFY(w.Timer2->Enabled());

  // The handshake is repeated and nothing else is sent before the meter answers.
  QVERIFY(sim.waitForReceived(5, 4, 10000));
  QVERIFY(allBytesAre(sim.receivedBytes(), 5));
  const auto rx = sim.received();
  for (int i = 1; i < rx.size(); ++i) QVERIFY(rx[i].ms > rx[i - 1].ms);  // one per tick, not bursts

  // The link indicator blinks; the hint stays and the instrument stays unconnected.
  const bool lit = w.Shape1->Lit();
  QVERIFY(testsupport::waitUntil([&] { return w.Shape1->Lit() != lit; }, 3000));
  QVERIFY(testsupport::waitUntil([&] { return w.Shape1->Lit() == lit; }, 3000));
  QCOMPARE(w.Label6->text(), kHandshakeHint);
  QCOMPARE(w.Label2->text(), QStringLiteral("仪表连接失败"));
  QCOMPARE(w.property("Connected").toInt(), 0);
}

void TestStartup::noPort() {
  const QString link = QDir(qEnvironmentVariable("ARRESTER_PORTS_DIR")).filePath("COM1");
  QVERIFY(QFile::link("/nonexistent/meter", link));
  Form2 w;
  w.Form_Load();
  w.show();

  QVERIFY(!w.MSComm1->PortOpen());
  QCOMPARE(w.Label1->text(), QStringLiteral("串口无效"));
  QCOMPARE(w.Label6->text(), kHandshakeHint);  // written after the port failure
  QCOMPARE(w.Label2->text(), QStringLiteral("仪表连接失败"));
  QCOMPARE(w.Shape1->Lit(), false);
  QVERIFY(!w.Timer1->Enabled());
  QVERIFY(w.Timer5->Enabled());
  QCOMPARE(w.property("Connected").toInt(), 0);

  // The first retry writes the port failure again; the indicator stays dark.
  QVERIFY(
      testsupport::waitUntil([&] { return w.Label6->text() == QStringLiteral("COM1电脑端口无效."); }, 5000));
  QCOMPARE(w.Label1->text(), QStringLiteral("串口无效"));
  QCOMPARE(w.Shape1->Lit(), false);

  // Closing with the port closed writes nothing and still unloads.
  QVERIFY(w.close());
  QVERIFY(!w.MSComm1->PortOpen());
}

// The port appears after start-up: the retry opens it, the repeated handshake
// reaches the meter, and the instrument link comes up without user action.
void TestStartup::meterAppearsAfterStartUp() {
  const QString link = QDir(qEnvironmentVariable("ARRESTER_PORTS_DIR")).filePath("COM1");
  QVERIFY(QFile::link("/nonexistent/meter", link));
  Form2 w;
  w.Form_Load();
  QCOMPARE(w.Label1->text(), QStringLiteral("串口无效"));

  MeterSim sim;
  QVERIFY(sim.waitReady());
  QVERIFY(testsupport::waitUntil([&] { return w.Label1->text() == QStringLiteral("串口通信正常"); }, 5000));
  QVERIFY(testsupport::waitUntil([&] { return w.Label2->text() == QStringLiteral("设备连接成功"); }, 5000));
  QCOMPARE(w.property("Connected").toInt(), 1);
  QVERIFY(!w.Timer2->Enabled());
  QVERIFY(sim.waitForReceived(35, 1, 5000));  // live polling follows
}

void TestStartup::closingWritesZeroOnce_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("close box") << "close";
  QTest::newRow("exit command") << "mnuexit";
  QTest::newRow("Form_Unload twice") << "unload twice";
  QTest::newRow("Form_Unload then close box") << "unload then close";
  QTest::newRow("close box twice") << "close twice";
}

void TestStartup::closingWritesZeroOnce() {
  QFETCH(QString, how);
  MeterSim sim;
  QVERIFY(sim.waitReady());
  auto w = std::make_unique<Form2>();
  w->Form_Load();
  w->show();
  QVERIFY(w->MSComm1->PortOpen());
  QVERIFY(sim.waitForReceived(5, 1, 5000));
  QVERIFY(testsupport::waitUntil([&] { return w->Label2->text() == QStringLiteral("设备连接成功"); }, 5000));
  QVERIFY(w->SettingsDialog);  // created hidden by start-up
  QCOMPARE(sim.countReceived(0), 0);

  if (how == "close") {
    w->close();
  } else if (how == "mnuexit") {
    w->mnuexit_Click();
  } else if (how == "unload twice") {
    w->Form_Unload();
    w->Form_Unload();
  } else if (how == "unload then close") {
    w->Form_Unload();
    w->close();
  } else if (how == "close twice") {
    w->close();
    w->show();
    w->close();
  }
  if (how != "unload twice") QVERIFY(testsupport::waitUntil([&] { return !w->isVisible(); }, 3000));
  QVERIFY(!w->SettingsDialog || !w->SettingsDialog->isVisible());
  // Over two polling periods before the window goes; destroying it releases
  // the port, after the last byte went out.
  testsupport::pumpEvents(1200);
  w.reset();

  QVERIFY(writeMarker(sim.linkPath(), 99));
  QVERIFY(sim.waitForReceived(99, 1, 5000));
  QCOMPARE(sim.countReceived(0), 1);
  // The closing notice was the last byte the window wrote.
  const QByteArray heard = sim.receivedBytes();
  QCOMPARE(heard.mid(heard.indexOf('\0')), QByteArray("\0\x63", 2));
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
