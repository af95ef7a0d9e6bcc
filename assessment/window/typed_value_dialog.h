#pragma once
// Typing one arrester's value by hand: "0.52", "0.52mA", "0.00052A" or "OL",
// with the operating voltage and a note if wanted. A value that cannot be
// read is refused with the reason, and the dialog stays open.
#include <QDialog>
#include <optional>

#include "archive/asset_types.h"

class QLabel;
class QLineEdit;

class TypedValueDialog : public QDialog {
  Q_OBJECT
 public:
  // `current`: the arrester's result so far in the round, if any.
  TypedValueDialog(const QString &arresterTitle, const std::optional<ResultRecord> &current,
                   QWidget *parent = nullptr);

  // The result typed (reading, value, voltage and note; source Manual);
  // valid after the dialog was accepted.
  ResultRecord Result() const { return result_; }

  QLineEdit *ValueEdit, *KvEdit, *NoteEdit;
  QLabel *Problem;

 public slots:
  void accept() override;

 private:
  ResultRecord result_;
};
