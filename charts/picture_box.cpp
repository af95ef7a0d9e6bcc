#include "charts/picture_box.h"

#include <QMouseEvent>
#include <QPainter>

#include "app/key_codes.h"
#include "charts/chart_drawing.h"

PictureBox::PictureBox(const QColor &back, QWidget *parent)
    : QWidget(parent), back_(back), scale_(0, 0, 1, 1) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::setBackColor(const QColor &c) {
  back_ = c;
  Cls();
}

void PictureBox::setScale(double left, double top, double width, double height) {
  if (width == 0 || height == 0) return;  // no scale without an extent
  scale_ = QRectF(left, top, width, height);
}

QTransform PictureBox::userToPixel() const {
  ensureSize();
  return charts::ScaleTransform(image_.size(),
                                {scale_.left(), scale_.top(), scale_.width(), scale_.height()});
}

QPointF PictureBox::toUser(const QPointF &pixel) const { return userToPixel().inverted().map(pixel); }

void PictureBox::Cls() {
  ensureSize();
  image_.fill(back_);
  update();
}

void PictureBox::resizeEvent(QResizeEvent *) { ensureSize(); }

void PictureBox::ensureSize() const {
  if (image_.size() == size().expandedTo(QSize(1, 1))) return;
  QImage next(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
  next.fill(back_);
  if (!image_.isNull()) {
    QPainter p(&next);
    p.drawImage(0, 0, image_);
  }
  image_ = next;
}

void PictureBox::paintEvent(QPaintEvent *) {
  ensureSize();
  QPainter p(this);
  p.drawImage(0, 0, image_);
}

using keycodes::ButtonCode;
using keycodes::ShiftState;

void PictureBox::mousePressEvent(QMouseEvent *e) {
  const QPointF u = toUser(e->position());
  emit MouseDown(ButtonCode(e->button()), ShiftState(e->modifiers()), float(u.x()), float(u.y()));
}

void PictureBox::mouseMoveEvent(QMouseEvent *e) {
  const QPointF u = toUser(e->position());
  emit MouseMove(ButtonCode(e->buttons()), ShiftState(e->modifiers()), float(u.x()), float(u.y()));
}

void PictureBox::mouseReleaseEvent(QMouseEvent *e) {
  const QPointF u = toUser(e->position());
  emit MouseUp(ButtonCode(e->button()), ShiftState(e->modifiers()), float(u.x()), float(u.y()));
}
