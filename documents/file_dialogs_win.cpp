#include <QFileDialog>

#include "documents/file_dialogs.h"

// Windows' own dialog where the platform offers it; on a platform without
// one (the tests' offscreen one) Qt shows its own anyway.
void ChooseFileDialogKind(QFileDialog &dialog) { dialog.setOption(QFileDialog::DontUseNativeDialog, false); }
