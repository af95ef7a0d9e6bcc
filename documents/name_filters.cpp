#include "documents/name_filters.h"

QStringList NameFiltersOf(const QString &filter) {
  QStringList parts = filter.split(QLatin1Char('|'));
  if (parts.size() % 2 == 1 && parts.last().isEmpty()) parts.removeLast();  // a closing "|"
  QStringList out;
  for (int i = 0; i < parts.size(); i += 2) {
    const QString desc = parts.at(i).trimmed();
    QString patterns = i + 1 < parts.size() ? parts.at(i + 1) : QString();
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    patterns = patterns.simplified();
    if (patterns.isEmpty()) patterns = QStringLiteral("*");
    // The dialog is told to hide the part in the last parentheses, so the
    // user sees the description alone while the patterns do the matching.
    out << (desc.isEmpty() ? patterns : desc) + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return out;
}
