#pragma once
// MSComm1: the program's serial communications control over QSerialPort.
// It offers exactly what the window uses: port number, settings text, open and
// close, write, read everything buffered, the receive threshold, the two
// purges, and a receive event delivered on the window's thread.
#include <QByteArray>
#include <QObject>
#include <QString>

class QSerialPort;

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
  void setInBufferCount(int zero);   // 0 discards everything received and not yet read
  int OutBufferCount() const;
  void setOutBufferCount(int zero);  // 0 discards bytes of earlier writes still held

  int Error() const { return error_; }
  QString ErrorText() const { return errorText_; }
  void ClearError() { error_ = NoError; errorText_.clear(); }

  // The device path the current port number resolves to (see port_names.h).
  QString DevicePath() const;

 signals:
  // A receive event: CommEvent() is 2 and at least RThreshold bytes are buffered.
  void OnComm();
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
};
