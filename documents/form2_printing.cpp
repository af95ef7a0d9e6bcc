// Printing: the window image in real-time monitoring, the data table in the
// history query, and the printer set-up. All prints go to the one printer of
// the session, so set-up choices carry over to later prints.
#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <memory>

#include "app/controls.h"
#include "app/form2.h"
#include "documents/common_dialog.h"

namespace {

// The print dialogs' flags: 264, 265 and 328.
constexpr int kFlagsPrint = CommonDialog::PrintReturnDC | CommonDialog::PrintNoPageNums;
constexpr int kFlagsPrintSelection = kFlagsPrint | CommonDialog::PrintSelection;
constexpr int kFlagsPrintSetup = kFlagsPrint | CommonDialog::PrintSetup;

void ShowDialogFailure(QWidget *parent, const QString &title, const QString &firstLine,
                       const QString &reason) {
  QApplication::beep();
  QMessageBox box(QMessageBox::Warning, title, firstLine + QStringLiteral("\r\n") + reason, QMessageBox::Ok,
                  parent);
  box.exec();
}

// One page with the image of `area` at its size on the screen, made smaller
// (keeping its shape) when it does not fit the printable area.
void PrintWidgetImage(QPrinter &printer, QWidget *area) {
  const QPixmap shot = area->grab();
  QPainter painter;
  if (!painter.begin(&printer)) return;
  const QSizeF printable = printer.pageLayout().paintRectPixels(printer.resolution()).size();
  const double toDevice = double(printer.resolution()) / area->logicalDpiX();
  QSizeF size = QSizeF(shot.deviceIndependentSize()) * toDevice;
  if (size.width() > printable.width() || size.height() > printable.height())
    size.scale(printable, Qt::KeepAspectRatio);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(QRectF(QPointF(0, 0), size), shot, QRectF(shot.rect()));
  painter.end();
}

// Lays `doc` out in pages of the printable area and prints them one after
// another, nothing but the text: no header, footer or page number. A line
// that would cross the bottom of a page starts the next page whole.
void PrintDocumentPages(QPrinter &printer, QTextDocument &doc) {
  QPainter painter;
  if (!painter.begin(&printer)) return;
  const QSizeF page = printer.pageLayout().paintRectPixels(printer.resolution()).size();
  doc.documentLayout()->setPaintDevice(&printer);  // measure fonts at the printer's resolution
  doc.setPageSize(page);
  const int pages = doc.pageCount();
  for (int i = 0; i < pages; ++i) {
    if (i > 0 && !printer.newPage()) break;
    const QRectF view(QPointF(0, i * page.height()), page);
    painter.save();
    painter.translate(0, -view.top());
    doc.drawContents(&painter, view);
    painter.restore();
  }
  painter.end();
}

// The selected text when there is a selection, else the whole table, with
// the box's font.
void PrintTableText(QPrinter &printer, RichTextBox *box) {
  std::unique_ptr<QTextDocument> doc;
  const QTextCursor cursor = box->textCursor();
  if (cursor.hasSelection()) {
    doc = std::make_unique<QTextDocument>();
    doc->setDefaultFont(box->document()->defaultFont());
    QTextCursor(doc.get()).insertFragment(cursor.selection());
  } else {
    doc.reset(box->document()->clone());
  }
  PrintDocumentPages(printer, *doc);
}

}  // namespace

void Form2::mnuprint_Click() {
  CommonDialog1->Flags = RichTextBox1->SelLength() != 0 ? kFlagsPrintSelection : kFlagsPrint;
  CommonDialog1->CancelError = true;
  QPrinter &printer = Printer();
  const int outcome = CommonDialog1->ShowPrinter(printer);
  if (outcome == CommonDialog::Cancelled || outcome == CommonDialog::Dismissed) return;
  if (outcome != CommonDialog::Accepted) {
    ShowDialogFailure(this, QStringLiteral("Printing Error!"), QStringLiteral("文件打印出错."),
                      CommonDialog1->ErrorDescription);
    return;
  }
  if (OperatingMode == kRealTimeMode)
    PrintWidgetImage(printer, ClientArea);  // the whole client area, also when it is scrolled
  else
    PrintTableText(printer, RichTextBox1);
}

void Form2::mnuprintsetting_Click() {
  CommonDialog1->Flags = kFlagsPrintSetup;
  CommonDialog1->CancelError = true;
  const int outcome = CommonDialog1->ShowPrinter(Printer());
  if (outcome == CommonDialog::Failed)
    ShowDialogFailure(this, QStringLiteral("Printsetting Error!"), QStringLiteral("打印设置出错."),
                      CommonDialog1->ErrorDescription);
}
