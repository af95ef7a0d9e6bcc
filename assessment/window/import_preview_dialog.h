#pragma once
// The preview of a register import: what each line of the file would add
// or update, or what is wrong with it. The import can be confirmed only when
// no line is faulty and the file holds at least one arrester.
#include <QDialog>

#include "assessment/register_csv.h"

class ImportPreviewModel;
class QLabel;
class QPushButton;
class QTableView;

class ImportPreviewDialog : public QDialog {
  Q_OBJECT
 public:
  ImportPreviewDialog(const QString &fileName, const ParsedRegister &parsed,
                      const QList<ImportAction> &actions, QWidget *parent = nullptr);

  ImportPreviewModel *Model;
  QTableView *PreviewTable;
  QLabel *Summary;
  QPushButton *ConfirmButton;
};
