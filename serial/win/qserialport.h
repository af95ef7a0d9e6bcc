#pragma once
// The serial port for the Windows build: the part of Qt's serial port class
// that this program uses, over the Win32 communications API. It stands in
// for Qt's own class, which is not available for this build; the build puts
// this folder ahead of Qt's, so `#include <QSerialPort>` finds it.
//
// All device I/O is non-overlapped. A worker thread reads with a zero
// timeout in a short rhythm and keeps what arrives in a buffer; readyRead is
// delivered on the port's own thread. Writes go straight to the device.
#include <QByteArray>
#include <QIODevice>
#include <QMutex>
#include <QString>
#include <QWaitCondition>
#include <atomic>
#include <thread>

class QSerialPort : public QIODevice {
  Q_OBJECT
 public:
  using Handle = void *;  // the Win32 HANDLE

  enum Direction { Input = 1, Output = 2, AllDirections = Input | Output };
  Q_DECLARE_FLAGS(Directions, Direction)
  enum BaudRate {
    Baud1200 = 1200,
    Baud2400 = 2400,
    Baud4800 = 4800,
    Baud9600 = 9600,
    Baud19200 = 19200,
    Baud38400 = 38400,
    Baud57600 = 57600,
    Baud115200 = 115200
  };
  enum DataBits { Data5 = 5, Data6 = 6, Data7 = 7, Data8 = 8 };
  enum Parity { NoParity = 0, EvenParity = 2, OddParity = 3, SpaceParity = 4, MarkParity = 5 };
  enum StopBits { OneStop = 1, OneAndHalfStop = 3, TwoStop = 2 };
  enum FlowControl { NoFlowControl, HardwareControl, SoftwareControl };
  enum SerialPortError {
    NoError,
    DeviceNotFoundError,
    PermissionError,
    OpenError,
    WriteError,
    ReadError,
    ResourceError,
    UnsupportedOperationError,
    UnknownError,
    TimeoutError,
    NotOpenError
  };
  Q_ENUM(SerialPortError)

  explicit QSerialPort(QObject *parent = nullptr);
  explicit QSerialPort(const QString &name, QObject *parent = nullptr);
  ~QSerialPort() override;

  void setPortName(const QString &name);
  QString portName() const { return name_; }

  // Before opening these are remembered; on an open port they apply at once
  // and return false (with UnsupportedOperationError) when the device refuses.
  bool setBaudRate(qint32 baudRate, Directions directions = AllDirections);
  bool setDataBits(DataBits dataBits);
  bool setParity(Parity parity);
  bool setStopBits(StopBits stopBits);
  bool setFlowControl(FlowControl flowControl);
  qint32 baudRate() const { return baud_; }

  bool open(OpenMode mode) override;
  void close() override;
  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override;
  bool waitForReadyRead(int msecs = 30000) override;
  // Writes are synchronous: nothing is ever waiting to be written.
  bool waitForBytesWritten(int msecs = 30000) override;

  // Drops what was received and not read, and what the driver holds.
  bool clear(Directions directions = AllDirections);
  // Writes are synchronous; this only asks the driver to send what it holds.
  bool flush();

  SerialPortError error() const { return error_; }
  void clearError() { setError(NoError); }
  Handle handle() const { return handle_; }

  // Reading is not limited here; the size is kept for callers that set it.
  // Setting it on an open port whose reading stopped after a failed read
  // starts reading again.
  void setReadBufferSize(qint64 size);
  qint64 readBufferSize() const { return readBufferSize_; }

 signals:
  void errorOccurred(QSerialPort::SerialPortError error);

 protected:
  qint64 readData(char *data, qint64 maxSize) override;
  qint64 writeData(const char *data, qint64 maxSize) override;

 private:
  void setError(SerialPortError error, const QString &text = QString());
  bool applyLineSettings();
  void startReading();
  void stopReading();
  void readLoop();
  void deliverReadEvents();

  QString name_;
  qint32 baud_ = Baud9600;
  DataBits dataBits_ = Data8;
  Parity parity_ = NoParity;
  StopBits stopBits_ = OneStop;
  FlowControl flow_ = NoFlowControl;
  SerialPortError error_ = NoError;
  qint64 readBufferSize_ = 0;
  Handle handle_ = nullptr;

  // Shared with the reading thread, under mutex_.
  mutable QMutex mutex_;
  QWaitCondition arrived_;
  QByteArray received_;
  bool readFailed_ = false;
  bool failureToReport_ = false;   // a failed read not yet told through errorOccurred
  unsigned long readFailure_ = 0;  // the system's error number
  bool eventPosted_ = false;       // a delivery of readyRead or the failure is on its way
  std::atomic<bool> stopReading_{false};
  std::thread reader_;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(QSerialPort::Directions)
