#include "assessment/window/round_form.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "archive/archive_types.h"

namespace {

// A figure typed in a box: empty is none; `ok` false when it cannot be read
// or lies outside [low, high].
std::optional<double> Figure(const QString &text, double low, double high, bool *ok) {
  QString t = text.trimmed();
  t.replace(QChar(0xFF0E), QLatin1Char('.')).replace(QChar(0xFF0D), QLatin1Char('-'));  // full-width
  *ok = true;
  if (t.isEmpty()) return std::nullopt;
  const double v = t.toDouble(ok);
  if (!*ok || !std::isfinite(v) || v < low || v > high) {
    *ok = false;
    return std::nullopt;
  }
  return v;
}

}  // namespace

RoundForm::RoundForm(const RoundRecord &round, const QStringList &stations, QWidget *parent)
    : QDialog(parent), record_(round) {
  setObjectName(QStringLiteral("RoundForm"));
  setWindowTitle(round.uuid.isEmpty() ? QStringLiteral("新建测试") : QStringLiteral("编辑测试"));
  auto line = [this](const char *name, const QString &text) {
    auto *e = new QLineEdit(text, this);
    e->setObjectName(QString::fromLatin1(name));
    return e;
  };
  Station = new QComboBox(this);
  Station->setObjectName(QStringLiteral("RoundStation"));
  Station->setEditable(true);
  Station->addItems(stations);
  Station->setCurrentText(round.station);
  Date = new QDateEdit(round.date.isValid() ? round.date : QDate::currentDate(), this);
  Date->setObjectName(QStringLiteral("RoundDate"));
  Date->setCalendarPopup(true);
  Date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  Tester = line("RoundTester", round.tester);
  Instrument = line("RoundInstrument", round.instrument);
  Weather = new QComboBox(this);
  Weather->setObjectName(QStringLiteral("RoundWeather"));
  Weather->setEditable(true);
  Weather->addItems({QStringLiteral("晴"), QStringLiteral("多云"), QStringLiteral("阴")});
  Weather->setCurrentText(round.weather);
  Temperature =
      line("RoundTemperature", round.temperatureC ? QString::number(*round.temperatureC) : QString());
  Humidity =
      line("RoundHumidity", round.humidityPercent ? QString::number(*round.humidityPercent) : QString());
  Note = line("RoundNote", round.note);
  Problem = new QLabel(this);
  Problem->setObjectName(QStringLiteral("RoundProblem"));
  Problem->setStyleSheet(QStringLiteral("QLabel { color: #c00000; }"));
  Problem->setWordWrap(true);

  auto *form = new QFormLayout;
  form->addRow(QStringLiteral("变电站(&S):"), Station);
  form->addRow(QStringLiteral("日期(&D):"), Date);
  form->addRow(QStringLiteral("测试人员(&T):"), Tester);
  form->addRow(QStringLiteral("仪器:"), Instrument);
  form->addRow(QStringLiteral("天气:"), Weather);
  form->addRow(QStringLiteral("温度(°C):"), Temperature);
  form->addRow(QStringLiteral("相对湿度(%):"), Humidity);
  form->addRow(QStringLiteral("备注:"), Note);

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("RoundOkButton"));
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  connect(buttons, &QDialogButtonBox::accepted, this, &RoundForm::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(Problem);
  layout->addWidget(buttons);
}

QString RoundForm::Read(RoundRecord &out) const {
  out = record_;
  out.station = Station->currentText().trimmed();
  out.date = Date->date();
  out.tester = Tester->text().trimmed();
  out.instrument = Instrument->text().trimmed();
  out.weather = Weather->currentText().trimmed();
  out.note = Note->text().trimmed();
  if (out.station.isEmpty()) return QStringLiteral("请填写变电站。");
  for (const QString &field : {out.station, out.tester, out.instrument, out.weather, out.note})
    if (CheckLabel(field) != LabelProblem::None)
      return QStringLiteral("各项不能超过%1个字符,也不能含有换行、制表符等控制字符。").arg(kMaxLabelLength);
  bool ok = false;
  out.temperatureC = Figure(Temperature->text(), -60, 80, &ok);
  if (!ok) return QStringLiteral("温度应为 -60 到 80 之间的数。");
  out.humidityPercent = Figure(Humidity->text(), 0, 100, &ok);
  if (!ok) return QStringLiteral("相对湿度应为 0 到 100 之间的数。");
  return QString();
}

void RoundForm::accept() {
  RoundRecord read;
  const QString problem = Read(read);
  if (!problem.isEmpty()) {
    Problem->setText(problem);
    return;
  }
  record_ = read;
  record_.modifiedMs = 0;
  QDialog::accept();
}
