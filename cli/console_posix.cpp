#include "cli/console.h"

#include <csignal>
#include <unistd.h>

#include "cli/meter_client.h"

namespace cli {

namespace {

void (*volatile alsoOnStop)() = nullptr;

void OnStopSignal(int) {
  g_interrupted = 1;
  if (alsoOnStop) alsoOnStop();
}

}  // namespace

void CatchStopRequests(void (*also)()) {
  alsoOnStop = also;
  struct sigaction sa = {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &sa, nullptr);
}

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

bool ErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

}  // namespace cli
