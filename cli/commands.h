#pragma once
// The subcommands. Each takes its arguments with args[0] naming the
// subcommand, prints its results, and returns the exit code.
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class Archive;
struct ArresterRecord;
enum class ResultReading;

namespace cli {

class CommandLine;
class MeterClient;

int RunPorts(const QStringList &args);
int RunProbe(const QStringList &args);
int RunLive(const QStringList &args);
int RunDownload(const QStringList &args);
int RunList(const QStringList &args);
int RunExport(const QStringList &args);
int RunLabel(const QStringList &args);
int RunSync(const QStringList &args);
int RunCheck(const QStringList &args);
int RunAssets(const QStringList &args);  // assets import|list|order
int RunRound(const QStringList &args);   // round new|fill|set|list
int RunAssess(const QStringList &args);
// The commands below draw: main() runs them under a QGuiApplication.
int RunReport(const QStringList &args);  // a round's test report as PDF
int RunTrend(const QStringList &args);   // an arrester's (or its bay's) trend as PNG or SVG

// Opens the port named by the first positional argument with the line
// options, and shakes hands with the meter. Returns -1 when the meter
// answered; otherwise the message is printed and the exit code returned.
int ConnectMeter(const CommandLine &line, MeterClient &client, QString *portName);

// Shared by the register commands (defined in cmd_assets.cpp).

// A command with subcommands: args[0] names it, args[1] the subcommand, which
// runs with args[0] = "command subcommand". Without a subcommand, or with
// --help, prints `overview` (the subcommands, one a line).
struct Subcommand {
  const char *name;
  int (*run)(const QStringList &args);
};
int RunSubcommand(const QStringList &args, const QString &overview, const QList<Subcommand> &subcommands);

// Opens the archive of --archive / $ARRESTER_ARCHIVE; -1, or the exit code
// after printing why.
int OpenArchiveOf(const CommandLine &line, Archive &archive);
// Prints "arrester-cli: archive PATH: error" and returns the failure exit code.
int ArchiveError(const Archive &archive, const QString &error);

// The first characters of a uuid, as listings show it.
QString ShortId(const QString &uuid);
// Station, voltage level, bay, phase and serial number, made safe for a terminal.
QStringList PlaceCells(const ArresterRecord &arrester);
// A mA figure as people write it: "12.37", "0.523".
QString MilliAmpsText(double milliAmps);
// A result's reading: "12.37 mA", "OL" (overload) or "无效" (invalid).
QString ReadingText(ResultReading reading, std::optional<double> milliAmps);

// Rows of cells as aligned columns (two spaces apart, wide characters counted
// as two), one line each.
QString AlignedRows(const QList<QStringList> &rows);

}  // namespace cli
