#pragma once
// Filling a round from a download: the engineer picks one of the archive's
// downloads and sees each group's value beside the arrester it goes to in
// test order. A group measured twice is skipped (the later groups move up),
// an arrester that was missed is skipped (the later groups move down). The
// fill can be confirmed when groups and arresters match one to one, or, with
// the partial box ticked, whenever some arrester gets a value.
#include <QDialog>
#include <QList>

#include "archive/archive_types.h"
#include "assessment/round_fill.h"

class Archive;
class FillPlanModel;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableView;

class FillDialog : public QDialog {
  Q_OBJECT
 public:
  FillDialog(Archive &archive, const QString &roundTitle, const QList<ArresterRecord> &order,
             QWidget *parent = nullptr);

  const FillPlan &Plan() const;
  // The download the plan's groups come from; empty when there is none.
  QString DownloadUuid() const;

  QComboBox *DownloadChoice;
  QSpinBox *FromGroup;
  QTableView *FillTable;
  FillPlanModel *Model;
  QPushButton *SkipGroupButton, *SkipArresterButton, *ResetButton, *ConfirmButton;
  QLabel *Summary;
  QCheckBox *PartialFill;

 public slots:
  // Reads the groups of the download chosen and pairs them afresh.
  void LoadDownload();
  // Leaves out the group of the selected row, or takes a skipped arrester back.
  void SkipSelectedGroup();
  // Marks the selected row's arrester as missed, or takes it back.
  void SkipSelectedArrester();
  void ResetCorrections();

 private:
  void Pair();
  void UpdateState();
  int SelectedRow() const;

  Archive &archive_;
  QList<ArresterRecord> order_;
  QList<EntrySummary> downloads_;
  QList<ArchivedRow> groups_;
  FillCorrections corrections_;
  QString loadError_;
};
