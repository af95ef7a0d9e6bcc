#include "records/records_window.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "archive/archive.h"
#include "archive/csv_export.h"
#include "archive/recorder.h"
#include "documents/file_dialogs.h"
#include "records/records_model.h"

namespace {

// How long the window's own connection waits for another program's lock,
// and how it tries again after that: every half second, for ten seconds.
constexpr int kWindowBusyTimeoutMs = 200;
constexpr int kBusyRetryMs = 500;
constexpr int kBusyRetries = 20;

}  // namespace

RecordsWindow::RecordsWindow(const QString &archivePath, Recorder *recorder, QWidget *parent)
    : QWidget(parent, Qt::Window),
      archivePath_(archivePath),
      recorder_(recorder),
      archive_(std::make_unique<Archive>()) {
  setObjectName(QStringLiteral("RecordsWindow"));
  setWindowTitle(QStringLiteral("测量记录"));
  // Closing the main window ends the program even while this one is open.
  setAttribute(Qt::WA_QuitOnClose, false);

  model_ = new RecordsModel(*archive_, this);
  RecordsTable = new QTableView(this);
  RecordsTable->setObjectName(QStringLiteral("RecordsTable"));
  RecordsTable->setModel(model_);
  RecordsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  RecordsTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
  RecordsTable->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::SelectedClicked);
  RecordsTable->verticalHeader()->hide();
  RecordsTable->horizontalHeader()->setStretchLastSection(false);
  RecordsTable->horizontalHeader()->setSectionResizeMode(RecordsModel::LabelColumn, QHeaderView::Stretch);

  auto button = [this](const char *name, const QString &caption) {
    auto *b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
  };
  RefreshButton = button("RefreshButton", QStringLiteral("刷新(&F)"));
  ExportButton = button("ExportButton", QStringLiteral("导出CSV(&E)..."));
  OpenFolderButton = button("OpenFolderButton", QStringLiteral("打开所在文件夹(&O)"));
  RecordsStatus = new QLabel(this);
  RecordsStatus->setObjectName(QStringLiteral("RecordsStatus"));
  RecordsStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto *buttons = new QHBoxLayout;
  buttons->addWidget(RefreshButton);
  buttons->addWidget(ExportButton);
  buttons->addWidget(OpenFolderButton);
  buttons->addStretch(1);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(RecordsTable, 1);
  layout->addLayout(buttons);
  layout->addWidget(RecordsStatus);
  resize(820, 420);

  connect(RefreshButton, &QPushButton::clicked, this, &RecordsWindow::Refresh);
  connect(ExportButton, &QPushButton::clicked, this, &RecordsWindow::ExportSelected);
  connect(OpenFolderButton, &QPushButton::clicked, this, &RecordsWindow::OpenFolder);
  connect(RecordsTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &RecordsWindow::UpdateButtons);
  connect(model_, &QAbstractItemModel::modelReset, this, &RecordsWindow::UpdateButtons);
  // Another program holding the archive (a sync, another window's commit)
  // keeps the window waiting a fifth of a second at most: the label is
  // tried again a little later instead.
  connect(model_, &RecordsModel::labelBusy, this,
          [this](const QPersistentModelIndex &index, const QString &label) {
            if (++labelRetries_ > kBusyRetries) {
              labelRetries_ = 0;
              RecordsStatus->setText(QStringLiteral("标签保存失败,测量记录文件被其他程序占用."));
              return;
            }
            RecordsStatus->setText(QStringLiteral("测量记录文件被其他程序占用,稍后自动重试保存标签..."));
            QTimer::singleShot(kBusyRetryMs, this, [this, index, label] {
              if (index.isValid() && model_->setData(index, label)) {
                labelRetries_ = 0;
                RecordsStatus->setText(QStringLiteral("标签已保存"));
              }
            });
          });
  connect(model_, &RecordsModel::labelFailed, this, [this](const QString &reason) {
    RecordsStatus->setText(QStringLiteral("标签保存失败,%1.").arg(reason));
  });
  UpdateButtons();
}

RecordsWindow::~RecordsWindow() = default;

void RecordsWindow::showEvent(QShowEvent *e) {
  QWidget::showEvent(e);
  Refresh();
}

namespace {

// Why the archive could not be read, for the status line.
QString ReadFailureText(const Archive &archive) {
  switch (archive.failure()) {
    case ArchiveFailure::Damaged:
      return QStringLiteral("文件已损坏(可用 arrester-cli check 检查):") + archive.errorText();
    case ArchiveFailure::NewerSchema: return QStringLiteral("文件由较新版本的程序创建");
    case ArchiveFailure::NotAnArchive: return QStringLiteral("文件不是测量记录");
    default: return archive.errorText();
  }
}

}  // namespace

void RecordsWindow::Refresh() {
  const bool opening = !archive_->isOpen();
  if (opening && !archive_->open(archivePath_)) {
    RecordsStatus->setText(
        QStringLiteral("无法打开测量记录%1,%2.").arg(archivePath_, ReadFailureText(*archive_)));
    model_->Reload(QString());
    return;
  }
  if (opening)
    QSqlQuery(archive_->database())
        .exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(kWindowBusyTimeoutMs));
  if (!model_->Reload(recorder_ ? recorder_->currentRecording() : QString())) {
    if (archive_->failure() == ArchiveFailure::Locked && ++listRetries_ <= kBusyRetries) {
      RecordsStatus->setText(QStringLiteral("测量记录文件被其他程序占用,稍后自动重试..."));
      QTimer::singleShot(kBusyRetryMs, this, &RecordsWindow::Refresh);
      return;
    }
    listRetries_ = 0;
    RecordsStatus->setText(QStringLiteral("读取测量记录失败,%1.").arg(ReadFailureText(*archive_)));
    return;
  }
  listRetries_ = 0;
  RecordsStatus->setText(
      QStringLiteral("%1 共%2项").arg(QDir::toNativeSeparators(archivePath_)).arg(model_->rowCount()));
  RecordsTable->resizeColumnsToContents();
}

void RecordsWindow::UpdateButtons() {
  ExportButton->setEnabled(RecordsTable->selectionModel()->hasSelection());
}

namespace {
constexpr int kProgressSteps = 1000;
}  // namespace

const QString RecordsWindow::kCsvUtf8Filter = QStringLiteral("CSV文件,UTF-8 (*.csv)");
const QString RecordsWindow::kCsvGbkFilter = QStringLiteral("CSV文件,GBK编码,用于旧版电子表格程序 (*.csv)");

void RecordsWindow::ExportSelected() {
  QList<int> rows;
  for (const QModelIndex &i : RecordsTable->selectionModel()->selectedRows()) rows << i.row();
  if (rows.isEmpty()) return;
  // The table is newest first; the file lists the entries oldest first.
  std::sort(rows.begin(), rows.end(), std::greater<int>());
  CsvExportOptions options;
  for (int row : rows) options.entries << model_->Entry(row);

  // The encoding is chosen with the file type, as spreadsheet programs
  // offer it: GBK for old ones on Chinese Windows that do not read UTF-8.
  QFileDialog dialog(
      this, QStringLiteral("导出测量记录"),
      QFileInfo(archivePath_).dir().filePath(QStringLiteral("测量记录.csv")),
      QStringList{kCsvUtf8Filter, kCsvGbkFilter, QStringLiteral("所有文件 (*)")}.join(QStringLiteral(";;")));
  dialog.setObjectName(QStringLiteral("ExportDialog"));
  ChooseFileDialogKind(dialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("csv"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().constFirst();
  if (dialog.selectedNameFilter() == kCsvGbkFilter) options.encoding = CsvEncoding::Gbk;

  // A long export shows its progress and can be cancelled; a short one ends
  // before the dialog would appear. A cancelled export leaves no file.
  QProgressDialog progress(QStringLiteral("正在导出测量记录..."), QStringLiteral("取消"), 0, kProgressSteps,
                           this);
  progress.setObjectName(QStringLiteral("ExportProgress"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(500);
  const CsvExportResult result = ExportCsvFile(*archive_, path, options, [&](qint64 done, qint64 total) {
    progress.setValue(total > 0 ? int(qMin(done, total) * kProgressSteps / total) : 0);
    return !progress.wasCanceled();
  });
  const bool cancelled = progress.wasCanceled();
  progress.reset();
  if (cancelled)
    RecordsStatus->setText(QStringLiteral("已取消导出"));
  else if (result.ok)
    RecordsStatus->setText(
        QStringLiteral("已导出%1行到%2").arg(result.rows).arg(QDir::toNativeSeparators(path)));
  else
    RecordsStatus->setText(QStringLiteral("导出失败,%1.").arg(result.error));
}

void RecordsWindow::OpenFolder() {
  const QString folder = QFileInfo(archivePath_).absolutePath();
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
    RecordsStatus->setText(QStringLiteral("无法打开文件夹%1").arg(QDir::toNativeSeparators(folder)));
}
