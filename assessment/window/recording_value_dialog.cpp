#include "assessment/window/recording_value_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "archive/archive.h"
#include "assessment/round_fill.h"
#include "assessment/window/asset_format.h"

RecordingValueDialog::RecordingValueDialog(Archive &archive, const QString &arresterTitle, QWidget *parent)
    : QDialog(parent), archive_(archive) {
  setObjectName(QStringLiteral("RecordingValueDialog"));
  setWindowTitle(QStringLiteral("从记录取值 - %1").arg(arresterTitle));

  RecordingChoice = new QComboBox(this);
  RecordingChoice->setObjectName(QStringLiteral("RecordingChoice"));
  recordings_ = archive_.listRecordings();  // newest first
  for (const EntrySummary &e : recordings_) {
    QString text =
        QStringLiteral("%1  %2个读数  %3")
            .arg(QDateTime::fromMSecsSinceEpoch(e.startedMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
            .arg(e.count)
            .arg(CellText(e.portName));
    if (!e.label.isEmpty()) text += QStringLiteral("  ") + CellText(e.label);
    RecordingChoice->addItem(text);
  }
  AllReadings = new QRadioButton(QStringLiteral("全部读数(&A)"), this);
  AllReadings->setObjectName(QStringLiteral("AllReadings"));
  SpanReadings = new QRadioButton(QStringLiteral("读数范围(&S):"), this);
  SpanReadings->setObjectName(QStringLiteral("SpanReadings"));
  AllReadings->setChecked(true);
  auto *choice = new QButtonGroup(this);
  choice->addButton(AllReadings);
  choice->addButton(SpanReadings);
  ReadingFrom = new QSpinBox(this);
  ReadingFrom->setObjectName(QStringLiteral("ReadingFrom"));
  ReadingTo = new QSpinBox(this);
  ReadingTo->setObjectName(QStringLiteral("ReadingTo"));
  MedianLine = new QLabel(this);
  MedianLine->setObjectName(QStringLiteral("MedianLine"));

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ConfirmButton = buttons->button(QDialogButtonBox::Ok);
  ConfirmButton->setObjectName(QStringLiteral("RecordingConfirmButton"));
  ConfirmButton->setText(QStringLiteral("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto *grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("实时记录(&R):"), this), 0, 0);
  grid->addWidget(RecordingChoice, 0, 1, 1, 4);
  grid->addWidget(AllReadings, 1, 0, 1, 5);
  grid->addWidget(SpanReadings, 2, 0);
  grid->addWidget(new QLabel(QStringLiteral("第"), this), 2, 1);
  grid->addWidget(ReadingFrom, 2, 2);
  grid->addWidget(new QLabel(QStringLiteral("至"), this), 2, 3);
  grid->addWidget(ReadingTo, 2, 4);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(MedianLine);
  layout->addWidget(buttons);

  connect(RecordingChoice, &QComboBox::currentIndexChanged, this, &RecordingValueDialog::LoadRecording);
  connect(AllReadings, &QRadioButton::toggled, this, &RecordingValueDialog::UpdateMedian);
  connect(ReadingFrom, &QSpinBox::valueChanged, this, &RecordingValueDialog::UpdateMedian);
  connect(ReadingTo, &QSpinBox::valueChanged, this, &RecordingValueDialog::UpdateMedian);
  LoadRecording();
}

void RecordingValueDialog::LoadRecording() {
  rows_.clear();
  const int i = RecordingChoice->currentIndex();
  bool failed = false;
  if (i >= 0 && i < recordings_.size())
    failed = !archive_.forEachRow(recordings_.at(i), [this](const ArchivedRow &row) {
      rows_ << row;
      return true;
    });
  if (failed) rows_.clear();
  const int last = rows_.isEmpty() ? 1 : std::max(1, rows_.constLast().number);
  {
    const QSignalBlocker quietFrom(ReadingFrom), quietTo(ReadingTo);
    ReadingFrom->setRange(1, last);
    ReadingTo->setRange(1, last);
    ReadingFrom->setValue(1);
    ReadingTo->setValue(last);
  }
  UpdateMedian();
  if (failed) MedianLine->setText(QStringLiteral("读取记录失败,%1.").arg(archive_.errorText()));
}

void RecordingValueDialog::UpdateMedian() {
  ReadingFrom->setEnabled(SpanReadings->isChecked());
  ReadingTo->setEnabled(SpanReadings->isChecked());
  median_.reset();
  if (recordings_.isEmpty()) {
    MedianLine->setText(QStringLiteral("测量记录中没有实时记录。"));
  } else if (SpanReadings->isChecked() && ReadingFrom->value() > ReadingTo->value()) {
    MedianLine->setText(QStringLiteral("读数范围的起点大于终点。"));
  } else {
    median_ = SpanReadings->isChecked() ? MedianMilliAmps(rows_, ReadingFrom->value(), ReadingTo->value())
                                        : MedianMilliAmps(rows_);
    MedianLine->setText(median_ ? QStringLiteral("中位数: %1 mA").arg(MilliAmpsText(median_))
                                : QStringLiteral("所选范围内没有有效读数。"));
  }
  ConfirmButton->setEnabled(median_.has_value());
}

std::optional<ResultRecord> RecordingValueDialog::Result() const {
  const int i = RecordingChoice->currentIndex();
  if (!median_ || i < 0 || i >= recordings_.size()) return std::nullopt;
  ResultRecord r;
  r.reading = ResultReading::Value;
  r.milliAmps = median_;
  r.source = ResultSource::Recording;
  r.sourceUuid = recordings_.at(i).uuid;
  r.sourceStatistic = SpanReadings->isChecked()
                          ? QStringLiteral("median %1-%2").arg(ReadingFrom->value()).arg(ReadingTo->value())
                          : QStringLiteral("median");
  return r;
}
