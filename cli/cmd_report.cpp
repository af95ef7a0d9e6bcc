// report: a round's test report as PDF.
#include "cli/commands.h"
#include "cli/exit_codes.h"

namespace cli {

int RunReport(const QStringList &) { return kExitFailure; }

}  // namespace cli
