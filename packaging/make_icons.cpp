// Draws the program's icon as PNG files of the sizes given on the command
// line, into <folder>/<n>x<n>/apps/<name>.png (the hicolor theme layout).
// It is the window's logo reduced to its mark: the arrester column between
// the line and earth with a small leakage trace, on the logo's dark blue, in
// the logo's colours. icon.svg is the same drawing by hand; both use one
// 256-unit square so the sizes match the scalable icon.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const QColor kBackground(20, 60, 130);
const QColor kConductor(255, 210, 60);
const QColor kShed(200, 200, 210);
const QColor kTrace(120, 230, 120);

void DrawIcon(QPainter &p) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(kBackground);
  p.drawRoundedRect(QRectF(8, 8, 240, 240), 40, 40);

  QPen conductor(kConductor, 10, Qt::SolidLine, Qt::RoundCap);
  p.setPen(conductor);
  p.drawLine(QLineF(48, 36, 160, 36));  // line conductor
  p.drawLine(QLineF(104, 36, 104, 60));
  p.setPen(QPen(Qt::white, 3));
  p.setBrush(kShed);
  for (int i = 0; i < 5; ++i) p.drawRoundedRect(QRectF(72, 60 + i * 28, 64, 22), 10, 10);  // sheds
  p.setPen(conductor);
  p.drawLine(QLineF(104, 194, 104, 206));
  p.drawLine(QLineF(72, 206, 136, 206));  // earth
  p.drawLine(QLineF(84, 220, 124, 220));
  p.drawLine(QLineF(96, 234, 112, 234));

  p.setPen(QPen(kTrace, 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  QPainterPath wave;
  wave.moveTo(148, 128);
  for (int x = 1; x <= 84; ++x) wave.lineTo(148 + x, 128 - 28 * std::sin(x / 84.0 * 4 * M_PI));
  p.drawPath(wave);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s FOLDER NAME SIZE...\n", argv[0]);
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const QString name = QString::fromLocal8Bit(argv[2]);
  for (int i = 3; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size < 8 || size > 1024) {
      std::fprintf(stderr, "%s: bad size %s\n", argv[0], argv[i]);
      return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(size / 256.0, size / 256.0);
    DrawIcon(p);
    p.end();
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
    const QString file = QStringLiteral("%1/%2.png").arg(dir, name);
    if (!QDir().mkpath(dir) || !image.save(file, "PNG")) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
      return 1;
    }
  }
  return 0;
}
