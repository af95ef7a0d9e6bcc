#pragma once
// The register page (台账): the arresters of one station or all, with
// add, edit, retire, import from CSV (through a preview), export to CSV and
// the station's test order.
#include <QWidget>

#include "archive/asset_store.h"

class Archive;
class QCheckBox;
class QComboBox;
class QPushButton;
class QTableView;
class RegisterModel;

class RegisterPage : public QWidget {
  Q_OBJECT
 public:
  explicit RegisterPage(Archive &archive, QWidget *parent = nullptr);

  // The station the filter shows; empty: every station.
  QString FilterStation() const;

  QComboBox *StationFilter;
  QTableView *RegisterTable;
  RegisterModel *Model;
  QPushButton *AddButton, *EditButton, *RetireButton, *ImportButton, *ExportButton, *TestOrderButton;

 public slots:
  void Reload();
  void AddArrester();
  void EditArrester();
  // Retires the selected arrester, or brings a retired one back into service.
  void RetireArrester();
  // Asks for a file, then ImportFile().
  void Import();
  // Reads `path`, shows the preview and imports it once confirmed. True
  // when something was imported.
  bool ImportFile(const QString &path);
  // Asks for a file, then ExportFile().
  void Export();
  // Writes the arresters the filter shows to `path` as CSV.
  bool ExportFile(const QString &path);
  // The test order of the filter's station, or the selected arrester's.
  void ShowTestOrder();

 signals:
  void status(const QString &text);
  // The register was changed here.
  void edited();

 private:
  int SelectedRow() const;
  void UpdateButtons();
  // Stores `arrester` and selects it; tells the status line why not.
  bool Save(ArresterRecord arrester, const QString &done);
  void SelectUuid(const QString &uuid);

  Archive &archive_;
  AssetStore store_;
};
