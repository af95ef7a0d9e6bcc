#pragma once
// Before a report is written or printed: its number (报告编号) and the line
// naming the basis of judgement (判断依据), both prefilled and editable.
#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class ReportDialog : public QDialog {
  Q_OBJECT
 public:
  ReportDialog(const QString &number, const QString &basis, QWidget *parent = nullptr);

  // Trimmed; the basis as one line.
  QString Number() const;
  QString Basis() const;

  QLineEdit *NumberEdit;
  QPlainTextEdit *BasisEdit;
  QPushButton *OkButton, *DefaultBasisButton;

 private:
  void UpdateButtons();
};
