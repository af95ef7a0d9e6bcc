#pragma once
// The type list of a save dialog, "desc|pattern|desc|pattern", as Qt name
// filters. Plain text work, kept apart from the dialog so it can be checked
// without widgets.
#include <QString>
#include <QStringList>

// One filter per type, each showing only its description and matching its
// patterns: "文本文件(*.txt)|*.txt" gives "文本文件(*.txt) (*.txt)".
QStringList NameFiltersOf(const QString &filter);
