#pragma once
// The judgement page (分析): a round's arresters judged against their
// initial values, their previous results and their sister phases, with the
// thresholds in force above the table, a filter for 注意/异常 only, the
// counts below, and each arrester's history a double-click away. A result
// of an arrester without an initial value can be taken as its initial value.
#include <QList>
#include <QWidget>
#include <optional>

#include "archive/asset_store.h"
#include "assessment/judgement.h"

class Archive;
class JudgementModel;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

class JudgementPage : public QWidget {
  Q_OBJECT
 public:
  explicit JudgementPage(Archive &archive, QWidget *parent = nullptr);

  void SelectRound(const QString &uuid);
  // The judged row behind a row of the (filtered) table.
  const JudgedResult &RowAt(const QModelIndex &viewIndex) const;

  QComboBox *RoundChoice;
  QLabel *ThresholdsLine, *CountsLine;
  QCheckBox *OnlyFlagged;
  QTableView *JudgementTable;
  JudgementModel *Model;
  QSortFilterProxyModel *Filter;
  QPushButton *HistoryButton, *SetInitialButton;

 public slots:
  void Reload();
  // Judges the round chosen afresh.
  void Judge();
  void ShowHistory();
  // Takes the selected result as its arrester's initial value.
  void SetInitial();

 signals:
  void status(const QString &text);
  void edited();

 private:
  QModelIndex SelectedIndex() const;
  void UpdateButtons();

  Archive &archive_;
  AssetStore store_;
  QList<RoundRecord> rounds_;
  // What the round was judged from, kept for the histories.
  QList<ArresterRecord> arresters_;
  QList<ResultRecord> results_;
  Thresholds thresholds_;
};
