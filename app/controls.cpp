#include "app/controls.h"

#include <QKeyEvent>
#include <QPainter>
#include <QTextCursor>

IntervalTimer::IntervalTimer(const QString &name, int intervalMs, bool enabled, QObject *parent)
    : QObject(parent), enabled_(enabled) {
  setObjectName(name);
  timer_.setInterval(intervalMs);
  connect(&timer_, &QTimer::timeout, this, &IntervalTimer::Timer);
}

void IntervalTimer::setEnabled(bool on) {
  // Re-enabling restarts the period, as disabling and enabling a timer does.
  enabled_ = on;
  timer_.stop();
  sync();
}

void IntervalTimer::arm() {
  armed_ = true;
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
    case Qt::Key_Enter: return 13;
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab: return 9;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Delete: return 46;
    default: break;
  }
  if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
    return qtKey;  // Qt uses the ASCII codes of digits and upper-case letters
  return qtKey;
}

int TextBox::shiftStateOf(Qt::KeyboardModifiers mods) {
  int s = 0;
  if (mods & Qt::ShiftModifier) s |= 1;
  if (mods & Qt::ControlModifier) s |= 2;
  if (mods & Qt::AltModifier) s |= 4;
  return s;
}

void TextBox::keyPressEvent(QKeyEvent *e) {
  emit KeyDown(keyCodeOf(e->key()), shiftStateOf(e->modifiers()));
  QLineEdit::keyPressEvent(e);
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
