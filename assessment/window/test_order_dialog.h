#pragma once
// A station's test order in a dialog, numbered as the meter's groups will
// be, with a print button so the sheet can go to the field.
#include <QDialog>
#include <QList>

#include "archive/asset_types.h"

class QPrinter;
class QPushButton;
class QTableView;
class QTextDocument;

class TestOrderDialog : public QDialog {
  Q_OBJECT
 public:
  TestOrderDialog(const QString &station, const QList<ArresterRecord> &order, QWidget *parent = nullptr);

  // The printed sheet: a title, the date and the numbered table, with an
  // empty column for the value read in the field.
  static QString SheetHtml(const QString &station, const QList<ArresterRecord> &order);
  void PrintTo(QPrinter &printer) const;

  QTableView *OrderTable;
  QPushButton *PrintButton;

 public slots:
  // Asks for a printer, then prints the sheet.
  void Print();

 private:
  QString station_;
  QList<ArresterRecord> order_;
};
