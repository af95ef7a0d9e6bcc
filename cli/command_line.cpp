#include "cli/command_line.h"

#include <cstdio>

#include "cli/exit_codes.h"
#include "serial/port_names.h"

namespace cli {

CommandLine::CommandLine(const QString &usage, const QString &description)
    : usage_(usage),
      help_(QStringList{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")) {
  parser.setApplicationDescription(description);
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.addOption(help_);
}

void CommandLine::addLineOptions() {
  parser.addOption({QStringLiteral("baud"), QStringLiteral("Baud rate (default 9600)."),
                    QStringLiteral("rate"), QStringLiteral("9600")});
  parser.addOption({QStringLiteral("parity"),
                    QStringLiteral("Parity: N, E, O, M, S or none, even, odd, mark, space (default N)."),
                    QStringLiteral("parity"), QStringLiteral("N")});
  parser.addOption({QStringLiteral("data-bits"), QStringLiteral("Data bits, 5 to 8 (default 8)."),
                    QStringLiteral("bits"), QStringLiteral("8")});
  parser.addOption({QStringLiteral("stop-bits"), QStringLiteral("Stop bits: 1, 1.5 or 2 (default 1)."),
                    QStringLiteral("bits"), QStringLiteral("1")});
}

void CommandLine::addArchiveOption() {
  parser.addOption({QStringLiteral("archive"),
                    QStringLiteral("The archive file (default: $ARRESTER_ARCHIVE, else the "
                                   "user's data folder)."),
                    QStringLiteral("path")});
}

void CommandLine::addRecordingOptions() {
  parser.addOption(
      {QStringLiteral("csv"),
       QStringLiteral(
           "Also write the readings as CSV to FILE (- for standard output), once the run has ended."),
       QStringLiteral("file")});
  addEncodingOption();
  parser.addOption({QStringLiteral("no-record"), QStringLiteral("Do not record into the archive.")});
  addArchiveOption();
}

void CommandLine::addEncodingOption() {
  parser.addOption({QStringLiteral("encoding"),
                    QStringLiteral("The CSV's encoding: utf-8 (default; a file starts with a byte-order "
                                   "mark) or gbk (for old spreadsheet programs on Chinese Windows)."),
                    QStringLiteral("name"), QStringLiteral("utf-8")});
}

std::optional<bool> CommandLine::gbkEncoding(QString *error) const {
  const QString name = parser.value(QStringLiteral("encoding")).trimmed().toLower();
  if (name == QLatin1String("utf-8") || name == QLatin1String("utf8")) return false;
  if (name == QLatin1String("gbk")) return true;
  if (error)
    *error =
        QStringLiteral("unknown --encoding: %1 (utf-8 or gbk)").arg(parser.value(QStringLiteral("encoding")));
  return std::nullopt;
}

int CommandLine::parse(const QStringList &args, int minPositional, int maxPositional) {
  command_ = args.value(0);
  const QString &command = command_;
  if (!parser.parse(args)) return UsageError(command, parser.errorText());
  if (parser.isSet(help_)) {
    Out(helpText());
    return kExitOk;
  }
  const int n = int(parser.positionalArguments().size());
  if (n < minPositional) return UsageError(command, QStringLiteral("missing argument"));
  if (maxPositional >= 0 && n > maxPositional)
    return UsageError(
        command,
        QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().value(maxPositional)));
  return -1;
}

QString CommandLine::helpText() const {
  QString text = parser.helpText();
  // Qt starts with "Usage: <program path> [options]"; say it our way.
  const qsizetype firstBreak = text.indexOf(QLatin1Char('\n'));
  text = QStringLiteral("Usage: arrester-cli ") + usage_ + text.mid(firstBreak);
  if (!text.endsWith(QLatin1Char('\n'))) text += QLatin1Char('\n');
  return text + QLatin1Char('\n') + QString::fromLatin1(ExitCodesHelp());
}

int CommandLine::usageError(const QString &message) const { return UsageError(command_, message); }

std::optional<LineSettings> CommandLine::lineSettings(QString *error) const {
  QString parity = parser.value(QStringLiteral("parity")).trimmed();
  // A parity word stands for its letter; anything else is left for Parse to judge.
  if (const auto named = LineSettings::ParityNamed(parity))
    parity = QLatin1Char(LineSettings::kParityNames[int(*named)].letter);
  const QString text = QStringLiteral("%1,%2,%3,%4")
                           .arg(parser.value(QStringLiteral("baud")).trimmed(), parity,
                                parser.value(QStringLiteral("data-bits")).trimmed(),
                                parser.value(QStringLiteral("stop-bits")).trimmed());
  std::optional<LineSettings> s = LineSettings::Parse(text);
  if (!s && error) *error = QStringLiteral("invalid line settings: %1").arg(text);
  return s;
}

int CommandLine::port(QString *error) const {
  const QString name = parser.positionalArguments().value(0).trimmed().toUpper();
  const int n = portnames::PortNumber(name);
  if (n == 0 && error)
    *error = QStringLiteral("not a port name: %1 (COM1 to COM16)").arg(parser.positionalArguments().value(0));
  return n;
}

bool ParseSeconds(const QString &text, double *seconds) {
  QString t = text.trimmed().toLower();
  double unit = 1.0;
  if (t.endsWith(QLatin1String("ms"))) {
    unit = 0.001;
    t.chop(2);
  } else if (t.endsWith(QLatin1Char('s'))) {
    t.chop(1);
  } else if (t.endsWith(QLatin1Char('m'))) {
    unit = 60.0;
    t.chop(1);
  } else if (t.endsWith(QLatin1Char('h'))) {
    unit = 3600.0;
    t.chop(1);
  }
  bool ok = false;
  const double v = t.toDouble(&ok);  // C locale: '.' is the decimal point
  if (!ok || !(v > 0.0) || v * unit > 1e9) return false;
  *seconds = v * unit;
  return true;
}

void Out(const QString &text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
  std::fflush(stdout);
}

void Err(const QString &text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
  std::fflush(stderr);
}

int UsageError(const QString &command, const QString &message) {
  Err(QStringLiteral("arrester-cli: %1\nTry 'arrester-cli %2--help'.\n")
          .arg(message, command.isEmpty() ? QString() : command + QLatin1Char(' ')));
  return kExitUsage;
}

}  // namespace cli
