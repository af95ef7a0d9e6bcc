// The main window's way into the register window: the file menu's
// 避雷器台账 item opens it on the archive the records window lists.
#include "app/form2.h"
#include "archive/archive.h"
#include "archive/recorder.h"
#include "assessment/window/asset_window.h"

void Form2::mnuassets_Click() {
  if (!AssetWindow1) {
    const QString path = !ArchivePath.isEmpty() ? ArchivePath
                         : MeasurementRecorder  ? MeasurementRecorder->archivePath()
                                                : ResolveArchivePath();
    AssetWindow1 = new AssetWindow(path, this);
  }
  if (AssetWindow1->isVisible()) AssetWindow1->Refresh();
  AssetWindow1->show();
  AssetWindow1->raise();
  AssetWindow1->activateWindow();
}
