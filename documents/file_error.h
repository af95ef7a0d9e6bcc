#pragma once
// The reason a file operation failed, as an errno number on every system:
// errno itself on Linux; on Windows, where Qt's file classes call the Win32
// API and leave errno alone, the thread's last Win32 error mapped to its
// errno number (file_error_posix.cpp, file_error_win.cpp).

// Forgets the reason of an earlier failure, before an operation.
void ClearFileError();
// The reason of the operation that just failed; 0 when none is known.
int LastFileError();
