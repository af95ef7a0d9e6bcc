#include "assessment/window/report_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "reports/test_report.h"

ReportDialog::ReportDialog(const QString &number, const QString &basis, QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ReportDialog"));
  setWindowTitle(QStringLiteral("试验报告"));
  NumberEdit = new QLineEdit(number, this);
  NumberEdit->setObjectName(QStringLiteral("ReportNumber"));
  BasisEdit = new QPlainTextEdit(basis, this);
  BasisEdit->setObjectName(QStringLiteral("ReportBasis"));
  BasisEdit->setTabChangesFocus(true);
  BasisEdit->setFixedHeight(BasisEdit->fontMetrics().lineSpacing() * 5);
  DefaultBasisButton = new QPushButton(QStringLiteral("恢复默认依据(&D)"), this);
  DefaultBasisButton->setObjectName(QStringLiteral("DefaultBasisButton"));
  DefaultBasisButton->setAutoDefault(false);

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  OkButton = buttons->button(QDialogButtonBox::Ok);
  OkButton->setText(QStringLiteral("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  buttons->addButton(DefaultBasisButton, QDialogButtonBox::ResetRole);

  auto *form = new QFormLayout;
  form->addRow(QStringLiteral("报告编号(&N):"), NumberEdit);
  form->addRow(QStringLiteral("判断依据(&J):"), BasisEdit);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  resize(560, sizeHint().height());

  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(DefaultBasisButton, &QPushButton::clicked, this,
          [this] { BasisEdit->setPlainText(DefaultReportBasis()); });
  connect(NumberEdit, &QLineEdit::textChanged, this, &ReportDialog::UpdateButtons);
  connect(BasisEdit, &QPlainTextEdit::textChanged, this, &ReportDialog::UpdateButtons);
  UpdateButtons();
}

QString ReportDialog::Number() const { return NumberEdit->text().trimmed(); }

QString ReportDialog::Basis() const { return BasisEdit->toPlainText().simplified(); }

// A report without a number cannot be filed, nor one without its basis.
void ReportDialog::UpdateButtons() { OkButton->setEnabled(!Number().isEmpty() && !Basis().isEmpty()); }
