// The port link of the main window (open, report, retry, blink, vanish) and
// the settings dialog, over real pseudo-terminals.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QSerialPort>
#include <QtTest>
#include <memory>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/controls.h"
#include "app/form2.h"
#include "serial/comm_control.h"
#include "serial/form1.h"
#include "serial/line_settings.h"
#include "support/serial_child.h"
#include "support/comm_hooks.h"
#include "support/event_wait.h"
#include "support/pty.h"
#include "support/sim_process.h"

using testsupport::pumpEvents;
using testsupport::waitUntil;

namespace {

const QString kInUse = QStringLiteral("打开失败,请检查串口是否被占用或者尝试其它串口.");
const QString kInvalid = QStringLiteral("电脑端口无效.");

// What a user's pick in a list does.
void Pick(QComboBox *list, const QString &entry) {
  const int index = list->findText(entry);
  QVERIFY2(index >= 0, qPrintable(entry));
  list->setCurrentIndex(index);
  emit list->activated(index);
}

}  // namespace

class TestSerialLink : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void openOutcomes_data();
  void openOutcomes();
  void permissionDeniedForReal();
  void busyPortOpensOnceReleased();
  void vanishedDeviceReportedAndReopened();
  void dialogLayout_data();
  void dialogLayout();
  void dialogShownWithoutOwnerAndRecreated();
  void portPickClosesAndReopens();
  void portPickWithoutDeviceRetries();
  void portPickDropsTheLink();
  void linePicksApplyToOpenPort();
  void refusedCombinationRolledBack();

 private:
  void link(int port, const QString &target);
  Form1 &dialog() { return w_->EnsureSettingsDialog(); }
  std::optional<testsupport::SavedCommHooks> hooks_;
  QString ports_;
  std::unique_ptr<PtyPair> pty_;
  std::unique_ptr<Form2> w_;
};

void TestSerialLink::init() {
  hooks_.emplace();
  ports_ = testsupport::makeTemporaryPortsDir();
  pty_ = std::make_unique<PtyPair>();
  QVERIFY(pty_->ok());
  link(1, pty_->slavePath());
  w_ = std::make_unique<Form2>();
  w_->SetDefaultSerialSettings();
}

void TestSerialLink::cleanup() {
  w_.reset();
  pty_.reset();
  hooks_.reset();
}

void TestSerialLink::link(int port, const QString &target) { QVERIFY(LinkPort(ports_, port, target)); }

void TestSerialLink::openOutcomes_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("label1");
  QTest::addColumn<QString>("label6");
  QTest::addColumn<bool>("opened");
  QTest::newRow("opened") << "ok"
                          << "串口通信正常"
                          << "COM1已打开" << true;
  QTest::newRow("no such device") << "dangling"
                                  << "串口无效"
                                  << "COM1" + kInvalid << false;
  QTest::newRow("not a serial device") << "plainfile"
                                       << "串口无效"
                                       << "COM1" + kInvalid << false;
  QTest::newRow("held elsewhere") << "held"
                                  << "串口打开失败"
                                  << "COM1" + kInUse << false;
  QTest::newRow("no permission") << "forbidden"
                                 << "串口打开失败"
                                 << "COM1打开失败,没有使用该串口的权限,请将当前用户加入dialout组后重新登录."
                                 << false;
}

void TestSerialLink::openOutcomes() {
  QFETCH(QString, kind);
  QFETCH(QString, label1);
  QFETCH(QString, label6);
  QFETCH(bool, opened);
  bool prepared = false;
  auto holder = PrepareOpenFailure(kind, ports_, pty_->slavePath(), &prepared);
  QVERIFY(prepared);
  if (kind == "forbidden") CommControl::DeviceAccessible = [](const QString &) { return false; };

  QCOMPARE(w_->Label1->text(), QStringLiteral("COM1打开成功"));
  QVERIFY(w_->Shape1->Lit());
  w_->OpenSerialPort();
  QCOMPARE(w_->Label1->text(), label1);
  QCOMPARE(w_->Label6->text(), label6);
  QCOMPARE(w_->MSComm1->PortOpen(), opened);
  QCOMPARE(w_->Timer1->Enabled(), opened);
  QCOMPARE(w_->Shape1->Lit(), opened);  // a failure leaves the lamp dark
  QVERIFY(w_->Timer5->Enabled());
  QCOMPARE(w_->MSComm1->Error(), int(CommControl::NoError));
  // The dialog was made, hidden, to name the port.
  QVERIFY(w_->SettingsDialog);
  QVERIFY(!w_->SettingsDialog->isVisible());
}

void TestSerialLink::permissionDeniedForReal() {
  if (::geteuid() != 0) QSKIP("needs root to run a child as nobody");
  const passwd *nobody = ::getpwnam("nobody");
  if (!nobody) QSKIP("no user nobody");
  // The pty belongs to root with mode 0620; nobody may not open it, but must
  // be able to read the ports folder and run this executable.
  QVERIFY(::chmod(QFile::encodeName(ports_).constData(), 0755) == 0);
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("SERIAL_TEST_CHILD"), QStringLiteral("open-window"));
  env.insert(QStringLiteral("HOME"), QStringLiteral("/tmp"));
  env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
  child.setProcessEnvironment(env);
  child.setChildProcessModifier([uid, gid] {
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(97);
  });
  child.start(QCoreApplication::applicationFilePath(), {});
  // A build inside a folder that only its owner may enter cannot run as nobody.
  if (!child.waitForStarted(30000))
    QSKIP(qPrintable("child could not start as nobody: " + child.errorString()));
  QVERIFY(child.waitForFinished(30000));
  if (child.exitCode() != 0)
    QSKIP(qPrintable("child could not run as nobody: " + child.readAllStandardError()));
  const QStringList lines = QString::fromUtf8(child.readAllStandardOutput()).split('\n');
  QVERIFY(lines.size() >= 4);
  QCOMPARE(lines[0], QStringLiteral("串口打开失败"));
  QCOMPARE(lines[1],
           QStringLiteral("COM1打开失败,没有使用该串口的权限,请将当前用户加入dialout组后重新登录."));
  QCOMPARE(lines[2], QStringLiteral("0"));  // lamp dark
  QCOMPARE(lines[3], QStringLiteral("0"));  // blink clock off
}

void TestSerialLink::busyPortOpensOnceReleased() {
  auto holder = std::make_unique<DeviceHolder>(pty_->slavePath());
  QVERIFY(holder->holding());
  w_->OpenSerialPort();
  QCOMPARE(w_->Label6->text(), "COM1" + kInUse);
  w_->Timer1->arm();
  w_->Timer5->arm();

  // Each retry writes the failure again over other messages.
  w_->Label6->setText(QStringLiteral("握手失败"));
  QVERIFY(waitUntil([&] { return w_->Label6->text() == "COM1" + kInUse; }, 3000));
  QVERIFY(!w_->Shape1->Lit());

  holder.reset();
  QVERIFY(waitUntil([&] { return w_->MSComm1->PortOpen(); }, 3000));
  QCOMPARE(w_->Label6->text(), QStringLiteral("COM1已打开"));
  QCOMPARE(w_->Label1->text(), QStringLiteral("串口通信正常"));

  // The lamp blinks while open.
  const bool lit = w_->Shape1->Lit();
  QVERIFY(waitUntil([&] { return w_->Shape1->Lit() != lit; }, 3000));
  QVERIFY(waitUntil([&] { return w_->Shape1->Lit() == lit; }, 3000));

  // Open: the retry clock leaves the status line to the others.
  w_->Label6->setText(QStringLiteral("接收电流数据正常"));
  pumpEvents(1300);
  QCOMPARE(w_->Label6->text(), QStringLiteral("接收电流数据正常"));
}

void TestSerialLink::vanishedDeviceReportedAndReopened() {
  w_->OpenSerialPort();
  QVERIFY(w_->MSComm1->PortOpen());
  w_->Timer1->arm();

  pty_->closeMaster();  // cable pulled
  // The link goes with the device (as udev does with its links). COM1 was
  // opened through the link, so it does not fall back to its default device.
  QVERIFY(QFile::remove(ports_ + QStringLiteral("/COM1")));
  QVERIFY(waitUntil([&] { return w_->Label6->text() == "COM1" + kInvalid; }, 3000));
  QVERIFY(!w_->MSComm1->PortOpen());
  QCOMPARE(w_->Label1->text(), QStringLiteral("串口无效"));
  QVERIFY(!w_->Timer1->Enabled());
  QVERIFY(!w_->Shape1->Lit());

  // Retried every second while missing.
  w_->Timer5->arm();
  w_->Label6->clear();
  QVERIFY(waitUntil([&] { return w_->Label6->text() == "COM1" + kInvalid; }, 3000));

  // Back under the same name (another device node): reopened by itself.
  PtyPair back;
  QVERIFY(back.ok());
  link(1, back.slavePath());
  QVERIFY(waitUntil([&] { return w_->MSComm1->PortOpen(); }, 3000));
  QCOMPARE(w_->Label6->text(), QStringLiteral("COM1已打开"));
  QCOMPARE(w_->Label1->text(), QStringLiteral("串口通信正常"));
  w_->MSComm1->Output(QByteArray(1, char(5)));
  QCOMPARE(back.receive(1, 3000), QByteArray(1, char(5)));
}

void TestSerialLink::dialogLayout_data() {
  QTest::addColumn<QString>("list");
  QTest::addColumn<QStringList>("entries");
  QTest::addColumn<QString>("selected");
  QStringList ports;
  for (int i = 1; i <= 16; ++i) ports << QStringLiteral("COM%1").arg(i);
  QTest::newRow("Combo1 port") << "Combo1" << ports << "COM1";
  QTest::newRow("Combo2 baud") << "Combo2" << QStringList{"1200",  "2400",  "4800",  "9600",  "14400",
                                                          "19200", "38400", "56000", "57600", "115200"}
                               << "9600";
  QTest::newRow("Combo3 data bits") << "Combo3" << QStringList{"5", "6", "7", "8"} << "8";
  QTest::newRow("Combo4 parity") << "Combo4" << QStringList{"NONE", "EVEN", "ODD"} << "NONE";
  QTest::newRow("Combo5 stop bits") << "Combo5" << QStringList{"1", "2"} << "1";
}

void TestSerialLink::dialogLayout() {
  QFETCH(QString, list);
  QFETCH(QStringList, entries);
  QFETCH(QString, selected);
  Form1 &d = dialog();
  QCOMPARE(d.windowTitle(), QStringLiteral("高精度钳形漏电流表监控软件"));
  QCOMPARE(d.size(), QSize(364, 173));
  QCOMPARE(d.Frame1->title(), QStringLiteral("通信设置"));
  QCOMPARE(d.Frame1->geometry(), QRect(24, 16, 313, 129));
  QCOMPARE(d.Label1->text() + d.Label2->text() + d.Label3->text() + d.Label4->text() + d.Label5->text(),
           QStringLiteral("串口号波特率数据位停止位校验位"));

  auto *combo = d.findChild<QComboBox *>(list);
  QVERIFY(combo);
  QVERIFY(!combo->isEditable());
  QStringList got;
  for (int i = 0; i < combo->count(); ++i) got << combo->itemText(i);
  QCOMPARE(got, entries);
  QCOMPARE(combo->currentText(), selected);

  // Tab order Combo1 → Combo5 although Combo4 stands right of Combo5.
  QCOMPARE(d.Combo1->nextInFocusChain(), d.Combo2);
  QCOMPARE(d.Combo2->nextInFocusChain(), d.Combo3);
  QCOMPARE(d.Combo3->nextInFocusChain(), d.Combo4);
  QCOMPARE(d.Combo4->nextInFocusChain(), d.Combo5);
  QCOMPARE(d.Combo4->geometry(), QRect(248, 64, 49, 20));

  // Each port entry names its device on this machine.
  QVERIFY(d.Combo1->itemData(0, Qt::ToolTipRole).toString().contains(pty_->slavePath()));
  QVERIFY(d.Combo1->itemData(4, Qt::ToolTipRole).toString().contains("/dev/ttyUSB0"));
}

void TestSerialLink::dialogShownWithoutOwnerAndRecreated() {
  w_->mnucomsetting_Click();
  Form1 &d = dialog();
  QVERIFY(d.isVisible());
  QVERIFY(!d.isModal());
  QVERIFY(!d.parentWidget());
  QVERIFY(w_->isEnabled());

  Pick(d.Combo2, QStringLiteral("19200"));
  QCOMPARE(w_->BaudRate, QStringLiteral("19200"));
  d.close();
  QVERIFY(!d.isVisible());
  d.Combo2->setCurrentIndex(0);  // whatever the closed window shows
  w_->mnucomsetting_Click();     // comes back showing the last picks
  QCOMPARE(d.Combo2->currentText(), QStringLiteral("19200"));

  w_->Form_Unload();
  QVERIFY(!d.isVisible());
}

void TestSerialLink::portPickClosesAndReopens() {
  PtyPair second;
  QVERIFY(second.ok());
  link(2, second.slavePath());
  w_->OpenSerialPort();
  QVERIFY(w_->MSComm1->PortOpen());

  Pick(dialog().Combo1, QStringLiteral("COM2"));
  QCOMPARE(w_->PortName, QStringLiteral("COM2"));
  QCOMPARE(w_->MSComm1->CommPort(), 2);
  QCOMPARE(w_->Label6->text(), QStringLiteral("COM2已打开"));
  w_->MSComm1->Output("A");
  QCOMPARE(second.receive(1, 3000), QByteArray("A"));
  // COM1 was let go.
  QSerialPort first(pty_->slavePath());
  QVERIFY(first.open(QIODevice::ReadWrite));
  first.close();

  // Picking the entry already selected closes and opens it again: bytes
  // waiting in the old connection are gone.
  w_->MSComm1->setRThreshold(100);
  QVERIFY(second.send("xyz"));
  QVERIFY(waitUntil([&] { return w_->MSComm1->InBufferCount() == 3; }, 3000));
  Pick(dialog().Combo1, QStringLiteral("COM2"));
  QCOMPARE(w_->Label6->text(), QStringLiteral("COM2已打开"));
  QCOMPARE(w_->MSComm1->InBufferCount(), 0);
}

void TestSerialLink::portPickWithoutDeviceRetries() {
  link(4, QStringLiteral("/nonexistent"));
  w_->OpenSerialPort();
  w_->Timer5->arm();
  Pick(dialog().Combo1, QStringLiteral("COM4"));
  QCOMPARE(w_->Label6->text(), "COM4" + kInvalid);
  QCOMPARE(w_->Label1->text(), QStringLiteral("串口无效"));
  QVERIFY(!w_->MSComm1->PortOpen());  // the working port was closed, no fallback

  w_->Label6->clear();
  QVERIFY(waitUntil([&] { return w_->Label6->text() == "COM4" + kInvalid; }, 3000));
  PtyPair fourth;
  QVERIFY(fourth.ok());
  link(4, fourth.slavePath());
  QVERIFY(waitUntil([&] { return w_->MSComm1->PortOpen(); }, 3000));
  QCOMPARE(w_->Label6->text(), QStringLiteral("COM4已打开"));
}

// Another port is another meter, or none: picking a missing port drops the
// link as a lost device does, rather than still showing the meter connected.
void TestSerialLink::portPickDropsTheLink() {
  pty_.reset();
  testsupport::MeterSim sim;
  QVERIFY(sim.waitReady());
  w_->Form_Load();
  QVERIFY(waitUntil([&] { return w_->Connected == 1; }, 3000));
  link(4, QStringLiteral("/nonexistent"));
  Pick(dialog().Combo1, QStringLiteral("COM4"));
  QCOMPARE(w_->Label1->text(), QStringLiteral("串口无效"));
  QCOMPARE(w_->Connected, short(0));
  QCOMPARE(w_->Label2->text(), QStringLiteral("仪表连接失败"));
  QVERIFY(w_->Timer2->Enabled());
}

void TestSerialLink::linePicksApplyToOpenPort() {
  w_->OpenSerialPort();
  QVERIFY(w_->MSComm1->PortOpen());
  // Bytes waiting in the port show that it is never closed by these picks.
  w_->MSComm1->setRThreshold(100);
  QVERIFY(pty_->send("abc"));
  QVERIFY(waitUntil([&] { return w_->MSComm1->InBufferCount() == 3; }, 3000));

  Pick(dialog().Combo2, QStringLiteral("115200"));
  QCOMPARE(w_->MSComm1->Settings(), QStringLiteral("115200,N,8,1"));
  QCOMPARE(w_->BaudRate, QStringLiteral("115200"));

  // Parity and data bits against a device that takes them all.
  QList<QString> applied;
  CommControl::ApplyLineSettings = [&](QSerialPort &, const LineSettings &s) {
    applied << s.Text();
    return true;
  };
  Pick(dialog().Combo4, QStringLiteral("EVEN"));
  Pick(dialog().Combo3, QStringLiteral("7"));
  Pick(dialog().Combo5, QStringLiteral("2"));
  QCOMPARE(applied, (QList<QString>{"115200,E,8,1", "115200,E,7,1", "115200,E,7,2"}));
  QCOMPARE(w_->MSComm1->Settings(), QStringLiteral("115200,E,7,2"));
  QVERIFY(w_->MSComm1->PortOpen());
  QCOMPARE(w_->MSComm1->InBufferCount(), 3);
}

void TestSerialLink::refusedCombinationRolledBack() {
  CommControl::ApplyLineSettings = [](QSerialPort &, const LineSettings &s) {
    return !(s.dataBits == 5 && s.stopBits == LineSettings::Stop::Two);
  };
  w_->OpenSerialPort();
  QVERIFY(w_->MSComm1->PortOpen());
  Form1 &d = dialog();
  Pick(d.Combo5, QStringLiteral("2"));
  QCOMPARE(w_->MSComm1->Settings(), QStringLiteral("9600,N,8,2"));

  w_->Label6->clear();
  Pick(d.Combo3, QStringLiteral("5"));
  QCOMPARE(w_->MSComm1->Settings(), QStringLiteral("9600,N,8,2"));
  QCOMPARE(w_->DataBits, QStringLiteral("8"));
  QCOMPARE(d.Combo3->currentText(), QStringLiteral("8"));
  QCOMPARE(w_->StopBits, QStringLiteral("2"));
  QCOMPARE(w_->Label6->text(), QStringLiteral("COM1不支持通信参数9600,N,5,2,已恢复为9600,N,8,2."));
  QVERIFY(w_->MSComm1->PortOpen());
}

int main(int argc, char **argv) {
  const int child = RunSerialChildIfAsked(argc, argv);
  if (child >= 0) return child;
  QApplication app(argc, argv);
  TestSerialLink test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_serial_link.moc"
