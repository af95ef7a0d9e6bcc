// arrester-cli: the meter and the archive from the shell, without a window.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>

#include <cstring>
#include <memory>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/meter_client.h"
#include "serial/port_names.h"

namespace {

const char kOverview[] =
    "Talks to the clamp leakage-current meter on a serial port and works with the\n"
    "archive of recorded readings, from the shell.\n"
    "\n"
    "Commands (each takes --help):\n"
    "  ports                  COM1-COM16, their devices, and whether each can be used\n"
    "  probe COMn             open the port and shake hands; prints \"ok\"\n"
    "  live COMn              poll live readings, one line each with its time\n"
    "  download COMn          read the groups stored in the meter\n"
    "  list                   recordings and downloads in the archive\n"
    "  export ID... --csv F   write recordings or downloads as CSV\n"
    "  label ID TEXT          label a recording or download\n"
    "  sync SERVER            copy the archive to the team's PostgreSQL server\n"
    "  check                  look for damage in the archive file\n"
    "  assets import FILE.csv the arrester register from CSV (also: assets list, assets order)\n"
    "  round new --station S  a test round (also: round fill, round set, round list)\n"
    "  assess ROUND           judge a round's arresters: 正常, 注意 or 异常\n"
    "  report ROUND --pdf F   a round's test report (试验报告) as PDF\n"
    "  trend ARRESTER --png F an arrester's results over the years as a chart (or --svg)\n"
    "\n"
    "Port commands take --baud --parity --data-bits --stop-bits (default 9600,N,8,1).\n";
const char kPortsFromFolder[] =
    "COMn is the link COMn in $ARRESTER_PORTS_DIR (else ~/.config/arrester-monitor/ports),\n"
    "else /dev/ttyS0-3 (COM1-4), /dev/ttyUSB0-7 (COM5-12), /dev/ttyACM0-3 (COM13-16).\n";
const char kPortsOfSystem[] = "COMn is Windows' own port of that name.\n";
const char kArchiveWhere[] =
    "The archive is --archive PATH, else $ARRESTER_ARCHIVE, else the user's data folder.\n";

// The commands that draw text and charts; they need Qt Gui's fonts.
bool DrawingCommand(const char *name) { return !std::strcmp(name, "report") || !std::strcmp(name, "trend"); }

// Top-level options take no values, so the first argument that is no option
// names the command.
const char *CommandName(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (argv[i][0] != '-') return argv[i];
  return "";
}

// A QGuiApplication for the commands that draw, on the offscreen platform
// unless the user chose one (no display needed); every other command keeps
// the console-only application.
std::unique_ptr<QCoreApplication> MakeApplication(int &argc, char **argv) {
  if (!DrawingCommand(CommandName(argc, argv))) return std::make_unique<QCoreApplication>(argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace

int main(int argc, char **argv) {
  const std::unique_ptr<QCoreApplication> app = MakeApplication(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("arrester-cli"));
  QCoreApplication::setApplicationVersion(QStringLiteral(ARRESTER_VERSION));
  cli::CatchStopRequests();
  cli::IgnoreBrokenPipe();

  cli::CommandLine top(
      QStringLiteral("<command> [options] [arguments]"),
      QString::fromUtf8(kOverview) +
          QString::fromUtf8(portnames::UsesPortsFolder() ? kPortsFromFolder : kPortsOfSystem) +
          QString::fromUtf8(kArchiveWhere));
  const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Show the program and Qt versions."));
  top.addOption(version);
  top.parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("One of the commands above."));
  // Everything from the command on belongs to the command.
  top.parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
  QStringList args = QCoreApplication::arguments();
  args[0] = QString();
  if (const int rc = top.parse(args, 0, -1); rc >= 0) return rc;
  if (top.parser.isSet(version)) {
    cli::Out(QStringLiteral("arrester-cli %1 (Qt %2)\n")
                 .arg(QStringLiteral(ARRESTER_VERSION), QString::fromLatin1(qVersion())));
    return cli::kExitOk;
  }
  QStringList rest = top.parser.positionalArguments();
  if (rest.isEmpty()) {
    cli::Err(top.helpText());
    return cli::kExitUsage;
  }
  const QString command = rest.first();
  using Runner = int (*)(const QStringList &);
  static const struct {
    const char *name;
    Runner run;
  } kCommands[] = {
      {"ports", cli::RunPorts},       {"probe", cli::RunProbe}, {"live", cli::RunLive},
      {"download", cli::RunDownload}, {"list", cli::RunList},   {"export", cli::RunExport},
      {"label", cli::RunLabel},       {"sync", cli::RunSync},   {"check", cli::RunCheck},
      {"assets", cli::RunAssets},     {"round", cli::RunRound}, {"assess", cli::RunAssess},
      {"report", cli::RunReport},     {"trend", cli::RunTrend},
  };
  for (const auto &c : kCommands)
    if (command == QLatin1String(c.name)) return c.run(rest);
  return cli::UsageError(QString(), QStringLiteral("unknown command: %1").arg(command));
}
