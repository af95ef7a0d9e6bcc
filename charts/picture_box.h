#pragma once
// A drawing surface with a retained image and a user coordinate scale.
// What is drawn stays in the image until the next clear; a repaint of the
// window only shows the image again. Mouse events are reported in user units,
// with the button and shift codes of app/key_codes.h.
#include <QColor>
#include <QImage>
#include <QRectF>
#include <QTransform>
#include <QWidget>

class PictureBox : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QImage Image READ Image)
  Q_PROPERTY(QColor BackColor READ BackColor WRITE setBackColor)
 public:
  PictureBox(const QColor &back, QWidget *parent);

  QColor BackColor() const { return back_; }
  // Sets the background colour and clears the picture to it.
  void setBackColor(const QColor &c);

  // User scale: the left/top corner is (left, top), the right/bottom corner is
  // (left + width, top + height). A negative height makes y grow upwards;
  // a zero width or height is ignored.
  void setScale(double left, double top, double width, double height);
  // Maps user units to pixels of the image.
  QTransform userToPixel() const;

  // The retained image, always the size of the widget.
  const QImage &Image() const {
    ensureSize();
    return image_;
  }
  QImage &canvas() {
    ensureSize();
    return image_;
  }
  // Clears the image to the background colour.
  void Cls();
  // Shows what was drawn into canvas().
  void refresh() { update(); }

 signals:
  void MouseDown(int Button, int Shift, float X, float Y);
  void MouseMove(int Button, int Shift, float X, float Y);
  void MouseUp(int Button, int Shift, float X, float Y);

 protected:
  void paintEvent(QPaintEvent *) override;
  void resizeEvent(QResizeEvent *) override;
  void mousePressEvent(QMouseEvent *e) override;
  void mouseMoveEvent(QMouseEvent *e) override;
  void mouseReleaseEvent(QMouseEvent *e) override;

 private:
  QPointF toUser(const QPointF &pixel) const;
  // Keeps the image the size of the widget, also before it is first shown.
  void ensureSize() const;
  QColor back_;
  QRectF scale_;
  mutable QImage image_;
};
