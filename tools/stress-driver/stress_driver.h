#pragma once
// The stamina driver: runs the window's own code against faults and for long
// stretches, and prints one line per measured figure for scripts/stress.
//
//   stress-driver fuzz|unplug|soak|bad-input|saves [options]
//
// Each figure goes to standard output as one tab-separated line:
//   FIGURE <tab> ok|FAIL <tab> name <tab> value <tab> limit
// The exit status is 0 when every figure met its limit, 1 otherwise, 2 on a
// usage error.
#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace stress {

// Prints one figure line; returns `ok` so callers can fold the results.
bool Figure(const QString &name, const QString &value, bool ok, const QString &limit);

// A progress or diagnostic line on standard error (never parsed).
void Note(const QString &text);

// This process as the kernel sees it.
struct ProcessSample {
  qint64 rssKb = 0;       // resident set size
  int openFds = 0;        // entries of /proc/self/fd
  double cpuSeconds = 0;  // user + system time so far
  qint64 wallMs = 0;      // monotonic clock
};
ProcessSample SampleSelf();

// Reads a scenario's options (set up on `parser`) from `args`, with --help
// described by `description`. Returns -1 when the scenario should run, else
// the exit status to end with at once: 0 after --help, 2 for bad options.
int ParseOptions(QCommandLineParser &parser, const QStringList &args, const QString &description);

// CPU share of one core between two samples, in percent.
double CpuPercent(const ProcessSample &from, const ProcessSample &to);

// The scenarios. Each parses its own options from `args` (what follows the
// scenario's name) and returns the exit status described above.
int RunFuzzedReplies(const QStringList &args);
int RunUnplug(const QStringList &args);
int RunSoak(const QStringList &args);
int RunBadInput(const QStringList &args);
int RunSaves(const QStringList &args);

}  // namespace stress
