#pragma once
// The subcommands. Each takes its arguments with args[0] naming the
// subcommand, prints its results, and returns the exit code.
#include <QString>
#include <QStringList>

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

// Opens the port named by the first positional argument with the line
// options, and shakes hands with the meter. Returns -1 when the meter
// answered; otherwise the message is printed and the exit code returned.
int ConnectMeter(const CommandLine &line, MeterClient &client, QString *portName);

}  // namespace cli
