#pragma once
// The rounds page (测试): the test rounds, newest first, and the selected
// round's arresters in test order with their results. A round is made with
// a form, filled from a download in one step, and single values are taken
// from a live recording or typed.
#include <QList>
#include <QWidget>
#include <optional>

#include "archive/asset_store.h"

class Archive;
class QPushButton;
class QTableView;
class RoundResultsModel;
class RoundsModel;

class RoundsPage : public QWidget {
  Q_OBJECT
 public:
  explicit RoundsPage(Archive &archive, QWidget *parent = nullptr);

  std::optional<RoundRecord> SelectedRound() const;
  void SelectRound(const QString &uuid);

  QTableView *RoundsTable, *ResultsTable;
  RoundsModel *Rounds;
  RoundResultsModel *Results;
  QPushButton *NewRoundButton, *EditRoundButton, *FillButton, *FromRecordingButton, *TypeValueButton,
      *ClearResultButton;

 public slots:
  void Reload();
  void NewRound();
  void EditRound();
  void FillFromDownload();
  void ValueFromRecording();
  void TypeValue();
  void ClearResult();

 signals:
  void status(const QString &text);
  // Rounds or results were changed here.
  void edited();

 private slots:
  void ShowRound();
  void UpdateButtons();

 private:
  int SelectedResultRow() const;
  QString SelectedArresterTitle() const;
  // The station's test order; the whole register into `all` when given.
  QList<ArresterRecord> OrderOf(const QString &station, QList<ArresterRecord> *all = nullptr);
  bool StoreResult(ResultRecord result, const QString &done);
  QStringList Stations();
  bool SaveRound(RoundRecord round, const QString &done);

  Archive &archive_;
  AssetStore store_;
};
