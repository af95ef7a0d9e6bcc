#include "app/status_line.h"

#include <QHelpEvent>
#include <QTextDocument>
#include <QToolTip>

StatusLine::StatusLine(const QString &text, QWidget *parent) : QLabel(text, parent) {}

void StatusLine::setText(const QString &text) {
  history_.Record(text);
  QLabel::setText(text);
}

bool StatusLine::event(QEvent *e) {
  if (e->type() != QEvent::ToolTip) return QLabel::event(e);
  auto *help = static_cast<QHelpEvent *>(e);
  if (history_.size() == 0) {
    QToolTip::hideText();
    e->ignore();
    return true;
  }
  QString tip = history_.Lines().join(QLatin1Char('\n'));
  // Shown as plain lines even when a message happens to look like markup.
  if (Qt::mightBeRichText(tip)) tip = Qt::convertFromPlainText(tip, Qt::WhiteSpaceNoWrap);
  QToolTip::showText(help->globalPos(), tip, this, rect());
  return true;
}
