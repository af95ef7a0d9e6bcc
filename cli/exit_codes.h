#pragma once
// Exit statuses of arrester-cli; listed in every --help text.

namespace cli {

enum ExitCode {
  kExitOk = 0,
  kExitFailure = 1,        // a file or the archive could not be written or read
  kExitUsage = 2,          // bad command line, or a feature this build does not offer
  kExitPortFailed = 3,     // the port cannot be opened
  kExitServerFailed = 3,   // the team server cannot be reached or written
  kExitNoAnswer = 4,       // the meter does not answer, or answers wrongly
  kExitIncomplete = 5,     // the meter sent less data than it announced
  kExitRefused = 6,        // data refused: a faulty import row, a value that cannot be read
  kExitInterrupted = 130,  // export or sync stopped by Ctrl+C (128 + SIGINT, as shells do)
};

// The lines appended to every --help text.
inline const char *ExitCodesHelp() {
  return "Exit codes:\n"
         "  0  ok\n"
         "  1  a file or the archive could not be written or read\n"
         "  2  usage error\n"
         "  3  the port cannot be opened (sync: the team server cannot be used or did not answer)\n"
         "  4  the meter does not answer (or answers wrongly)\n"
         "  5  incomplete data (the meter sent less than it announced)\n"
         "  6  data refused (a faulty row of an import file, a value that cannot be read,\n"
         "     a download whose groups do not match the arresters); nothing was stored\n"
         "  130  export or sync interrupted (Ctrl+C); nothing of it was kept\n";
}

}  // namespace cli
