#pragma once
// How the window program is asked to stop by the system, and how it answers:
// it closes its window the ordinary way (the closing byte is written, the
// recording ended and committed) instead of ending mid-run. On Linux that is
// SIGTERM and SIGINT (stop_signals_posix.cpp); on Windows the end of the
// session and the console's Ctrl+C or close (stop_signals_win.cpp).
class QWidget;

// Writing past a file-size limit must fail the write (reported in the status
// line like a full disk) instead of ending the program.
void KeepRunningPastFileSizeLimit();

// Closes `window` when the system asks the program to stop.
void CloseOnTerminate(QWidget &window);
