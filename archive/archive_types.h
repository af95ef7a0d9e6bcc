#pragma once
// Plain value types of the measurement archive, shared by the archive, the
// recorder and the CSV writer.
#include <QByteArray>
#include <QString>
#include <optional>

#include "protocol/reading.h"

// What an archived row was: a live reading of a recording or a stored group of
// a download.
enum class EntryKind { Recording, Download };

// Metadata of one recording (a run of live readings).
// The announced group count of a download whose count reply failed.
constexpr int kGroupsAnnouncedUnknown = -1;

struct RecordingInfo {
  QString uuid;                   // empty: a new one is made when the recording is stored
  qint64 startedMs = 0;           // UTC ms since the epoch
  std::optional<qint64> endedMs;  // UTC ms; unset while recording (or after a crash)
  QString portName;               // "COM1"
  QString device;                 // the device the name resolved to, "/dev/ttyUSB0"
  QString lineSettings;           // "9600,N,8,1"
  QString programVersion;         // empty: this program's version
  QString label;
  std::optional<qint64> labelModifiedMs;
  QString hostName;  // the computer it was made on (see FillOrigin)
  QString userName;  // the operating-system user who made it
};

// Metadata of one history download.
struct DownloadInfo {
  QString uuid;      // empty: a new one is made
  qint64 utcMs = 0;  // when the block arrived
  QString portName;
  QString device;
  int groupsAnnounced = 0;  // the count the meter announced; kGroupsAnnouncedUnknown when none came
  QString label;
  std::optional<qint64> labelModifiedMs;
  QString hostName;
  QString userName;
  // Set when it is stored: the uuid of the download it repeats byte for byte
  // (the latest one from the same port and device), or empty.
  QString repeatOf;
};

// One stored row: a reading of a recording or a group of a download, with
// everything derived from its three bytes at the time it was stored.
struct ArchivedRow {
  qint64 utcMs = 0;
  int number = 0;  // 1-based within its recording or download
  QByteArray raw;  // the 3 bytes as received
  int code = 0;
  ReadingKind kind = ReadingKind::Invalid;
  std::optional<double> value;  // in `unit`, signed as displayed; unset for overload/invalid
  ReadingUnit unit = ReadingUnit::None;
  std::optional<double> milliAmps;  // signed; unset for overload/invalid
  QString text;                     // the live caption, or the reading text of the data table row
};

// One line of a listing: a recording or a download with its summary.
struct EntrySummary {
  EntryKind kind = EntryKind::Recording;
  qint64 id = 0;                  // local row id in this archive file
  QString uuid;                   // stable identity across archives
  qint64 startedMs = 0;           // recording start, or download time
  std::optional<qint64> endedMs;  // recordings only
  QString portName;
  QString device;
  QString lineSettings;    // recordings only
  QString programVersion;  // recordings only
  QString label;
  std::optional<qint64> labelModifiedMs;
  qint64 count = 0;                // readings, or groups received
  int groupsAnnounced = 0;         // downloads only
  bool complete = true;            // downloads: every announced group arrived
  std::optional<qint64> syncedMs;  // when last found on the team server; unset: not there
  QString hostName;                // the computer it was made on; empty in older archives
  QString userName;                // the operating-system user
  QString repeatOf;                // downloads: the download it repeats byte for byte, or empty
  std::optional<ArchivedRow> first;
  std::optional<ArchivedRow> last;
};
// Moved in memory as a whole when a list grows (its members hold no pointer
// into themselves), rather than copied member by member.
Q_DECLARE_TYPEINFO(ArchivedRow, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(EntrySummary, Q_RELOCATABLE_TYPE);

// The stored form of one group: kind, signed value, unit, mA and the text.
// `history` picks the data table's reading text instead of the live caption.
ArchivedRow DescribeGroup(const ReadingGroup &group, bool history);

// "AC", "DC", "overload", "invalid" and back (Invalid for anything else).
QString KindName(ReadingKind kind);
ReadingKind KindFromName(const QString &name);
// "mA", "A", or empty for no unit, and back.
QString UnitName(ReadingUnit unit);
ReadingUnit UnitFromName(const QString &name);

// This computer's host name and the operating-system user running the
// program, for the metadata of what is recorded here; fills in the empty ones.
void FillOrigin(QString &hostName, QString &userName);

// Labels: at most kMaxLabelLength characters (Unicode code points), none of
// them a control character (C0, DEL, C1, line and paragraph separators,
// bidirectional overrides and isolates).
constexpr int kMaxLabelLength = 200;
enum class LabelProblem { None, TooLong, ControlCharacter };
// What is wrong with a label a user typed. `length` gets its length in
// characters, `control` the first control character found.
LabelProblem CheckLabel(const QString &label, qsizetype *length = nullptr, char32_t *control = nullptr);
// Text from an archive made safe to show on a terminal or in a table: each
// control character written out as \t, \n, \r, \xHH or \u{HHHH}.
QString EscapeControls(const QString &text);
