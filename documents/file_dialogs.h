#pragma once
// Which file dialog the program shows: the system's own on Windows, where
// every program uses it; elsewhere Qt's own, whose texts and layout are the
// same on every desktop.
class QFileDialog;

// Makes `dialog` the system's own or Qt's, as above. Call before exec().
void ChooseFileDialogKind(QFileDialog &dialog);
