#include "documents/common_dialog.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>

#include "documents/file_dialogs.h"
#include "documents/name_filters.h"

QWidget *CommonDialog::dialogParent() const {
  QWidget *w = qobject_cast<QWidget *>(parent());
  return w ? w->window() : nullptr;
}

int CommonDialog::outcomeOfCancel() const { return CancelError ? Cancelled : Dismissed; }

int CommonDialog::ShowSave() {
  ErrorDescription.clear();
  QFileDialog dlg(dialogParent());
  dlg.setObjectName(QStringLiteral("CommonDialogSave"));
  ChooseFileDialogKind(dlg);
  dlg.setOption(QFileDialog::HideNameFilterDetails, true);
  dlg.setOption(QFileDialog::DontConfirmOverwrite, !(Flags & SaveOverwritePrompt));
  dlg.setAcceptMode(QFileDialog::AcceptSave);
  dlg.setFileMode(QFileDialog::AnyFile);

  const QStringList filters = NameFiltersOf(Filter);
  if (!filters.isEmpty()) {
    dlg.setNameFilters(filters);
    const int index = FilterIndex >= 1 && FilterIndex <= filters.size() ? FilterIndex : 1;
    dlg.selectNameFilter(filters.at(index - 1));
  }
  QString ext = DefaultExt;
  if (ext.startsWith(QLatin1Char('.'))) ext.remove(0, 1);
  dlg.setDefaultSuffix(ext);

  // A start folder that is not a folder leaves the dialog where Qt puts it.
  if (!InitDir.isEmpty() && QFileInfo(InitDir).isDir()) dlg.setDirectory(InitDir);
  if (!FileName.isEmpty()) dlg.selectFile(FileName);

  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return outcomeOfCancel();

  FileName = QDir::toNativeSeparators(dlg.selectedFiles().constFirst());
  int chosen = filters.indexOf(dlg.selectedNameFilter());
  if (chosen < 0) {
    if (auto *types = dlg.findChild<QComboBox *>(QStringLiteral("fileTypeCombo")))
      chosen = types->currentIndex();
  }
  if (chosen >= 0) FilterIndex = chosen + 1;
  return Accepted;
}

int CommonDialog::failPrintDialog() {
  ErrorDescription = PrintDialogFault;
  return Failed;
}

int CommonDialog::ShowPrinter(QPrinter &printer) {
  if (Flags & PrintSetup) return ShowPrintSetup(printer);
  ErrorDescription.clear();
  if (!PrintDialogFault.isEmpty()) return failPrintDialog();
  if (!printer.isValid()) {
    ErrorDescription = QStringLiteral("没有可用的打印机.");
    return Failed;
  }

  QPrintDialog dlg(&printer, dialogParent());
  dlg.setObjectName(QStringLiteral("CommonDialogPrint"));
  QAbstractPrintDialog::PrintDialogOptions options = dlg.options();
  options.setFlag(QAbstractPrintDialog::PrintPageRange, !(Flags & PrintNoPageNums));
  options.setFlag(QAbstractPrintDialog::PrintSelection, Flags & PrintSelection);
  dlg.setOptions(options);
  printer.setPrintRange(Flags & PrintSelection ? QPrinter::Selection : QPrinter::AllPages);

  if (dlg.exec() != QDialog::Accepted) return outcomeOfCancel();
  return Accepted;
}

int CommonDialog::ShowPrintSetup(QPrinter &printer) {
  ErrorDescription.clear();
  if (!PrintDialogFault.isEmpty()) return failPrintDialog();
  if (!printer.isValid()) {
    ErrorDescription = QStringLiteral("没有可用的打印机.");
    return Failed;
  }

  QPageSetupDialog dlg(&printer, dialogParent());
  dlg.setObjectName(QStringLiteral("CommonDialogPrintSetup"));
  if (dlg.exec() != QDialog::Accepted) return outcomeOfCancel();
  return Accepted;
}
