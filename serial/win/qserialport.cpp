#include "qserialport.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QMutexLocker>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

QString SystemText(DWORD error) {
  wchar_t *text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
  QString result = n ? QString::fromWCharArray(text, int(n)).trimmed() : QString();
  if (text) LocalFree(text);
  if (result.isEmpty()) result = QStringLiteral("system error %1").arg(error);
  return result;
}

BYTE WinParity(QSerialPort::Parity p) {
  switch (p) {
    case QSerialPort::EvenParity: return EVENPARITY;
    case QSerialPort::OddParity: return ODDPARITY;
    case QSerialPort::MarkParity: return MARKPARITY;
    case QSerialPort::SpaceParity: return SPACEPARITY;
    default: return NOPARITY;
  }
}

BYTE WinStopBits(QSerialPort::StopBits s) {
  switch (s) {
    case QSerialPort::OneAndHalfStop: return ONE5STOPBITS;
    case QSerialPort::TwoStop: return TWOSTOPBITS;
    default: return ONESTOPBIT;
  }
}

// How long the reading thread rests when the driver had nothing, and how
// often a quiet line's device is checked.
constexpr DWORD kReadRestMs = 2;
constexpr ULONGLONG kCheckEveryMs = 200;

}  // namespace

QSerialPort::QSerialPort(QObject *parent) : QIODevice(parent) {}

QSerialPort::QSerialPort(const QString &name, QObject *parent) : QIODevice(parent), name_(name) {}

QSerialPort::~QSerialPort() {
  if (isOpen()) close();
}

void QSerialPort::setPortName(const QString &name) { name_ = name; }

void QSerialPort::setError(SerialPortError error, const QString &text) {
  error_ = error;
  setErrorString(error == NoError ? QString() : text);
  emit errorOccurred(error);
}

bool QSerialPort::applyLineSettings() {
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle_, &dcb)) return false;
  dcb.BaudRate = DWORD(baud_);
  dcb.ByteSize = BYTE(dataBits_);
  dcb.Parity = WinParity(parity_);
  dcb.fParity = parity_ != NoParity;
  dcb.StopBits = WinStopBits(stopBits_);
  dcb.fBinary = TRUE;
  dcb.fOutxCtsFlow = flow_ == HardwareControl;
  dcb.fRtsControl = flow_ == HardwareControl ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = dcb.fInX = flow_ == SoftwareControl;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  // A line error must not stop reading until it is acknowledged.
  dcb.fAbortOnError = FALSE;
  return SetCommState(handle_, &dcb) != 0;
}

// Each setter applies to an open port at once; a refused value is not kept,
// so the port's remembered settings always match the device.
#define APPLY_SETTING(member, value)                      \
  do {                                                    \
    const auto old = member;                              \
    member = value;                                       \
    if (!isOpen() || applyLineSettings()) return true;    \
    const DWORD why = GetLastError();                     \
    member = old;                                         \
    applyLineSettings();                                  \
    setError(UnsupportedOperationError, SystemText(why)); \
    return false;                                         \
  } while (false)

bool QSerialPort::setBaudRate(qint32 baudRate, Directions) { APPLY_SETTING(baud_, baudRate); }
bool QSerialPort::setDataBits(DataBits dataBits) { APPLY_SETTING(dataBits_, dataBits); }
bool QSerialPort::setParity(Parity parity) { APPLY_SETTING(parity_, parity); }
bool QSerialPort::setStopBits(StopBits stopBits) { APPLY_SETTING(stopBits_, stopBits); }
bool QSerialPort::setFlowControl(FlowControl flowControl) { APPLY_SETTING(flow_, flowControl); }

#undef APPLY_SETTING

bool QSerialPort::open(OpenMode mode) {
  if (isOpen()) {
    setError(OpenError, QStringLiteral("the port is already open"));
    return false;
  }
  const QString path = name_.startsWith(QLatin1String("\\\\.\\")) ? name_ : QStringLiteral("\\\\.\\") + name_;
  DWORD access = 0;
  if (mode & ReadOnly) access |= GENERIC_READ;
  if (mode & WriteOnly) access |= GENERIC_WRITE;
  HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), access, 0, nullptr, OPEN_EXISTING,
                         0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD why = GetLastError();
    switch (why) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_NAME: setError(DeviceNotFoundError, SystemText(why)); break;
      case ERROR_ACCESS_DENIED:
      case ERROR_SHARING_VIOLATION: setError(PermissionError, SystemText(why)); break;
      default: setError(OpenError, SystemText(why)); break;
    }
    return false;
  }
  handle_ = h;
  // Reads return at once with what the driver holds; the reading thread
  // keeps the rhythm. A write waits until the driver took it, bounded.
  COMMTIMEOUTS timeouts;
  ZeroMemory(&timeouts, sizeof timeouts);
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutConstant = 2000;
  if (!applyLineSettings() || !SetCommTimeouts(h, &timeouts)) {
    const DWORD why = GetLastError();
    CloseHandle(h);
    handle_ = nullptr;
    // The name is a device, but not a serial port.
    setError(UnsupportedOperationError, SystemText(why));
    return false;
  }
  {
    QMutexLocker lock(&mutex_);
    received_.clear();
    readFailed_ = false;
    failureToReport_ = false;
  }
  QIODevice::open(mode | Unbuffered);
  startReading();
  return true;
}

void QSerialPort::close() {
  if (!isOpen()) return;
  QIODevice::close();
  stopReading();
  CloseHandle(handle_);
  handle_ = nullptr;
  QMutexLocker lock(&mutex_);
  received_.clear();
}

void QSerialPort::startReading() {
  stopReading_ = false;
  reader_ = std::thread([this] { readLoop(); });
}

void QSerialPort::stopReading() {
  stopReading_ = true;
  if (reader_.joinable()) reader_.join();
}

void QSerialPort::readLoop() {
  char buffer[4096];
  ULONGLONG lastCheck = GetTickCount64();
  while (!stopReading_) {
    DWORD got = 0;
    DWORD failure = ERROR_SUCCESS;
    bool post = false;
    {
      // Reading and appending under the lock makes clear(Input) exact: no
      // byte read before a purge can be appended after it.
      QMutexLocker lock(&mutex_);
      if (!ReadFile(handle_, buffer, sizeof buffer, &got, nullptr)) {
        failure = GetLastError();
        got = 0;
        if (failure == ERROR_OPERATION_ABORTED) {
          // A purge cancelled the read; the device is fine.
          DWORD errors = 0;
          ClearCommError(handle_, &errors, nullptr);
          failure = ERROR_SUCCESS;
        }
      } else if (got > 0) {
        received_.append(buffer, int(got));
      } else if (GetTickCount64() - lastCheck >= kCheckEveryMs) {
        // A quiet line: make sure the device is still there. A reading that
        // returns nothing does not tell a hung-up line (Wine on a
        // pseudo-terminal whose far end closed); its status query fails.
        lastCheck = GetTickCount64();
        DWORD errors = 0;
        if (!ClearCommError(handle_, &errors, nullptr)) failure = GetLastError();
      }
      if (failure != ERROR_SUCCESS) {
        readFailed_ = true;
        failureToReport_ = true;
        readFailure_ = failure;
      }
      if (got > 0 || failure != ERROR_SUCCESS) {
        arrived_.wakeAll();
        post = !eventPosted_;
        eventPosted_ = true;
      }
    }
    if (post)
      QMetaObject::invokeMethod(
          this, [this] { deliverReadEvents(); }, Qt::QueuedConnection);
    if (failure != ERROR_SUCCESS) return;
    if (got == 0) Sleep(kReadRestMs);
  }
}

void QSerialPort::deliverReadEvents() {
  bool any = false;
  bool failed = false;
  DWORD why = 0;
  {
    QMutexLocker lock(&mutex_);
    eventPosted_ = false;
    any = !received_.isEmpty();
    failed = failureToReport_;
    failureToReport_ = false;
    why = DWORD(readFailure_);
  }
  if (!isOpen()) return;
  if (any) emit readyRead();
  if (failed && isOpen()) setError(ResourceError, SystemText(why));
}

qint64 QSerialPort::bytesAvailable() const {
  QMutexLocker lock(&mutex_);
  return received_.size() + QIODevice::bytesAvailable();
}

bool QSerialPort::waitForReadyRead(int msecs) {
  if (!isOpen()) return false;
  const QDeadlineTimer deadline(msecs);
  bool have = false;
  bool failed = false;
  DWORD why = 0;
  {
    QMutexLocker lock(&mutex_);
    while (received_.isEmpty() && !readFailed_)
      if (!arrived_.wait(&mutex_, deadline)) break;
    have = !received_.isEmpty();
    failed = !have && readFailed_;
    if (failed) failureToReport_ = false;
    why = DWORD(readFailure_);
  }
  if (have) {
    emit readyRead();
    return true;
  }
  if (failed)
    setError(ResourceError, SystemText(why));
  else
    setError(TimeoutError, QStringLiteral("no bytes arrived in time"));
  return false;
}

bool QSerialPort::waitForBytesWritten(int) { return false; }

qint64 QSerialPort::readData(char *data, qint64 maxSize) {
  QMutexLocker lock(&mutex_);
  const qint64 n = qMin<qint64>(maxSize, received_.size());
  if (n > 0) {
    memcpy(data, received_.constData(), size_t(n));
    received_.remove(0, int(n));
  }
  return n;
}

qint64 QSerialPort::writeData(const char *data, qint64 maxSize) {
  if (!handle_) return -1;
  DWORD written = 0;
  const DWORD size = DWORD(qMin<qint64>(maxSize, 1 << 20));
  if (!WriteFile(handle_, data, size, &written, nullptr)) {
    setError(ResourceError, SystemText(GetLastError()));
    return -1;
  }
  return qint64(written);
}

bool QSerialPort::clear(Directions directions) {
  if (!isOpen()) {
    setError(NotOpenError, QStringLiteral("the port is not open"));
    return false;
  }
  DWORD flags = 0;
  if (directions & Input) flags |= PURGE_RXCLEAR | PURGE_RXABORT;
  if (directions & Output) flags |= PURGE_TXCLEAR | PURGE_TXABORT;
  QMutexLocker lock(&mutex_);
  const bool purged = PurgeComm(handle_, flags) != 0;
  if (directions & Input) received_.clear();
  return purged;
}

bool QSerialPort::flush() { return isOpen(); }

void QSerialPort::setReadBufferSize(qint64 size) {
  readBufferSize_ = size;
  if (!isOpen()) return;
  bool failed = false;
  {
    QMutexLocker lock(&mutex_);
    failed = readFailed_;
  }
  if (!failed) return;
  stopReading();
  {
    QMutexLocker lock(&mutex_);
    readFailed_ = false;
    failureToReport_ = false;
  }
  startReading();
}
