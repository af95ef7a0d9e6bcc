#pragma once
// The small controls the window is built from that Qt has no exact match for:
// a timer with an Enabled switch, the indicator circle, a text box that reports
// key presses, and the data-table box whose text uses CR LF line breaks.
#include <QColor>
#include <QLineEdit>
#include <QObject>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>
#include <optional>

// A timer that only ticks while it is enabled and the window has finished
// starting up (armed). Ticks arrive through the event loop as Timer().
class IntervalTimer : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled)
  Q_PROPERTY(int Interval READ Interval)
 public:
  IntervalTimer(const QString &name, int intervalMs, bool enabled, QObject *parent);
  bool Enabled() const { return enabled_; }
  void setEnabled(bool on);
  int Interval() const { return timer_.interval(); }
  bool isRunning() const { return timer_.isActive(); }
  // Lets an enabled timer run; until then Enabled only records the wish.
  void arm();
  // Stops it for good, whatever Enabled says: the window is going.
  void disarm();
 signals:
  void Timer();

 private:
  void sync();
  QTimer timer_;
  bool enabled_ = false;
  bool armed_ = false;
};

// A circle indicator: lit shows its back colour, unlit shows only its outline
// on the fill colour.
class IndicatorCircle : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool Lit READ Lit WRITE setLit)
  Q_PROPERTY(QColor BackColor READ BackColor WRITE setBackColor)
  Q_PROPERTY(QColor FillColor READ FillColor)
 public:
  IndicatorCircle(const QColor &back, const QColor &fill, QWidget *parent);
  bool Lit() const { return lit_; }
  void setLit(bool on);
  QColor BackColor() const { return back_; }
  void setBackColor(const QColor &c);
  QColor FillColor() const { return fill_; }

 protected:
  void paintEvent(QPaintEvent *) override;

 private:
  QColor back_, fill_;
  bool lit_ = true;
};

// Single-line entry box. Every key press is first reported as KeyDown with a
// key code (13 for Enter, upper-case letters as their character codes) and the
// modifier state (1 Shift, 2 Ctrl, 4 Alt), then handled as usual.
// Text written by the program is shown from its first character, and a
// selection survives a trip through the menu bar by keyboard.
class TextBox : public QLineEdit {
  Q_OBJECT
 public:
  explicit TextBox(QWidget *parent) : QLineEdit(parent) {}
  static int keyCodeOf(int qtKey);
  // Replaces the text and puts the caret before the first character, so a
  // long value shows its leading digits rather than its end.
  void setText(const QString &text);
 signals:
  void KeyDown(int KeyCode, int Shift);

 protected:
  void keyPressEvent(QKeyEvent *e) override;
  void focusOutEvent(QFocusEvent *e) override;
  void focusInEvent(QFocusEvent *e) override;

 private:
  struct Selection {
    int anchor, length;  // as setSelection takes them; a negative length selects leftwards
  };
  std::optional<Selection> keptSelection_;
};

// The data-table box. Its Text uses CR LF between lines, as the table is built
// and saved; the widget itself keeps plain paragraphs.
class RichTextBox : public QPlainTextEdit {
  Q_OBJECT
  Q_PROPERTY(QString Text READ Text WRITE setText)
  Q_PROPERTY(int SelLength READ SelLength)
  Q_PROPERTY(QString SelText READ SelText)
 public:
  explicit RichTextBox(QWidget *parent);
  QString Text() const;
  void setText(const QString &text);
  int SelLength() const;
  QString SelText() const;
};
