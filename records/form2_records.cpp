// The main window's recording: each real-time run becomes a recording of
// every live reading it decodes, each handled history block a download. The
// recorder only queues; its own thread writes, so the display never waits
// for the disk. Also the records window behind the file menu's last item.
#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "app/form2.h"
#include "archive/archive.h"
#include "archive/csv_export.h"
#include "archive/recorder.h"
#include "documents/file_dialogs.h"
#include "protocol/reading.h"
#include "records/records_window.h"
#include "serial/comm_control.h"

namespace {

// What the user is told about an archive that cannot be written.
QString FailureText(ArchiveFailure failure, const QString &reason) {
  switch (failure) {
    case ArchiveFailure::DiskFull: return QStringLiteral("磁盘已满");
    case ArchiveFailure::ReadOnly: return QStringLiteral("文件或文件夹只读");
    case ArchiveFailure::Locked: return QStringLiteral("文件被其他程序占用");
    case ArchiveFailure::WriteError: return QStringLiteral("写入文件出错");
    case ArchiveFailure::CannotOpen: return QStringLiteral("无法打开或创建文件");
    case ArchiveFailure::NotAnArchive: return QStringLiteral("文件不是测量记录");
    case ArchiveFailure::NewerSchema: return QStringLiteral("文件由较新版本的程序创建");
    case ArchiveFailure::Damaged: return QStringLiteral("文件已损坏");
    case ArchiveFailure::Replaced: return QStringLiteral("文件已被删除或替换");
    case ArchiveFailure::None:
    case ArchiveFailure::Other: break;
  }
  return reason.isEmpty() ? QStringLiteral("未知错误") : reason;
}

// How often the marker's count is brought up to date while writing fails.
constexpr int kMarkerRefreshMs = 1000;

}  // namespace

void Form2::UpdateArchiveMarker() {
  const RecorderStats s = MeasurementRecorder ? MeasurementRecorder->stats() : RecorderStats();
  if (!s.failing) {
    if (ArchiveMarker) ArchiveMarker->hide();
    return;
  }
  if (!ArchiveMarker) {
    // The menu bar's right end: it covers none of the window's controls.
    ArchiveMarker = new QLabel(menuBar());
    ArchiveMarker->setObjectName(QStringLiteral("ArchiveMarker"));
    ArchiveMarker->setStyleSheet(
        QStringLiteral("QLabel { color: white; background: #c00000; padding: 0 6px; }"));
    menuBar()->setCornerWidget(ArchiveMarker, Qt::TopRightCorner);
    auto *refresh = new QTimer(ArchiveMarker);
    connect(refresh, &QTimer::timeout, this, &Form2::UpdateArchiveMarker);
    refresh->start(kMarkerRefreshMs);
  }
  ArchiveMarker->setText(QStringLiteral("测量记录保存失败:%1,%2条未保存")
                             .arg(FailureText(s.failure, s.reason))
                             .arg(s.unsavedReadings + s.unsavedDownloads));
  ArchiveMarker->setToolTip(QDir::toNativeSeparators(ArchivePath) + QLatin1Char('\n') + s.reason);
  ArchiveMarker->show();
  menuBar()->adjustSize();
}

bool Form2::ConfirmCloseWithUnsavedRecords() {
  if (!MeasurementRecorder) return true;
  // A failing archive may just be taking its next retry: give it that long.
  if (MeasurementRecorder->stats().failing) MeasurementRecorder->flush(Recorder::kRetryIntervalMs + 500);
  for (;;) {
    const RecorderStats s = MeasurementRecorder->stats();
    const qint64 unsaved = s.unsavedReadings + s.unsavedDownloads;
    // Unless writing fails, what is queued is written before the program ends.
    if (!s.failing || unsaved == 0) return true;
    QMessageBox box(QMessageBox::Warning, windowTitle(),
                    QStringLiteral("有 %1 条测量记录尚未保存到测量记录文件(%2)。\n\n"
                                   "可以把它们另存为CSV文件;或者等待,程序继续运行并重试保存;"
                                   "仍然退出则这些记录将丢失。")
                        .arg(unsaved)
                        .arg(FailureText(s.failure, s.reason)),
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("UnsavedRecordsBox"));
    QPushButton *save = box.addButton(QStringLiteral("另存为CSV(&S)..."), QMessageBox::AcceptRole);
    QPushButton *wait = box.addButton(QStringLiteral("等待(&W)"), QMessageBox::RejectRole);
    QPushButton *quit = box.addButton(QStringLiteral("仍然退出(&Q)"), QMessageBox::DestructiveRole);
    save->setObjectName(QStringLiteral("SaveUnsavedButton"));
    wait->setObjectName(QStringLiteral("WaitButton"));
    quit->setObjectName(QStringLiteral("QuitAnywayButton"));
    box.setDefaultButton(save);
    box.setEscapeButton(wait);
    box.exec();
    if (box.clickedButton() == quit) return true;
    if (box.clickedButton() != save) return false;

    QFileDialog dialog(this, QStringLiteral("另存尚未保存的测量记录"),
                       QDir::home().filePath(QStringLiteral("未保存的测量记录.csv")),
                       QStringLiteral("CSV文件 (*.csv);;所有文件 (*)"));
    dialog.setObjectName(QStringLiteral("SaveUnsavedDialog"));
    ChooseFileDialogKind(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) continue;
    const QString csv = dialog.selectedFiles().constFirst();
    // The readings go through a scratch archive, so the file is the same CSV
    // as the records window writes.
    QString error;
    QTemporaryDir scratch;
    Archive copy;
    if (!scratch.isValid()) {
      error = QStringLiteral("无法创建临时文件夹");
    } else if (!copy.open(scratch.filePath(QStringLiteral("unsaved.sqlite"))) ||
               MeasurementRecorder->saveUnsavedTo(copy) < 0) {
      error = copy.errorText();
    } else {
      const CsvExportResult result = ExportCsvFile(copy, csv, CsvExportOptions());
      if (result.ok) {
        Label6->setText(QStringLiteral("尚未保存的测量记录已另存到%1.").arg(QDir::toNativeSeparators(csv)));
        return true;
      }
      error = result.error;
    }
    QMessageBox::warning(this, windowTitle(), QStringLiteral("另存失败,%1.").arg(error));
  }
}

void Form2::AttachArchive(const QString &path, Recorder *recorder) {
  ArchivePath = path;
  if (MeasurementRecorder) MeasurementRecorder->disconnect(this);
  MeasurementRecorder = recorder;
  ArchiveFailureShown = false;
  UpdateArchiveMarker();
  if (!recorder) return;
  // Said once per failure episode; the readings wait in the recorder's memory
  // meanwhile and are written once the archive takes them again. An episode
  // may have begun before the window was attached (the archive is opened at
  // once): it is told now, and its signal, still on its way, not again.
  auto tell = [this](ArchiveFailure failure, const QString &reason) {
    if (ArchiveFailureShown) return;
    ArchiveFailureShown = true;
    Label6->setText(QStringLiteral("测量记录保存失败,%1.").arg(FailureText(failure, reason)));
    UpdateArchiveMarker();
  };
  connect(recorder, &Recorder::writeFailed, this, tell);
  if (const RecorderStats s = recorder->stats(); s.failing) tell(s.failure, s.reason);
  connect(recorder, &Recorder::writeRecovered, this, [this] {
    ArchiveFailureShown = false;
    UpdateArchiveMarker();
    const qint64 dropped = MeasurementRecorder ? MeasurementRecorder->stats().droppedReadings : 0;
    Label6->setText(dropped > 0
                        ? QStringLiteral("测量记录恢复保存,等待期间丢弃了最早的%1个读数.").arg(dropped)
                        : QStringLiteral("测量记录恢复保存."));
  });
}

void Form2::BeginRunRecording() { RunRecording = true; }

void Form2::EndRunRecording() {
  RunRecording = false;
  if (MeasurementRecorder) MeasurementRecorder->endRecording();
}

void Form2::RecordLiveReading(const ReadingGroup &group) {
  if (!RunRecording || !MeasurementRecorder) return;
  // A recording begins with the first reading of a run, so a run that never
  // got a reading leaves nothing behind.
  if (!MeasurementRecorder->isRecording()) {
    RecordingInfo info;
    info.startedMs = QDateTime::currentMSecsSinceEpoch();
    info.portName = QStringLiteral("COM%1").arg(MSComm1->CommPort());
    info.device = MSComm1->DevicePath();
    info.lineSettings = MSComm1->Settings();
    MeasurementRecorder->beginRecording(info);
  }
  MeasurementRecorder->appendReading(group);
}

void Form2::RecordHistoryBlock(const QByteArray &block, int groupsAnnounced) {
  if (!MeasurementRecorder) return;
  DownloadInfo info;
  info.portName = QStringLiteral("COM%1").arg(MSComm1->CommPort());
  info.device = MSComm1->DevicePath();
  info.groupsAnnounced = groupsAnnounced;
  MeasurementRecorder->recordDownload(info, block);
}

void Form2::mnurecords_Click() {
  if (!RecordsWindow1) {
    const QString path = !ArchivePath.isEmpty() ? ArchivePath
                         : MeasurementRecorder  ? MeasurementRecorder->archivePath()
                                                : ResolveArchivePath();
    RecordsWindow1 = new RecordsWindow(path, MeasurementRecorder, this);
  }
  if (RecordsWindow1->isVisible()) RecordsWindow1->Refresh();
  RecordsWindow1->show();
  RecordsWindow1->raise();
  RecordsWindow1->activateWindow();
}
