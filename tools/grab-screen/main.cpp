// Saves a screenshot of one X window (or the whole screen) as a PNG file.
// Usage: grab-screen OUTPUT.png [WINDOW-ID]
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char **argv) {
  QGuiApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: grab-screen OUTPUT.png [WINDOW-ID]\n");
    return 2;
  }
  const WId window = argc > 2 ? WId(QString::fromLocal8Bit(argv[2]).toULongLong(nullptr, 0)) : 0;
  const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(window);
  if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "grab-screen: could not save %s\n", argv[1]);
    return 1;
  }
  return 0;
}
