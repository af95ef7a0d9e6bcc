#include "app/controls.h"

#include <QKeyEvent>
#include <QPainter>
#include <QTextCursor>
#include <algorithm>
#include <utility>

#include "app/key_codes.h"

IntervalTimer::IntervalTimer(const QString &name, int intervalMs, bool enabled, QObject *parent)
    : QObject(parent), enabled_(enabled) {
  setObjectName(name);
  timer_.setInterval(intervalMs);
  connect(&timer_, &QTimer::timeout, this, &IntervalTimer::Timer);
}

void IntervalTimer::setEnabled(bool on) {
  // Enabling a timer that is already enabled leaves its period running, so
  // repeated switches never postpone the next tick. Disabling and enabling
  // again starts a fresh period.
  if (on == enabled_) return;
  enabled_ = on;
  sync();
}

void IntervalTimer::arm() {
  armed_ = true;
  sync();
}

void IntervalTimer::disarm() {
  armed_ = false;
  sync();
}

void IntervalTimer::sync() {
  if (enabled_ && armed_) {
    if (!timer_.isActive()) timer_.start();
  } else {
    timer_.stop();
  }
}

IndicatorCircle::IndicatorCircle(const QColor &back, const QColor &fill, QWidget *parent)
    : QWidget(parent), back_(back), fill_(fill) {}

void IndicatorCircle::setLit(bool on) {
  if (lit_ == on) return;
  lit_ = on;
  update();
}

void IndicatorCircle::setBackColor(const QColor &c) {
  back_ = c;
  update();
}

void IndicatorCircle::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(lit_ ? back_ : fill_);
  p.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

int TextBox::keyCodeOf(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return keycodes::kEnter;
    case Qt::Key_Backspace: return keycodes::kBackspace;
    case Qt::Key_Tab: return keycodes::kTab;
    case Qt::Key_Escape: return keycodes::kEscape;
    case Qt::Key_Delete: return keycodes::kDelete;
    default: break;
  }
  if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
    return qtKey;  // Qt uses the ASCII codes of digits and upper-case letters
  return qtKey;
}

void TextBox::keyPressEvent(QKeyEvent *e) {
  emit KeyDown(keyCodeOf(e->key()), keycodes::ShiftState(e->modifiers()));
  QLineEdit::keyPressEvent(e);
}

void TextBox::setText(const QString &text) {
  keptSelection_.reset();  // it belonged to the old text
  QLineEdit::setText(text);
  setCursorPosition(0);
}

void TextBox::focusOutEvent(QFocusEvent *e) {
  // The line edit drops its selection whenever it loses the focus. When the
  // menu bar takes the keyboard (Alt, Alt+letter), remember the selection so
  // that an edit command chosen there finds it again.
  if (e->reason() == Qt::MenuBarFocusReason && hasSelectedText()) {
    const int start = selectionStart();
    const int length = selectionLength();
    // Keep the caret at the end it was on, as a selection made either way.
    keptSelection_ =
        cursorPosition() == start ? Selection{start + length, -length} : Selection{start, length};
  } else {
    keptSelection_.reset();
  }
  QLineEdit::focusOutEvent(e);
}

void TextBox::focusInEvent(QFocusEvent *e) {
  QLineEdit::focusInEvent(e);
  const std::optional<Selection> kept = std::exchange(keptSelection_, std::nullopt);
  // Only the menu bar hands the focus back with this reason; any other way
  // in (a click, Tab) starts afresh.
  if (kept && e->reason() == Qt::MenuBarFocusReason &&
      std::max(kept->anchor, kept->anchor + kept->length) <= text().size())
    setSelection(kept->anchor, kept->length);
}

RichTextBox::RichTextBox(QWidget *parent) : QPlainTextEdit(parent) {
  setLineWrapMode(QPlainTextEdit::NoWrap);
}

QString RichTextBox::Text() const {
  QString t = toPlainText();
  t.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return t;
}

void RichTextBox::setText(const QString &text) {
  QString t = text;
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  setPlainText(t);
}

int RichTextBox::SelLength() const {
  const QTextCursor c = textCursor();
  return c.selectionEnd() - c.selectionStart();
}

QString RichTextBox::SelText() const {
  QString t = textCursor().selectedText();
  t.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
  return t;
}
