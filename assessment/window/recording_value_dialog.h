#pragma once
// Taking one arrester's value from a live recording: the median of its
// valid readings, over all of them or over a span of reading numbers the
// user picks.
#include <QDialog>
#include <QList>
#include <optional>

#include "archive/archive_types.h"
#include "archive/asset_types.h"

class Archive;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;

class RecordingValueDialog : public QDialog {
  Q_OBJECT
 public:
  RecordingValueDialog(Archive &archive, const QString &arresterTitle, QWidget *parent = nullptr);

  // The result the dialog now gives (source, recording, statistic and
  // value); unset while no valid reading is in the span.
  std::optional<ResultRecord> Result() const;

  QComboBox *RecordingChoice;
  QRadioButton *AllReadings, *SpanReadings;
  QSpinBox *ReadingFrom, *ReadingTo;
  QLabel *MedianLine;
  QPushButton *ConfirmButton;

 public slots:
  void LoadRecording();
  void UpdateMedian();

 private:
  Archive &archive_;
  QList<EntrySummary> recordings_;
  QList<ArchivedRow> rows_;
  std::optional<double> median_;
};
