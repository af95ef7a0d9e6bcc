#include "serial/port_io.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace portio {

namespace {

QString SystemText(DWORD error) {
  wchar_t *text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
  QString result = n ? QString::fromWCharArray(text, int(n)).trimmed() : QString();
  if (text) LocalFree(text);
  return result.isEmpty() ? QStringLiteral("system error %1").arg(error) : result;
}

bool Usable(Handle device) { return device != nullptr && device != INVALID_HANDLE_VALUE; }

}  // namespace

int DriverOutputQueue(Handle device) {
  if (!Usable(device)) return 0;
  DWORD errors = 0;
  COMSTAT status;
  ZeroMemory(&status, sizeof status);
  if (!ClearCommError(device, &errors, &status)) return 0;
  return int(status.cbOutQue);
}

// The port's write time-out bounds this call; what the driver took by then is
// counted, the rest is offered again later.
qint64 WriteSome(Handle device, const char *data, qint64 size, QString *why) {
  if (!Usable(device)) {
    *why = QStringLiteral("the port is not open");
    return -1;
  }
  DWORD written = 0;
  if (!WriteFile(device, data, DWORD(qMin<qint64>(size, 1 << 20)), &written, nullptr)) {
    *why = SystemText(GetLastError());
    return -1;
  }
  return qint64(written);
}

void WaitWritable(Handle, int ms) { Sleep(DWORD(qBound(0, ms, 5))); }

bool DeviceGone(Handle device) {
  if (!Usable(device)) return true;
  DWORD errors = 0;
  return !ClearCommError(device, &errors, nullptr);
}

}  // namespace portio
