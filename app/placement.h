#pragma once
// Building the two windows by hand: every control gets its object name (by
// which it is found from outside) and its place in twips, and the windows'
// text is set in the Song typeface.
#include <QFont>
#include <QString>
#include <QWidget>

#include "app/twips.h"

// The control, named.
template <typename T>
T *Named(T *w, const char *name) {
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

// The control, named and placed at left, top with its width and height, in twips.
template <typename T>
T *Placed(T *w, const char *name, int left, int top, int width, int height) {
  Named(w, name);
  w->setGeometry(TwipsRect(left, top, width, height));
  return w;
}

// The Song typeface at a point size, normal weight.
inline QFont SongFont(double points) {
  QFont f(QStringLiteral("宋体"));
  f.setPointSizeF(points);
  f.setWeight(QFont::Normal);
  return f;
}
