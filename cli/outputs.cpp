#include "cli/outputs.h"

#include "cli/command_line.h"
#include "cli/exit_codes.h"

namespace cli {

struct Outputs::State {};

Outputs::Outputs() : d_(std::make_unique<State>()) {}
Outputs::~Outputs() = default;

int Outputs::setUp(const CommandLine &line, Kind) {
  if (line.parser.isSet(QStringLiteral("csv")))
    return line.usageError(QStringLiteral("--csv is not available yet: this build has no archive"));
  if (!line.parser.isSet(QStringLiteral("no-record")))
    Err(QStringLiteral("arrester-cli: recording is not available yet in this build; nothing is archived\n"));
  return -1;
}

void Outputs::begin(const QString &, const QString &, const QString &) {}
void Outputs::liveReading(qint64, const ReadingGroup &) {}
void Outputs::download(qint64, const QString &, int, const QByteArray &) {}
int Outputs::finish() { return -1; }

}  // namespace cli
