#include "cli/console.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "cli/meter_client.h"

namespace cli {

namespace {

void (*volatile alsoOnStop)() = nullptr;

// The system calls this on a thread of its own. Waits end early and the
// command ends the ordinary way (the closing notice is sent, the archive
// committed). When the console is closed or the session ends the process is
// ended as soon as this returns, so it waits: the command's own end comes first.
BOOL WINAPI OnConsoleStop(DWORD event) {
  g_interrupted = 1;
  if (alsoOnStop) alsoOnStop();
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) Sleep(10000);
  return TRUE;
}

}  // namespace

void CatchStopRequests(void (*also)()) {
  alsoOnStop = also;
  static bool installed = false;
  if (!installed) installed = SetConsoleCtrlHandler(OnConsoleStop, TRUE) != 0;
}

// Windows has no broken-pipe signal: a write to a closed pipe fails.
void IgnoreBrokenPipe() {}

bool ErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace cli
