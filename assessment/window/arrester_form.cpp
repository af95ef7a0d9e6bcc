#include "assessment/window/arrester_form.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "assessment/register_csv.h"
#include "assessment/round_fill.h"
#include "assessment/window/asset_format.h"

ArresterForm::ArresterForm(const ArresterRecord &arrester, const QList<ArresterRecord> &all, QWidget *parent)
    : QDialog(parent), record_(arrester), register_(all) {
  setObjectName(QStringLiteral("ArresterForm"));
  setWindowTitle(arrester.uuid.isEmpty() ? QStringLiteral("新增避雷器") : QStringLiteral("编辑避雷器"));

  auto line = [this](const char *name, const QString &text, const QString &hint = QString()) {
    auto *e = new QLineEdit(text, this);
    e->setObjectName(QString::fromLatin1(name));
    e->setPlaceholderText(hint);
    return e;
  };
  Station = new QComboBox(this);
  Station->setObjectName(QStringLiteral("ArresterStation"));
  Station->setEditable(true);
  QStringList stations;
  for (const ArresterRecord &a : all)
    if (!stations.contains(a.station)) stations << a.station;
  Station->addItems(stations);
  Station->setCurrentText(arrester.station);
  VoltageLevel = line("ArresterVoltage", arrester.voltageLevel, QStringLiteral("110kV"));
  Bay = line("ArresterBay", arrester.bay);
  Phase = new QComboBox(this);
  Phase->setObjectName(QStringLiteral("ArresterPhase"));
  Phase->setEditable(true);
  Phase->addItems({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")});
  Phase->setCurrentText(arrester.phase);
  Model = line("ArresterModel", arrester.model);
  Serial = line("ArresterSerial", arrester.serialNumber);
  Maker = line("ArresterMaker", arrester.maker);
  Commissioned = line("ArresterCommissioned", DateText(arrester.commissioned), QStringLiteral("YYYY-MM-DD"));
  Initial =
      line("ArresterInitial", MilliAmpsText(arrester.initialMilliAmps), QStringLiteral("0.52 或 0.52mA"));
  InitialDate = line("ArresterInitialDate", DateText(arrester.initialDate), QStringLiteral("YYYY-MM-DD"));
  Note = line("ArresterNote", arrester.note);
  Problem = new QLabel(this);
  Problem->setObjectName(QStringLiteral("ArresterProblem"));
  Problem->setStyleSheet(QStringLiteral("QLabel { color: #c00000; }"));
  Problem->setWordWrap(true);

  auto *form = new QFormLayout;
  form->addRow(QStringLiteral("变电站(&S):"), Station);
  form->addRow(QStringLiteral("电压等级(&V):"), VoltageLevel);
  form->addRow(QStringLiteral("间隔(&B):"), Bay);
  form->addRow(QStringLiteral("相别(&P):"), Phase);
  form->addRow(QStringLiteral("型号:"), Model);
  form->addRow(QStringLiteral("出厂编号:"), Serial);
  form->addRow(QStringLiteral("厂家:"), Maker);
  form->addRow(QStringLiteral("投运日期:"), Commissioned);
  form->addRow(QStringLiteral("初始值(mA):"), Initial);
  form->addRow(QStringLiteral("初始值日期:"), InitialDate);
  form->addRow(QStringLiteral("备注:"), Note);

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ArresterOkButton"));
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  connect(buttons, &QDialogButtonBox::accepted, this, &ArresterForm::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto *layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(Problem);
  layout->addWidget(buttons);
}

QString ArresterForm::Read(ArresterRecord &out) const {
  out = record_;
  out.station = Station->currentText().trimmed();
  out.voltageLevel = VoltageLevel->text().trimmed();
  out.bay = Bay->text().trimmed();
  out.phase = Phase->currentText().trimmed().toUpper();
  out.model = Model->text().trimmed();
  out.serialNumber = Serial->text().trimmed();
  out.maker = Maker->text().trimmed();
  out.note = Note->text().trimmed();
  if (out.station.isEmpty() || out.voltageLevel.isEmpty() || out.bay.isEmpty() || out.phase.isEmpty())
    return QStringLiteral("变电站、电压等级、间隔和相别必须填写。");
  for (const QString &field :
       {out.station, out.voltageLevel, out.bay, out.phase, out.model, out.serialNumber, out.maker, out.note})
    if (CheckLabel(field) != LabelProblem::None)
      return QStringLiteral("各项不能超过%1个字符,也不能含有换行、制表符等控制字符。").arg(kMaxLabelLength);
  bool ok = false;
  out.commissioned = DateFromText(Commissioned->text(), &ok);
  if (!ok) return QStringLiteral("投运日期应写作 YYYY-MM-DD。");
  out.initialDate = DateFromText(InitialDate->text(), &ok);
  if (!ok) return QStringLiteral("初始值日期应写作 YYYY-MM-DD。");
  out.initialMilliAmps.reset();
  if (!Initial->text().trimmed().isEmpty()) {
    const std::optional<TypedValue> v = ParseTypedValue(Initial->text());
    // Every change is reckoned against the initial value: it has to be a
    // real, positive current.
    if (!v || v->reading != ResultReading::Value || !v->milliAmps || !(*v->milliAmps > 0))
      return QStringLiteral("初始值应为大于0的电流值,如 0.52 或 0.52mA。");
    out.initialMilliAmps = v->milliAmps;
  }
  const QString key = ArresterKey(out);
  for (const ArresterRecord &other : register_)
    if (other.uuid != out.uuid && ArresterKey(other) == key)
      return QStringLiteral("台账中已有变电站、电压等级、间隔、相别和出厂编号都相同的避雷器。");
  return QString();
}

void ArresterForm::accept() {
  ArresterRecord read;
  const QString problem = Read(read);
  if (!problem.isEmpty()) {
    Problem->setText(problem);
    return;
  }
  record_ = read;
  record_.modifiedMs = 0;  // stored as now
  QDialog::accept();
}
