// trend: an arrester's results over the years as a chart, PNG or SVG.
#include "cli/commands.h"
#include "cli/exit_codes.h"

namespace cli {

int RunTrend(const QStringList &) { return kExitFailure; }

}  // namespace cli
