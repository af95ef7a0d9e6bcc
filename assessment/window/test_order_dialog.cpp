#include "assessment/window/test_order_dialog.h"

#include <QDate>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTableView>
#include <QTextDocument>
#include <QVBoxLayout>

#include "assessment/window/asset_format.h"
#include "assessment/window/test_order_model.h"

TestOrderDialog::TestOrderDialog(const QString &station, const QList<ArresterRecord> &order, QWidget *parent)
    : QDialog(parent), station_(station), order_(order) {
  setObjectName(QStringLiteral("TestOrderDialog"));
  setWindowTitle(QStringLiteral("测试顺序 - %1").arg(CellText(station)));

  auto *hint = new QLabel(
      QStringLiteral("按此顺序逐支测量,每支避雷器在仪表中存一组数据,共 %1 组。").arg(order.size()), this);
  OrderTable = new QTableView(this);
  OrderTable->setObjectName(QStringLiteral("TestOrderTable"));
  OrderTable->setModel(new TestOrderModel(order, this));
  OrderTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  OrderTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  OrderTable->verticalHeader()->hide();
  OrderTable->horizontalHeader()->setStretchLastSection(true);
  OrderTable->resizeColumnsToContents();

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("关闭"));
  PrintButton = buttons->addButton(QStringLiteral("打印(&P)..."), QDialogButtonBox::ActionRole);
  PrintButton->setObjectName(QStringLiteral("TestOrderPrintButton"));
  PrintButton->setEnabled(!order.isEmpty());
  connect(PrintButton, &QPushButton::clicked, this, &TestOrderDialog::Print);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(hint);
  layout->addWidget(OrderTable, 1);
  layout->addWidget(buttons);
  resize(560, 480);
}

QString TestOrderDialog::SheetHtml(const QString &station, const QList<ArresterRecord> &order) {
  const auto esc = [](const QString &s) { return CellText(s).toHtmlEscaped(); };
  QString html = QStringLiteral("<h2>%1 避雷器测试顺序</h2><p>打印日期: %2 &nbsp; 共 %3 支</p>")
                     .arg(esc(station), DateText(QDate::currentDate()))
                     .arg(order.size());
  html += QStringLiteral(
      "<table border='1' cellspacing='0' cellpadding='4' width='100%'><tr><th>组号</th><th>电压等级</th>"
      "<th>间隔</th><th>相别</th><th>出厂编号</th><th>型号</th><th>读数(mA)</th></tr>");
  for (int i = 0; i < order.size(); ++i) {
    const ArresterRecord &a = order.at(i);
    html += QStringLiteral(
                "<tr><td align='right'>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td>"
                "<td></td></tr>")
                .arg(i + 1)
                .arg(esc(a.voltageLevel), esc(a.bay), esc(a.phase), esc(a.serialNumber), esc(a.model));
  }
  return html + QStringLiteral("</table>");
}

void TestOrderDialog::PrintTo(QPrinter &printer) const {
  QTextDocument doc;
  doc.setHtml(SheetHtml(station_, order_));
  doc.print(&printer);  // lays the sheet out in pages of the printer's paper
}

void TestOrderDialog::Print() {
  QPrinter printer(QPrinter::HighResolution);
  QPrintDialog dialog(&printer, this);
  dialog.setObjectName(QStringLiteral("TestOrderPrintDialog"));
  dialog.setWindowTitle(QStringLiteral("打印测试顺序"));
  if (dialog.exec() != QDialog::Accepted) return;
  PrintTo(printer);
}
