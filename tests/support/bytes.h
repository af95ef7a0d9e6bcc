#pragma once
// Byte strings written as lists of numbers: Bytes({213, 85, 85}).
#include <QByteArray>
#include <initializer_list>

namespace testsupport {

inline QByteArray Bytes(std::initializer_list<int> values) {
  QByteArray b;
  for (int v : values) b.append(static_cast<char>(v));
  return b;
}

}  // namespace testsupport
