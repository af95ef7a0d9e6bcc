#pragma once
// Keystroke synthesis: queues key events for a widget as the keyboard would
// deliver them, so the widget reacts by its own key handling (paging the
// table, cut/copy/paste in a text box, ...).
#include <Qt>

class QWidget;

// Queues a press and release of `key` for `target`, with the keys of
// `modifiers` pressed before it and released after it. Nothing happens when
// `target` is null.
void PostKeyStroke(QWidget *target, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
