#pragma once
// The form for adding or editing one arrester. It refuses to close with OK
// while a required field is empty, a date or the initial value cannot be
// read, or another arrester already has the same station, voltage level,
// bay, phase and serial number; the reason is shown in the form.
#include <QDialog>
#include <QList>

#include "archive/asset_types.h"

class QComboBox;
class QLabel;
class QLineEdit;

class ArresterForm : public QDialog {
  Q_OBJECT
 public:
  // `arrester` is the one edited (empty uuid: a new one); `all` the
  // whole register, for the station list and the identity check.
  ArresterForm(const ArresterRecord &arrester, const QList<ArresterRecord> &all, QWidget *parent = nullptr);

  // The arrester as the form now says; valid after the form was accepted.
  ArresterRecord Record() const { return record_; }

  QComboBox *Station, *Phase;
  QLineEdit *VoltageLevel, *Bay, *Model, *Serial, *Maker, *Commissioned, *Initial, *InitialDate, *Note;
  QLabel *Problem;

 public slots:
  void accept() override;

 private:
  // The form's fields as an arrester, or the reason it cannot be one.
  QString Read(ArresterRecord &out) const;

  ArresterRecord record_;
  QList<ArresterRecord> register_;
};
