#pragma once
// The judgement thresholds as command-line options, shared by the commands
// that judge (assess, report) and the one that draws the levels (trend).
#include "assessment/judgement.h"

namespace cli {

class CommandLine;

// Adds --initial-attention and --initial-abnormal, and with `all` also
// --previous-attention and --phase-attention.
void AddThresholdOptions(CommandLine &line, bool all);

// The thresholds file with the options given on top. A file value that cannot
// be used keeps its default and is reported on standard error. Returns -1 with
// `thresholds` set, or the exit code of a usage error already printed.
int ReadThresholds(const CommandLine &line, Thresholds *thresholds);

}  // namespace cli
