#pragma once
// The command line of one subcommand: its options, its --help text (with the
// exit codes), and the options several subcommands share.
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <optional>

#include "serial/line_settings.h"

namespace cli {

class CommandLine {
 public:
  // `usage` follows "Usage: arrester-cli " in the help text.
  CommandLine(const QString &usage, const QString &description);

  QCommandLineParser parser;

  void addOption(const QCommandLineOption &option) { parser.addOption(option); }
  // --baud --parity --data-bits --stop-bits (default 9600,N,8,1).
  void addLineOptions();
  // --archive PATH.
  void addArchiveOption();
  // --csv FILE|-, --encoding and --no-record.
  void addRecordingOptions();
  // --encoding utf-8|gbk, for a CSV.
  void addEncodingOption();
  // Whether --encoding asks for GBK; unset (and an error text) when it names
  // neither encoding.
  std::optional<bool> gbkEncoding(QString *error) const;

  // Parses args (args[0] names the subcommand). Returns -1 to go on; 0 after
  // printing --help; the usage exit code after printing an error.
  int parse(const QStringList &args, int minPositional, int maxPositional);

  // The line settings from the options; an error text when they are malformed.
  std::optional<LineSettings> lineSettings(QString *error) const;
  // Port number 1..16 of the first positional argument; 0 (and an error) else.
  int port(QString *error) const;
  QString helpText() const;
  // The subcommand's name, as parsed.
  QString command() const { return command_; }
  // A usage error of this subcommand: message and --help pointer on stderr.
  int usageError(const QString &message) const;

 private:
  QString usage_;
  QString command_;
  QCommandLineOption help_;
};

// "90", "90s", "1.5m", "10m", "2h", "500ms" to seconds; false when malformed
// or not above zero.
bool ParseSeconds(const QString &text, double *seconds);

// Output helpers: UTF-8, flushed at once so piped output arrives line by line.
void Out(const QString &text);
void Err(const QString &text);
// A usage error: the message and a pointer to --help, on stderr.
int UsageError(const QString &command, const QString &message);

}  // namespace cli
