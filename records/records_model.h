#pragma once
// The recordings and downloads of an archive as a table, newest first, one
// row per entry, with the computer and user that made it. The label column is
// editable; an edit is stored at once, unless it is longer than
// kMaxLabelLength characters or holds a control character. Texts from the
// archive are shown with control characters escaped, and a label cut short
// after kMaxLabelLength characters. The last column tells whether the entry
// is on the team server, as the local archive last saw it (the window never
// asks the server); a download that repeats an earlier one is never sent.
#include <QAbstractTableModel>
#include <QList>
#include <QString>

#include "archive/archive_types.h"

class Archive;

class RecordsModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column {
    TimeColumn,
    KindColumn,
    PortColumn,
    CountColumn,
    FirstColumn,
    LastColumn,
    LabelColumn,
    CompleteColumn,
    HostColumn,
    UserColumn,
    ServerColumn,
    ColumnCount
  };

  explicit RecordsModel(Archive &archive, QObject *parent = nullptr);

  // Reads the listing again. `recordingNow` is the uuid of the recording
  // being written at this moment (shown as such), or empty.
  bool Reload(const QString &recordingNow);
  const EntrySummary &Entry(int row) const { return entries_.at(row); }

  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex &index) const override;
  bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

 signals:
  // A label was refused or could not be stored; the reason in words.
  void labelFailed(const QString &reason);
  // A label could not be stored yet: another program holds the archive's
  // write lock. The window tries again a little later.
  void labelBusy(const QPersistentModelIndex &index, const QString &label);

 private:
  QString CompleteText(const EntrySummary &e) const;

  Archive &archive_;
  QList<EntrySummary> entries_;
  QString recordingNow_;
};
