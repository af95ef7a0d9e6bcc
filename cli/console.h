#pragma once
// The console around the tool: how the user or the system asks it to stop,
// and whether standard error is a terminal that can show a progress bar. One
// file per system implements it (console_posix.cpp, console_win.cpp).

namespace cli {

// From now on a request to stop (Ctrl+C; on Linux also SIGTERM and SIGHUP, on
// Windows also Ctrl+Break, closing the console, logging off) sets
// g_interrupted and calls `also` when given. `also` runs in a signal handler
// or on a thread of the system's: it must be safe there.
void CatchStopRequests(void (*also)() = nullptr);

// A closed pipe on standard output is reported by write, not by a signal.
void IgnoreBrokenPipe();

// Whether standard error is a terminal (a console window on Windows).
bool ErrorIsTerminal();

}  // namespace cli
