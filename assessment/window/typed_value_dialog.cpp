#include "assessment/window/typed_value_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "archive/archive_types.h"
#include "assessment/round_fill.h"
#include "assessment/window/asset_format.h"

TypedValueDialog::TypedValueDialog(const QString &arresterTitle, const std::optional<ResultRecord> &current,
                                   QWidget *parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("TypedValueDialog"));
  setWindowTitle(QStringLiteral("输入数值 - %1").arg(arresterTitle));
  ValueEdit = new QLineEdit(this);
  ValueEdit->setObjectName(QStringLiteral("TypedValue"));
  ValueEdit->setPlaceholderText(QStringLiteral("0.52、0.52mA、0.00052A 或 OL"));
  KvEdit = new QLineEdit(this);
  KvEdit->setObjectName(QStringLiteral("TypedKv"));
  NoteEdit = new QLineEdit(this);
  NoteEdit->setObjectName(QStringLiteral("TypedNote"));
  if (current) {
    ValueEdit->setText(current->reading == ResultReading::Overload ? QStringLiteral("OL")
                       : current->milliAmps                        ? MilliAmpsText(current->milliAmps)
                                                                   : QString());
    if (current->operatingKv) KvEdit->setText(QString::number(*current->operatingKv));
    NoteEdit->setText(current->note);
  }
  Problem = new QLabel(this);
  Problem->setObjectName(QStringLiteral("TypedProblem"));
  Problem->setStyleSheet(QStringLiteral("QLabel { color: #c00000; }"));
  Problem->setWordWrap(true);

  auto *form = new QFormLayout;
  form->addRow(QStringLiteral("全电流(&V):"), ValueEdit);
  form->addRow(QStringLiteral("运行电压(kV):"), KvEdit);
  form->addRow(QStringLiteral("备注:"), NoteEdit);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("TypedOkButton"));
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  connect(buttons, &QDialogButtonBox::accepted, this, &TypedValueDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(Problem);
  layout->addWidget(buttons);
}

void TypedValueDialog::accept() {
  const std::optional<TypedValue> value = ParseTypedValue(ValueEdit->text());
  if (!value) {
    Problem->setText(QStringLiteral("无法识别“%1”。请输入如 0.52、0.52mA、0.00052A 的电流值,或 OL 表示过载。")
                         .arg(CellText(ValueEdit->text().trimmed())));
    return;
  }
  ResultRecord r;
  r.reading = value->reading;
  r.milliAmps = value->milliAmps;
  r.source = ResultSource::Manual;
  const QString kv = KvEdit->text().trimmed();
  if (!kv.isEmpty()) {
    bool ok = false;
    const double v = kv.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v <= 0 || v > 1200) {
      Problem->setText(QStringLiteral("运行电压应为大于0的数(kV),或留空。"));
      return;
    }
    r.operatingKv = v;
  }
  r.note = NoteEdit->text().trimmed();
  if (CheckLabel(r.note) != LabelProblem::None) {
    Problem->setText(
        QStringLiteral("备注不能超过%1个字符,也不能含有换行、制表符等控制字符。").arg(kMaxLabelLength));
    return;
  }
  result_ = r;
  QDialog::accept();
}
