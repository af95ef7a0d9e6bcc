#pragma once
// Copies the recordings and downloads of a local archive to a team's shared
// PostgreSQL archive: every entry the server does not hold yet, with all its
// rows, one server transaction per entry, so that a connection lost halfway
// leaves the server as it was before that entry and the local "synced" mark
// unset. Entries are known by their uuid, so running it again copies nothing
// twice; a recording that grew since is completed, and a label changed on one
// side travels to the other (the later change wins, by its modification time).
// The arrester register, rounds and results then go both ways (asset_sync.h).
//
// The local archive is read in one read transaction: every entry goes over as
// it stood at the start, whatever a recorder adds meanwhile (a recording still
// running is completed by a later sync).
//
// A server that stops answering for `timeoutSeconds` (a frozen server, a
// network gone quiet) ends the sync as TimedOut: the server stops statements
// that run longer, TCP keepalives notice a peer that is gone, and a watchdog
// closes the connection when nothing at all happens that long.
#include <QString>
#include <csignal>
#include <functional>

class Archive;

struct SyncOptions {
  bool dryRun = false;  // count what would be copied; write nothing anywhere
  // Rows copied so far of the rows to copy; called after every batch.
  std::function<void(qint64 done, qint64 total)> progress;
  int timeoutSeconds = 60;
  // Set (by a signal handler) to stop: the entry being copied is rolled back.
  const volatile std::sig_atomic_t *interrupted = nullptr;
};

// Asks the server to cancel the statement the running sync waits for, so an
// interrupt is noticed at once. Safe to call from a signal handler.
void InterruptSync();

struct SyncReport {
  // NotInThisBuild: a build without the team sync (no libpq there).
  enum Outcome { Done, ServerFailed, LocalFailed, Interrupted, TimedOut, NotInThisBuild };
  Outcome outcome = Done;
  QString error;       // one line, when not Done
  int recordings = 0;  // copied (or completed) recordings
  qint64 readings = 0;
  int downloads = 0;
  qint64 groups = 0;
  int alreadyThere = 0;  // entries the server held complete already
  int labelsToServer = 0;
  int labelsFromServer = 0;
  int repeats = 0;  // downloads left out: each repeats an earlier one byte for byte
  // The arrester register: rows copied to the server or changed there (sent),
  // and copied or changed here from the server (taken).
  int arrestersSent = 0;
  int arrestersTaken = 0;
  int roundsSent = 0;
  int roundsTaken = 0;
  int resultsSent = 0;
  int resultsTaken = 0;
};

// `server` is a libpq connection string (URL or key=value pairs); `local`
// is open. Stops at the first failure; what was committed before it stays.
SyncReport SyncToServer(Archive &local, const QString &server, const SyncOptions &options);

// "3 recordings, 1,204 readings; 1 download, 255 groups; 12 already there",
// the repeated downloads left out, the labels and the register rows that
// travelled, if any.
QString SyncSummary(const SyncReport &report);
