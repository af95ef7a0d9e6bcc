#pragma once
// Writing a drawn file whole or not at all, for the trend's PNG and SVG.
#include <QByteArray>
#include <QString>

// Replaces `path` with `bytes` only once they are all written (any earlier
// file stays as it was on failure); false with `error` set on failure.
bool SaveWhole(const QString &path, const QByteArray &bytes, QString *error);
