#pragma once
// Where readings go besides the terminal: the archive (unless --no-record)
// and a CSV file (--csv FILE, or - for standard output).
#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>

#include "archive/archive.h"
#include "protocol/reading.h"

namespace cli {

class CommandLine;

class Outputs {
 public:
  enum class Kind { Live, Download };

  Outputs();
  ~Outputs();
  Outputs(const Outputs &) = delete;
  Outputs &operator=(const Outputs &) = delete;

  // Reads --csv, --no-record and --archive. Returns -1 to go on, else the
  // exit code after printing why.
  int setUp(const CommandLine &line, Kind kind);
  // Starts what needs the port: a live recording's metadata.
  void begin(const QString &portName, const QString &device, const QString &settings);
  // True when the CSV goes to standard output, which then carries nothing else.
  bool csvOnStdout() const { return csvOnStdout_; }

  void liveReading(qint64 utcMs, const ReadingGroup &group);
  void download(qint64 utcMs, const QString &portName, const QString &device, int announced,
                const QByteArray &block);

  // Ends the recording, writes out the CSV. Returns -1, or an exit code after
  // printing what failed.
  int finish();

 private:
  // Reads --encoding; -1, or the usage exit code after printing why.
  int setUpEncoding(const CommandLine &line);

  struct State;
  std::unique_ptr<State> d_;
  bool csvOnStdout_ = false;
};

// Writes entries of the archive as CSV to `path` ("-": standard output, UTF-8
// without a byte-order mark), in GBK when `gbk`. Returns -1, or an exit code
// after printing why.
int WriteCsv(Archive &archive, const QList<EntrySummary> &entries, const QString &path, bool gbk = false);

}  // namespace cli
