#pragma once
// CommonDialog1: one file-save and print dialog object whose properties stay
// set from one use to the next. Each Show* runs Qt's own widget dialog
// modally (never the desktop's native one), so it looks the same everywhere
// and can be answered through QApplication::activeModalWidget().
#include <QObject>
#include <QString>
#include <QStringList>

class QPrinter;
class QWidget;

class CommonDialog : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString FileName MEMBER FileName)
  Q_PROPERTY(QString Filter MEMBER Filter)
  Q_PROPERTY(int FilterIndex MEMBER FilterIndex)
  Q_PROPERTY(QString DefaultExt MEMBER DefaultExt)
  Q_PROPERTY(QString InitDir MEMBER InitDir)
  Q_PROPERTY(bool CancelError MEMBER CancelError)
  Q_PROPERTY(int Flags MEMBER Flags)
  Q_PROPERTY(QString ErrorDescription MEMBER ErrorDescription)
  Q_PROPERTY(QString PrintDialogFault MEMBER PrintDialogFault)
 public:
  explicit CommonDialog(QObject *parent = nullptr) : QObject(parent) {}

  // Outcome codes of the Show* operations. Cancelled is reported only while
  // CancelError is true; otherwise a cancel is Dismissed, which is no error.
  enum Outcome { Accepted = 0, Dismissed = 1, Failed = 2, Cancelled = 32755 };

  // Option flags understood by the dialogs (sums as given to Flags).
  enum FlagBits {
    PrintSelection = 1,       // print dialog: page range set to the selection
    SaveOverwritePrompt = 2,  // save dialog: ask before replacing a file
    PrintNoPageNums = 8,      // print dialog: no page-number range
    PrintSetup = 64,          // ShowPrinter shows the printer set-up instead
    PrintReturnDC = 256,      // print dialogs: hand back a device context (the printer
                              // object always serves as one, so nothing to do)
  };

  QString FileName = QStringLiteral("c:\\qirn.txt");
  QString Filter = QStringLiteral("*.txt");
  int FilterIndex = 1;  // 1-based, as the filter text counts its types
  QString DefaultExt = QStringLiteral(".txt");
  QString InitDir;
  bool CancelError = false;
  int Flags = 0;
  // Why the last Show* failed (empty after a success or cancel).
  QString ErrorDescription;
  // Test hook: while not empty, the print and set-up dialogs fail with this
  // description instead of opening.
  QString PrintDialogFault;

  // Save-file dialog. Starts in InitDir with FileName in the name box, offers
  // the types of Filter with type FilterIndex selected, appends DefaultExt to
  // a name typed without an extension. Accepted sets FileName to the full
  // path and FilterIndex to the type chosen.
  int ShowSave();
  // Print dialog for `printer`; with the PrintSetup flag the set-up dialog.
  int ShowPrinter(QPrinter &printer);
  // Printer set-up (paper, orientation, margins) for `printer`.
  int ShowPrintSetup(QPrinter &printer);

 private:
  QWidget *dialogParent() const;
  int outcomeOfCancel() const;
  int failPrintDialog();
};
