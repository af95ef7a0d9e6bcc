#pragma once
// The status line: a label showing the latest message, as every label does,
// that also keeps the messages it showed. Hovering it shows the recent ones
// with their time, newest first.
//
// QLabel::setText is not virtual: this class hides it, so every write made
// through a StatusLine pointer is recorded. The tooltip text is built only
// when a tooltip is asked for.
#include <QLabel>

#include "app/status_history.h"

class StatusLine : public QLabel {
  Q_OBJECT
 public:
  StatusLine(const QString &text, QWidget *parent);

  const StatusHistory &History() const { return history_; }

 public slots:
  void setText(const QString &text);

 protected:
  bool event(QEvent *e) override;

 private:
  StatusHistory history_;
};
