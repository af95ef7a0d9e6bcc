#pragma once
// The status line's history: the latest messages with the moment each was
// written, so a message that was replaced a moment later can still be read.
// Recording a message is an O(1) append to a fixed ring; text is formatted
// only when somebody asks to see it.
#include <QString>
#include <QStringList>
#include <array>

class StatusHistory {
 public:
  static constexpr int kCapacity = 20;

  struct Entry {
    QString text;
    qint64 lastMs = 0;  // when it was last written, ms since the epoch (UTC)
    int count = 0;      // how many times in a row it was written
  };

  // Records `text` written at `msSinceEpoch`. The same text as the newest
  // entry only counts up and moves that entry's time; anything else becomes
  // a new entry, dropping the oldest once kCapacity are held.
  void Record(const QString &text, qint64 msSinceEpoch);
  // The same, written now.
  void Record(const QString &text);

  int size() const { return size_; }
  // Entry `i`, 0 the newest.
  const Entry &at(int i) const;

  // One line per entry, newest first: local time HH:MM:SS, two spaces, the
  // text, and "  ×N" when it was written N > 1 times in a row.
  QStringList Lines() const;

 private:
  std::array<Entry, kCapacity> ring_{};
  int newest_ = -1;  // index in ring_ of the newest entry
  int size_ = 0;
};
