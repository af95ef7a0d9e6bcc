// The serial control against a real pseudo-terminal: open, write, threshold
// events, purges, settings on an open port, open failures, a vanished device,
// another program reading the same device.
#include <QFile>
#include <QSerialPort>
#include <QSignalSpy>
#include <QtTest>
#include <atomic>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "serial/comm_control.h"
#include "serial/line_settings.h"
#include "support/serial_child.h"
#include "support/comm_hooks.h"
#include "support/event_wait.h"
#include "support/pty.h"

using testsupport::pumpEvents;
using testsupport::waitUntil;

class TestCommControl : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void opensWritesAndCloses();
  void receiveEventAtThreshold_data();
  void receiveEventAtThreshold();
  void outputPurgeKeepsTheByteJustWritten();
  void inputPurgeDiscardsEverythingUnread();
  void settingsOnOpenPort();
  void settingsRefusedKeepOldText();
  void openFailures_data();
  void openFailures();
  void vanishedDeviceClosesOnce();
  void otherReaderOnTheDeviceIsNoLoss();
  void lastByteReachesTheLineOnDestruction();

 private:
  // Links COMn to the given device in the ports folder.
  void link(int port, const QString &target);
  std::optional<testsupport::SavedCommHooks> hooks_;
  std::unique_ptr<PtyPair> pty_;
  std::unique_ptr<CommControl> comm_;
  QString ports_;
};

void TestCommControl::init() {
  hooks_.emplace();
  ports_ = testsupport::makeTemporaryPortsDir();
  pty_ = std::make_unique<PtyPair>();
  QVERIFY(pty_->ok());
  link(1, pty_->slavePath());
  comm_ = std::make_unique<CommControl>();
}

void TestCommControl::cleanup() {
  comm_.reset();
  pty_.reset();
  hooks_.reset();
}

void TestCommControl::link(int port, const QString &target) { QVERIFY(LinkPort(ports_, port, target)); }

void TestCommControl::opensWritesAndCloses() {
  QCOMPARE(comm_->CommPort(), 1);
  QCOMPARE(comm_->Settings(), QStringLiteral("9600,N,8,1"));
  comm_->setPortOpen(true);
  QCOMPARE(comm_->Error(), int(CommControl::NoError));
  QVERIFY(comm_->PortOpen());
  QCOMPARE(comm_->DevicePath(), pty_->slavePath());

  const QByteArray all = QByteArray::fromHex("0005230f190000ff");
  comm_->Output(all);
  QCOMPARE(pty_->receive(all.size(), 3000), all);

  // The port number changes only while closed.
  comm_->setCommPort(2);
  QCOMPARE(comm_->CommPort(), 1);

  // A second open of an open port is "port in use".
  comm_->setPortOpen(true);
  QCOMPARE(comm_->Error(), int(CommControl::PortInUse));
  QVERIFY(comm_->PortOpen());

  comm_->setPortOpen(false);
  QVERIFY(!comm_->PortOpen());
  comm_->Output("x");  // ignored while closed
  QCOMPARE(comm_->OutBufferCount(), 0);
  comm_->setCommPort(2);
  QCOMPARE(comm_->CommPort(), 2);
}

void TestCommControl::receiveEventAtThreshold_data() {
  QTest::addColumn<int>("threshold");
  QTest::addColumn<QList<int>>("pieces");
  QTest::newRow("3 as 1+2") << 3 << QList<int>{1, 2};
  QTest::newRow("3 in one piece") << 3 << QList<int>{3};
  QTest::newRow("3 as 1+1+1") << 3 << QList<int>{1, 1, 1};
  QTest::newRow("3x10 as 7+7+7+9") << 30 << QList<int>{7, 7, 7, 9};
  QTest::newRow("3x255 as 500+265") << 765 << QList<int>{500, 265};
}

void TestCommControl::receiveEventAtThreshold() {
  QFETCH(int, threshold);
  QFETCH(QList<int>, pieces);
  comm_->setRThreshold(threshold);
  comm_->setPortOpen(true);
  QVERIFY(comm_->PortOpen());

  QByteArray received;
  int events = 0;
  connect(comm_.get(), &CommControl::OnComm, this, [&] {
    ++events;
    QCOMPARE(comm_->CommEvent(), int(CommControl::EvReceive));
    QVERIFY(comm_->InBufferCount() >= threshold);
    received = comm_->Input();
  });

  QByteArray sent;
  for (int i = 0; i < pieces.size(); ++i) {
    QByteArray piece(pieces[i], '\0');
    for (char &c : piece) c = char(sent.size() + (&c - piece.data()));
    sent += piece;
    QVERIFY(pty_->send(piece));
    if (i + 1 < pieces.size()) {
      // Short of the threshold: no event, the bytes wait in the buffer.
      QVERIFY(waitUntil([&] { return comm_->InBufferCount() == sent.size(); }, 3000));
      QCOMPARE(events, 0);
    }
  }
  QVERIFY(waitUntil([&] { return events > 0; }, 3000));
  pumpEvents(50);
  QCOMPARE(events, 1);
  QCOMPARE(received, sent);
  QCOMPARE(comm_->InBufferCount(), 0);
}

void TestCommControl::outputPurgeKeepsTheByteJustWritten() {
  comm_->setPortOpen(true);
  QVERIFY(comm_->PortOpen());
  // What the sender does: write, then empty both buffers at once.
  comm_->Output(QByteArray(1, char(35)));
  comm_->setInBufferCount(0);
  comm_->setOutBufferCount(0);
  QCOMPARE(comm_->OutBufferCount(), 0);
  QCOMPARE(pty_->receive(1, 3000), QByteArray(1, char(35)));

  // Several in a row, each purged: all arrive, in order.
  for (char c : {char(5), char(15), char(25)}) {
    comm_->Output(QByteArray(1, c));
    comm_->setOutBufferCount(0);
  }
  QCOMPARE(pty_->receive(3, 3000), QByteArray::fromHex("050f19"));

  // A congested line: the far end reads nothing for a while, the driver's
  // queue fills and earlier bytes wait here. The purge drops those, never the
  // command written just before it.
  const QByteArray backlog(256 * 1024, char(0xaa));
  comm_->Output(backlog);
  QVERIFY(comm_->OutBufferCount() > 0);
  comm_->Output(QByteArray(1, char(5)));
  comm_->setOutBufferCount(0);
  QCOMPARE(comm_->OutBufferCount(), 1);
  const QByteArray got = pty_->receiveUntil([](const QByteArray &b) { return b.endsWith(char(5)); }, 5000);
  QVERIFY2(got.endsWith(char(5)), qPrintable(QString::number(got.size())));
  QCOMPARE(got.count(char(5)), 1);
  QVERIFY(got.size() < backlog.size());
}

void TestCommControl::inputPurgeDiscardsEverythingUnread() {
  comm_->setRThreshold(100);
  comm_->setPortOpen(true);
  QVERIFY(comm_->PortOpen());

  // Bytes already taken in by the event loop.
  QVERIFY(pty_->send("abc"));
  QVERIFY(waitUntil([&] { return comm_->InBufferCount() == 3; }, 3000));
  comm_->setInBufferCount(0);
  QCOMPARE(comm_->InBufferCount(), 0);

  // Bytes still in the driver, not yet seen by the event loop.
  QVERIFY(pty_->send("def"));
  QThread::msleep(50);
  comm_->setInBufferCount(0);
  pumpEvents(100);
  QCOMPARE(comm_->InBufferCount(), 0);

  // What comes afterwards is kept.
  QVERIFY(pty_->send("xyz"));
  QVERIFY(waitUntil([&] { return comm_->InBufferCount() == 3; }, 3000));
  QCOMPARE(comm_->Input(), QByteArray("xyz"));
}

void TestCommControl::settingsOnOpenPort() {
  comm_->setPortOpen(true);
  QVERIFY(comm_->PortOpen());
  const int probe = ::open(pty_->slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
  QVERIFY(probe >= 0);
  termios t{};

  QVERIFY(comm_->setSettings(QStringLiteral("115200,N,8,1")));
  QCOMPARE(comm_->Settings(), QStringLiteral("115200,N,8,1"));
  QVERIFY(::tcgetattr(probe, &t) == 0);
  QCOMPARE(::cfgetospeed(&t), speed_t(B115200));
  QVERIFY(comm_->PortOpen());

  QVERIFY(comm_->setSettings(QStringLiteral("1200,N,8,1")));
  QVERIFY(::tcgetattr(probe, &t) == 0);
  QCOMPARE(::cfgetospeed(&t), speed_t(B1200));

  // Kept across close and open.
  comm_->setPortOpen(false);
  comm_->setPortOpen(true);
  QVERIFY(comm_->PortOpen());
  QVERIFY(::tcgetattr(probe, &t) == 0);
  QCOMPARE(::cfgetospeed(&t), speed_t(B1200));
  ::close(probe);

  // While closed the text is only checked.
  comm_->setPortOpen(false);
  QVERIFY(comm_->setSettings(QStringLiteral("57600,E,7,2")));
  QCOMPARE(comm_->Settings(), QStringLiteral("57600,E,7,2"));
  QVERIFY(!comm_->setSettings(QStringLiteral("57600,E,7")));
  QCOMPARE(comm_->Settings(), QStringLiteral("57600,E,7,2"));
}

void TestCommControl::settingsRefusedKeepOldText() {
  // A device that takes parity but refuses 5 data bits with 2 stop bits.
  QList<QString> applied;
  CommControl::ApplyLineSettings = [&](QSerialPort &, const LineSettings &s) {
    applied << s.Text();
    return !(s.dataBits == 5 && s.stopBits == LineSettings::Stop::Two);
  };
  comm_->setPortOpen(true);
  QVERIFY(comm_->PortOpen());
  QCOMPARE(applied, QList<QString>{QStringLiteral("9600,N,8,1")});

  applied.clear();
  QVERIFY(comm_->setSettings(QStringLiteral("9600,E,8,2")));
  QVERIFY(comm_->PortOpen());
  QCOMPARE(comm_->Settings(), QStringLiteral("9600,E,8,2"));

  applied.clear();
  QVERIFY(!comm_->setSettings(QStringLiteral("9600,E,5,2")));
  QCOMPARE(comm_->Error(), int(CommControl::SettingsRefused));
  QCOMPARE(comm_->Settings(), QStringLiteral("9600,E,8,2"));
  // The port is given its old settings back.
  QCOMPARE(applied, (QList<QString>{QStringLiteral("9600,E,5,2"), QStringLiteral("9600,E,8,2")}));
  QVERIFY(comm_->PortOpen());

  QVERIFY(!comm_->setSettings(QStringLiteral("fast")));
  QCOMPARE(comm_->Settings(), QStringLiteral("9600,E,8,2"));

  // Settings stored while closed that the device refuses make the open fail.
  comm_->setPortOpen(false);
  QVERIFY(comm_->setSettings(QStringLiteral("9600,N,5,2")));
  comm_->setPortOpen(true);
  QVERIFY(!comm_->PortOpen());
  QCOMPARE(comm_->Error(), int(CommControl::SettingsRefused));
}

void TestCommControl::openFailures_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<int>("error");
  QTest::newRow("dangling link") << "dangling" << int(CommControl::InvalidPort);
  QTest::newRow("not a serial device") << "plainfile" << int(CommControl::InvalidPort);
  QTest::newRow("held by another process") << "held" << int(CommControl::PortInUse);
  QTest::newRow("held by this process") << "held-here" << int(CommControl::PortInUse);
  QTest::newRow("no permission") << "forbidden" << int(CommControl::PermissionDenied);
  QTest::newRow("lock file of a serial terminal") << "locked" << int(CommControl::PortInUse);
}

void TestCommControl::openFailures() {
  QFETCH(QString, kind);
  QFETCH(int, error);
  QSerialPort other(pty_->slavePath());
  bool prepared = false;
  auto holder = PrepareOpenFailure(kind, ports_, pty_->slavePath(), &prepared);
  QVERIFY(prepared);
  if (kind == "held-here") QVERIFY(other.open(QIODevice::ReadWrite));
  // Tests run as root, who may open anything: stand in for a user without
  // access to the device. The device itself refuses through the lock.
  if (kind == "forbidden") CommControl::DeviceAccessible = [](const QString &) { return false; };
  // A terminal program that locks the device the UUCP way (LCK..<name>, its
  // process id in ten columns) but sets no exclusive mode on it.
  const QString lockFile = ports_ + QStringLiteral("/LCK..") + pty_->slavePath().section('/', -1);
  const auto writeLock = [&](pid_t pid) {
    QFile lock(lockFile);
    QVERIFY(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
    lock.write(QByteArray::number(pid).rightJustified(10, ' ') + '\n');
  };
  if (kind == "locked") {
    CommControl::LockFolders = {QStringLiteral("/nonexistent"), ports_};
    writeLock(::getppid());
  }

  comm_->setPortOpen(true);
  QVERIFY(!comm_->PortOpen());
  QCOMPARE(comm_->Error(), error);
  comm_->ClearError();

  // Once the obstacle is gone the same control opens.
  holder.reset();
  other.close();
  if (kind == "dangling" || kind == "plainfile") link(1, pty_->slavePath());
  if (kind == "locked") {
    // The terminal ended without removing its lock: a stale lock holds nothing.
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    QVERIFY(gone > 0);
    ::waitpid(gone, nullptr, 0);
    writeLock(gone);
  }
  CommControl::DeviceAccessible = [](const QString &) { return true; };
  comm_->setPortOpen(true);
  QVERIFY2(comm_->PortOpen(), qPrintable(comm_->ErrorText()));
}

void TestCommControl::vanishedDeviceClosesOnce() {
  comm_->setPortOpen(true);
  QVERIFY(comm_->PortOpen());
  QSignalSpy lost(comm_.get(), &CommControl::DeviceLost);
  pty_->closeMaster();
  QVERIFY(waitUntil([&] { return lost.count() > 0; }, 3000));
  pumpEvents(200);
  QCOMPARE(lost.count(), 1);
  QVERIFY(!comm_->PortOpen());
  comm_->Output("x");  // nothing to write into any more; no error, no crash
  QCOMPARE(comm_->OutBufferCount(), 0);
}

void TestCommControl::otherReaderOnTheDeviceIsNoLoss() {
  // A terminal program left open on the same device, opened before us. It
  // takes bytes off the line as they come, so some of our reads find nothing.
  const int other = ::open(pty_->slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
  QVERIFY(other >= 0);
  comm_->setPortOpen(true);
  QVERIFY(comm_->PortOpen());
  QSignalSpy lost(comm_.get(), &CommControl::DeviceLost);
  std::atomic<bool> stop{false};
  std::atomic<int> taken{0};
  std::thread terminal([&] {
    char buf[64];
    while (!stop) {
      pollfd p{other, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = ::read(other, buf, sizeof buf);
      if (n > 0) taken += int(n);
    }
  });
  comm_->setRThreshold(1000);  // no receive events; bytes stay in the buffer
  for (int i = 0; i < 100 && lost.isEmpty(); ++i) {
    QVERIFY(pty_->send(QByteArray(1, char(i))));
    pumpEvents(4);
  }
  stop = true;
  terminal.join();
  ::close(other);
  QVERIFY2(taken > 0, "the other reader took nothing");
  QCOMPARE(lost.count(), 0);
  QVERIFY(comm_->PortOpen());

  // Our reading goes on once the other program has gone.
  comm_->Input();
  comm_->setRThreshold(3);
  QByteArray received;
  connect(comm_.get(), &CommControl::OnComm, this, [&] { received = comm_->Input(); });
  QVERIFY(pty_->send("xyz"));
  QVERIFY(waitUntil([&] { return !received.isEmpty(); }, 3000));
  QCOMPARE(received, QByteArray("xyz"));
  QCOMPARE(lost.count(), 0);
}

void TestCommControl::lastByteReachesTheLineOnDestruction() {
  comm_->setPortOpen(true);
  QVERIFY(comm_->PortOpen());
  comm_->Output(QByteArray(1, '\0'));
  comm_.reset();  // the program ends right after its closing notice
  QCOMPARE(pty_->receive(1, 3000), QByteArray(1, '\0'));
}

int main(int argc, char **argv) {
  const int child = RunSerialChildIfAsked(argc, argv);
  if (child >= 0) return child;
  QCoreApplication app(argc, argv);
  TestCommControl test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_comm_control.moc"
