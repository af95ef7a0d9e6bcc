// The main window's recording: each real-time run becomes a recording of
// every live reading it decodes, each handled history block a download. The
// recorder only queues; its own thread writes, so the display never waits
// for the disk. Also the records window behind the file menu's last item.
#include <QAction>
#include <QDateTime>
#include <QLabel>

#include "app/form2.h"
#include "archive/archive.h"
#include "archive/recorder.h"
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
    case ArchiveFailure::None:
    case ArchiveFailure::Other: break;
  }
  return reason.isEmpty() ? QStringLiteral("未知错误") : reason;
}

}  // namespace

void Form2::AttachArchive(const QString &path, Recorder *recorder) {
  ArchivePath = path;
  if (MeasurementRecorder) MeasurementRecorder->disconnect(this);
  MeasurementRecorder = recorder;
  ArchiveFailureShown = false;
  if (!recorder) return;
  // Said once per failure episode; the readings wait in the recorder's memory
  // meanwhile and are written once the archive takes them again. An episode
  // may have begun before the window was attached (the archive is opened at
  // once): it is told now, and its signal, still on its way, not again.
  auto tell = [this](ArchiveFailure failure, const QString &reason) {
    if (ArchiveFailureShown) return;
    ArchiveFailureShown = true;
    Label6->setText(QStringLiteral("测量记录保存失败,%1.").arg(FailureText(failure, reason)));
  };
  connect(recorder, &Recorder::writeFailed, this, tell);
  if (const RecorderStats s = recorder->stats(); s.failing) tell(s.failure, s.reason);
  connect(recorder, &Recorder::writeRecovered, this, [this] {
    ArchiveFailureShown = false;
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
