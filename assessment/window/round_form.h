#pragma once
// The form for a new test round, or for correcting one: station, date,
// tester, instrument, weather, temperature and humidity. It refuses to close
// with OK while the station is empty or a figure cannot be read.
#include <QDialog>

#include "archive/asset_types.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;

class RoundForm : public QDialog {
  Q_OBJECT
 public:
  // `stations`: those of the register, offered in the station box.
  RoundForm(const RoundRecord &round, const QStringList &stations, QWidget *parent = nullptr);

  RoundRecord Record() const { return record_; }

  QComboBox *Station, *Weather;
  QDateEdit *Date;
  QLineEdit *Tester, *Instrument, *Temperature, *Humidity, *Note;
  QLabel *Problem;

 public slots:
  void accept() override;

 private:
  QString Read(RoundRecord &out) const;

  RoundRecord record_;
};
