#include "assessment/window/import_preview_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "assessment/window/import_preview_model.h"

ImportPreviewDialog::ImportPreviewDialog(const QString &fileName, const ParsedRegister &parsed,
                                         const QList<ImportAction> &actions, QWidget *parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("ImportPreviewDialog"));
  setWindowTitle(QStringLiteral("导入避雷器台账 - %1").arg(QDir::toNativeSeparators(fileName)));

  Model = new ImportPreviewModel(parsed, actions, this);
  PreviewTable = new QTableView(this);
  PreviewTable->setObjectName(QStringLiteral("ImportPreviewTable"));
  PreviewTable->setModel(Model);
  PreviewTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  PreviewTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  PreviewTable->verticalHeader()->hide();
  PreviewTable->horizontalHeader()->setStretchLastSection(true);
  PreviewTable->resizeColumnsToContents();

  Summary = new QLabel(this);
  Summary->setObjectName(QStringLiteral("ImportSummary"));
  Summary->setWordWrap(true);
  const int problems = Model->problemCount();
  const int rows = int(parsed.rows.size());
  if (problems > 0) {
    QStringList lines;
    for (const ImportProblem &p : parsed.problems) lines << QString::number(p.line);
    Summary->setText(QStringLiteral("第 %1 行有误,共 %2 处。请修改文件后重新导入,修改之前不导入任何一行。")
                         .arg(lines.join(QStringLiteral("、")))
                         .arg(problems));
    Summary->setStyleSheet(QStringLiteral("QLabel { color: #c00000; }"));
  } else if (rows == 0) {
    Summary->setText(QStringLiteral("文件中没有避雷器。"));
  } else {
    Summary->setText(QStringLiteral("共 %1 支避雷器: 新增 %2,更新 %3,不变 %4。")
                         .arg(rows)
                         .arg(Model->countOf(ImportAction::Add))
                         .arg(Model->countOf(ImportAction::Update))
                         .arg(Model->countOf(ImportAction::Unchanged)));
  }

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ConfirmButton = buttons->button(QDialogButtonBox::Ok);
  ConfirmButton->setObjectName(QStringLiteral("ImportConfirmButton"));
  ConfirmButton->setText(QStringLiteral("导入(&I)"));
  ConfirmButton->setEnabled(problems == 0 && rows > 0);
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(PreviewTable, 1);
  layout->addWidget(Summary);
  layout->addWidget(buttons);
  resize(760, 420);
}
