#pragma once
// MSComm1: the program's serial communications control over QSerialPort.
// It offers exactly what the window uses: port number, settings text, open and
// close, write, read everything buffered, the receive threshold, the two
// purges, and a receive event delivered on the window's thread.
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

#include "serial/port_names.h"

class QSerialPort;
class QTimer;
struct LineSettings;

class CommControl : public QObject {
  Q_OBJECT
  Q_PROPERTY(int CommPort READ CommPort WRITE setCommPort)
  Q_PROPERTY(QString Settings READ Settings WRITE setSettings)
  Q_PROPERTY(bool PortOpen READ PortOpen WRITE setPortOpen)
  Q_PROPERTY(int RThreshold READ RThreshold WRITE setRThreshold)
  Q_PROPERTY(int InBufferCount READ InBufferCount WRITE setInBufferCount)
  Q_PROPERTY(int OutBufferCount READ OutBufferCount WRITE setOutBufferCount)
 public:
  // Error numbers of the last operation (0 = none).
  enum Error {
    NoError = 0,
    InvalidPort = 8002,       // no such device, or not a serial device
    PortInUse = 8005,         // held or locked by another program, or already open
    PermissionDenied = 8100,  // the device exists but this user may not open it
    SettingsRefused = 8101,   // the device does not take the line settings
    OtherError = 8199,
  };
  // CommEvent values.
  enum Event { EvNone = 0, EvReceive = 2 };

  explicit CommControl(QObject *parent = nullptr);
  ~CommControl() override;

  int CommPort() const { return commPort_; }
  void setCommPort(int port);
  QString Settings() const { return settings_; }
  // Applies at once to an open port. Returns false (and keeps the old text)
  // when the text is malformed or the open port refuses it.
  bool setSettings(const QString &text);
  bool PortOpen() const;
  // Opening reports its outcome through Error(); it never throws.
  void setPortOpen(bool open);
  int RThreshold() const { return rThreshold_; }
  void setRThreshold(int bytes);
  int CommEvent() const { return commEvent_; }
  void Output(const QByteArray &bytes);
  QByteArray Input();
  int InBufferCount() const;
  void setInBufferCount(int zero);  // 0 discards everything received and not yet read
  int OutBufferCount() const;
  void setOutBufferCount(int zero);  // 0 discards bytes of earlier writes still held

  int Error() const { return error_; }
  QString ErrorText() const { return errorText_; }
  void ClearError() {
    error_ = NoError;
    errorText_.clear();
  }

  // Milliseconds since bytes last arrived from the device (a very large
  // number before the first). Tells whether the far end is still sending.
  qint64 MsSinceLastReceive() const;

  // The device the port is open on; while closed, the device the next open
  // would use (see port_names.h and Resolve()).
  QString DevicePath() const;

  // Sends what this layer still holds and waits, for at most timeoutMs, until
  // the driver has put it on the line. Closing and destruction do this too.
  void Flush(int timeoutMs = 1000);

  // Whether this user may read and write the device; tells a busy device from
  // one without permission. Replaceable by tests (which run as root).
  static std::function<bool(const QString &device)> DeviceAccessible;
  // Gives line settings to an open port; false when the port refuses any part.
  // Replaceable by tests to stand in for a device that refuses settings.
  static std::function<bool(QSerialPort &port, const LineSettings &settings)> ApplyLineSettings;
  // Folders searched for the lock files (LCK..<device>) that serial terminals
  // and other programs leave while they use a device. Replaceable by tests.
  static QStringList LockFolders;

 signals:
  // A receive event: CommEvent() is 2 and at least RThreshold bytes are buffered.
  void OnComm();
  // Bytes arrived, whether or not they reach the receive threshold.
  void BytesArrived();
  // The open device failed (cable pulled, peer gone); the port is closed now.
  void DeviceLost();

 private:
  int commPort_ = 1;
  QString settings_ = QStringLiteral("9600,N,8,1");
  int rThreshold_ = 3;
  int commEvent_ = EvNone;
  int error_ = NoError;
  QString errorText_;
  QSerialPort *port_ = nullptr;

  // The device the current port number stands for. A name that was opened
  // through a link in the ports folder keeps needing that link: while it is
  // gone the name has no device, rather than falling back to its default.
  portnames::Resolved Resolve() const;
  void fail(int error, const QString &text);
  void closePort();
  bool writePending();
  void onReadyRead();
  void onSerialError(int error);
  void loseDevice(const QString &why);
  bool deviceGone() const;
  void resumeReading();
  void checkThreshold();

  QByteArray pending_;              // written by Output() but not yet taken by the driver
  int lastWriteSize_ = 0;           // bytes of the latest Output(); never dropped by a purge
  QString openDevice_;              // the device the port is open on
  bool openedThroughLink_ = false;  // the current port number was opened through a link
  QTimer *drainTimer_ = nullptr;
  QElapsedTimer lastReceive_;  // restarted whenever bytes arrive
  bool opening_ = false;       // errors during open are judged after it
};
