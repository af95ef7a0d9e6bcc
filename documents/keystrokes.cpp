#include "documents/keystrokes.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>
#include <utility>

namespace {

// The modifier keys in the order they go down; they come up in reverse.
constexpr std::pair<Qt::KeyboardModifier, Qt::Key> kModifierKeys[] = {
    {Qt::ControlModifier, Qt::Key_Control},
    {Qt::AltModifier, Qt::Key_Alt},
    {Qt::ShiftModifier, Qt::Key_Shift},
};

// The text a key event carries: control characters for Ctrl+letter, DEL for
// Delete, nothing for navigation keys.
QString TextOf(Qt::Key key, Qt::KeyboardModifiers modifiers) {
  if (key >= Qt::Key_A && key <= Qt::Key_Z) {
    if (modifiers & Qt::ControlModifier) return QString(QChar(key - Qt::Key_A + 1));
    const QChar c(key);
    return modifiers & Qt::ShiftModifier ? QString(c) : QString(c.toLower());
  }
  if (key == Qt::Key_Delete) return QString(QChar(0x7f));
  return {};
}

void Post(QWidget *target, QEvent::Type type, int key, Qt::KeyboardModifiers held, const QString &text = {}) {
  QCoreApplication::postEvent(target, new QKeyEvent(type, key, held, text));
}

}  // namespace

void PostKeyStroke(QWidget *target, Qt::Key key, Qt::KeyboardModifiers modifiers) {
  if (!target) return;
  Qt::KeyboardModifiers held;
  for (const auto &[flag, modKey] : kModifierKeys) {
    if (!(modifiers & flag)) continue;
    held |= flag;
    Post(target, QEvent::KeyPress, modKey, held);
  }
  const QString text = TextOf(key, modifiers);
  Post(target, QEvent::KeyPress, key, held, text);
  Post(target, QEvent::KeyRelease, key, held, text);
  for (int i = int(std::size(kModifierKeys)) - 1; i >= 0; --i) {
    const auto &[flag, modKey] = kModifierKeys[i];
    if (!(modifiers & flag)) continue;
    held &= ~Qt::KeyboardModifiers(flag);
    Post(target, QEvent::KeyRelease, modKey, held);
  }
}
