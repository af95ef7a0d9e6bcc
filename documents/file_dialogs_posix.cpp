#include <QFileDialog>

#include "documents/file_dialogs.h"

void ChooseFileDialogKind(QFileDialog &dialog) { dialog.setOption(QFileDialog::DontUseNativeDialog, true); }
