#include "app/status_history.h"

#include <QDateTime>

void StatusHistory::Record(const QString &text, qint64 msSinceEpoch) {
  if (size_ > 0) {
    Entry &newest = ring_[newest_];
    if (newest.text == text) {
      ++newest.count;
      newest.lastMs = msSinceEpoch;
      return;
    }
  }
  newest_ = (newest_ + 1) % kCapacity;
  ring_[newest_] = Entry{text, msSinceEpoch, 1};
  if (size_ < kCapacity) ++size_;
}

void StatusHistory::Record(const QString &text) { Record(text, QDateTime::currentMSecsSinceEpoch()); }

const StatusHistory::Entry &StatusHistory::at(int i) const {
  return ring_[(newest_ - i + kCapacity) % kCapacity];
}

QStringList StatusHistory::Lines() const {
  QStringList lines;
  lines.reserve(size_);
  for (int i = 0; i < size_; ++i) {
    const Entry &e = at(i);
    QString line = QDateTime::fromMSecsSinceEpoch(e.lastMs).toString(QStringLiteral("HH:mm:ss")) +
                   QStringLiteral("  ") + e.text;
    if (e.count > 1) line += QStringLiteral("  ×%1").arg(e.count);
    lines << line;
  }
  return lines;
}
