#include "app/stop_signals.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QMetaObject>
#include <QWidget>
#include <atomic>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

std::atomic<QWidget *> windowToClose{nullptr};

// The session ends (log off, shut down): close the window now, while the
// system waits for the answer; once WM_ENDSESSION is answered the process
// may be ended at any moment.
class SessionEndFilter : public QAbstractNativeEventFilter {
 public:
  bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override {
    QWidget *const window = windowToClose;
    if (type != "windows_generic_MSG" || !window) return false;
    const MSG *msg = static_cast<const MSG *>(message);
    if (msg->message == WM_ENDSESSION && msg->wParam && window->isVisible()) window->close();
    return false;
  }
};

// Ctrl+C, Ctrl+Break or closing the console the program was started from.
// The system calls this on a thread of its own: the window is closed on its
// own thread. For a console being closed the process ends when this
// returns, so it waits; the program ends first, once the window is closed.
BOOL WINAPI OnConsoleStop(DWORD event) {
  QWidget *const window = windowToClose;
  if (!window) return FALSE;
  QMetaObject::invokeMethod(window, "close", Qt::QueuedConnection);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) Sleep(10000);
  return TRUE;
}

}  // namespace

// Windows has no file-size limit signal.
void KeepRunningPastFileSizeLimit() {}

void CloseOnTerminate(QWidget &window) {
  windowToClose = &window;
  QObject::connect(&window, &QObject::destroyed, [] { windowToClose = nullptr; });
  static SessionEndFilter filter;
  QCoreApplication::instance()->installNativeEventFilter(&filter);
  SetConsoleCtrlHandler(OnConsoleStop, TRUE);
}
