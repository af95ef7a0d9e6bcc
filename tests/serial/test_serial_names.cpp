// The settings text and the COMn → device mapping.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "serial/line_settings.h"
#include "serial/port_names.h"

class TestSerialNames : public QObject {
  Q_OBJECT
 private slots:
  void settingsText_data();
  void settingsText();
  void defaultDevices_data();
  void defaultDevices();
  void portNumbers_data();
  void portNumbers();
  void linksAreFollowedAtEveryCall();
  void portsFolderChoice();
};

void TestSerialNames::settingsText_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("valid");
  QTest::addColumn<QString>("normalised");
  QTest::newRow("defaults") << "9600,N,8,1" << true << "9600,N,8,1";
  QTest::newRow("all changed") << "115200,E,7,2" << true << "115200,E,7,2";
  QTest::newRow("odd, 5 bits") << "1200,O,5,2" << true << "1200,O,5,2";
  QTest::newRow("lower-case parity") << "4800,e,8,1" << true << "4800,E,8,1";
  QTest::newRow("one and a half") << "9600,N,5,1.5" << true << "9600,N,5,1.5";
  QTest::newRow("spaces") << "9600, N,8,1" << false << "";
  QTest::newRow("three fields") << "9600,N,8" << false << "";
  QTest::newRow("five fields") << "9600,N,8,1,1" << false << "";
  QTest::newRow("zero baud") << "0,N,8,1" << false << "";
  QTest::newRow("negative baud") << "-9600,N,8,1" << false << "";
  QTest::newRow("huge baud") << "99999999999,N,8,1" << false << "";
  QTest::newRow("parity word") << "9600,NONE,8,1" << false << "";
  QTest::newRow("bad parity") << "9600,X,8,1" << false << "";
  QTest::newRow("4 data bits") << "9600,N,4,1" << false << "";
  QTest::newRow("9 data bits") << "9600,N,9,1" << false << "";
  QTest::newRow("3 stop bits") << "9600,N,8,3" << false << "";
  QTest::newRow("empty") << "" << false << "";
}

void TestSerialNames::settingsText() {
  QFETCH(QString, text);
  QFETCH(bool, valid);
  QFETCH(QString, normalised);
  const auto s = LineSettings::Parse(text);
  QCOMPARE(s.has_value(), valid);
  if (valid) QCOMPARE(s->Text(), normalised);
}

void TestSerialNames::defaultDevices_data() {
  QTest::addColumn<int>("port");
  QTest::addColumn<QString>("device");
  QTest::newRow("COM1") << 1 << "/dev/ttyS0";
  QTest::newRow("COM4") << 4 << "/dev/ttyS3";
  QTest::newRow("COM5") << 5 << "/dev/ttyUSB0";
  QTest::newRow("COM12") << 12 << "/dev/ttyUSB7";
  QTest::newRow("COM13") << 13 << "/dev/ttyACM0";
  QTest::newRow("COM16") << 16 << "/dev/ttyACM3";
  QTest::newRow("COM0") << 0 << "";
  QTest::newRow("COM17") << 17 << "";
}

void TestSerialNames::defaultDevices() {
  QFETCH(int, port);
  QFETCH(QString, device);
  QCOMPARE(portnames::DefaultDevice(port), device);
}

void TestSerialNames::portNumbers_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<int>("number");
  QTest::newRow("COM1") << "COM1" << 1;
  QTest::newRow("COM16") << "COM16" << 16;
  QTest::newRow("COM17") << "COM17" << 0;
  QTest::newRow("COM0") << "COM0" << 0;
  QTest::newRow("COM01") << "COM01" << 0;
  QTest::newRow("lower case") << "com1" << 0;
  QTest::newRow("bare") << "COM" << 0;
}

void TestSerialNames::portNumbers() {
  QFETCH(QString, name);
  QFETCH(int, number);
  QCOMPARE(portnames::PortNumber(name), number);
  if (number) QCOMPARE(portnames::PortName(number), name);
}

void TestSerialNames::linksAreFollowedAtEveryCall() {
  QTemporaryDir ports, devices;
  qputenv("ARRESTER_PORTS_DIR", ports.path().toLocal8Bit());
  const QString devA = devices.filePath("ttyA"), devB = devices.filePath("ttyB");
  for (const QString &p : {devA, devB}) {
    QFile f(p);
    QVERIFY(f.open(QIODevice::WriteOnly));
  }
  // A link to a link: the real file is what gets opened.
  QVERIFY(QFile::link(devA, devices.filePath("by-id")));
  QVERIFY(QFile::link(devices.filePath("by-id"), ports.filePath("COM3")));
  portnames::Resolved r = portnames::ResolvePort(3);
  QCOMPARE(r.device, QFileInfo(devA).canonicalFilePath());
  QVERIFY(r.linked);

  // Repointed while the program runs: the next call sees the new device.
  QVERIFY(QFile::remove(ports.filePath("COM3")));
  QVERIFY(QFile::link(devB, ports.filePath("COM3")));
  QCOMPARE(portnames::ResolvePort(3).device, QFileInfo(devB).canonicalFilePath());

  // A dangling link means no device, and is not replaced by the default.
  QVERIFY(QFile::link(QStringLiteral("/nonexistent/ttyX"), ports.filePath("COM1")));
  r = portnames::ResolvePort(1);
  QVERIFY(r.device.isEmpty());
  QVERIFY(r.linked);
  QCOMPARE(portnames::DescribePort(1), QStringLiteral("/nonexistent/ttyX"));

  // No link: the default device, empty when the machine does not have it.
  r = portnames::ResolvePort(6);
  QVERIFY(!r.linked);
  QCOMPARE(r.device, QFileInfo(QStringLiteral("/dev/ttyUSB1")).canonicalFilePath());
  QCOMPARE(portnames::DescribePort(6), QStringLiteral("/dev/ttyUSB1"));
  QVERIFY(portnames::ResolvePort(17).device.isEmpty());
}

void TestSerialNames::portsFolderChoice() {
  const QByteArray savedHome = qgetenv("HOME");
  qputenv("ARRESTER_PORTS_DIR", "/tmp/own-ports");
  qputenv("XDG_CONFIG_HOME", "/tmp/xdg");
  QCOMPARE(portnames::PortsFolder(), QStringLiteral("/tmp/own-ports"));
  qunsetenv("ARRESTER_PORTS_DIR");
  QCOMPARE(portnames::PortsFolder(), QStringLiteral("/tmp/xdg/arrester-monitor/ports"));
  qunsetenv("XDG_CONFIG_HOME");
  qputenv("HOME", "/tmp/home-x");
  QCOMPARE(portnames::PortsFolder(), QStringLiteral("/tmp/home-x/.config/arrester-monitor/ports"));
  qputenv("HOME", savedHome);
}

QTEST_GUILESS_MAIN(TestSerialNames)
#include "test_serial_names.moc"
