#pragma once
// The records window: the recordings and downloads of the archive, newest
// first, in a table where a label can be edited; the selected entries can be
// exported as CSV (UTF-8, or GBK for old spreadsheet programs), and the
// archive's folder opened. It is not modal and does not keep the program
// running once the main window has closed.
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

class Archive;
class QLabel;
class QPushButton;
class QTableView;
class Recorder;
class RecordsModel;

class RecordsWindow : public QWidget {
  Q_OBJECT
 public:
  // `recorder`, when given, tells which recording is being written now.
  RecordsWindow(const QString &archivePath, Recorder *recorder, QWidget *parent = nullptr);
  ~RecordsWindow() override;

  QString ArchivePath() const { return archivePath_; }

  // The export dialog's file types, one per encoding of the CSV.
  static const QString kCsvUtf8Filter, kCsvGbkFilter;

  QTableView *RecordsTable;
  QPushButton *RefreshButton, *ExportButton, *OpenFolderButton;
  QLabel *RecordsStatus;

 public slots:
  void Refresh();
  // Asks for a file name, then writes the selected entries to it.
  void ExportSelected();
  void OpenFolder();

 protected:
  void showEvent(QShowEvent *e) override;

 private:
  void UpdateButtons();

  QString archivePath_;
  QPointer<Recorder> recorder_;
  // Tries since the archive was last found held by another program.
  int labelRetries_ = 0;
  int listRetries_ = 0;
  std::unique_ptr<Archive> archive_;
  RecordsModel *model_;
};
