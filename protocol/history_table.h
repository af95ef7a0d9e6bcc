#pragma once
// The data table of stored readings: a fixed-width text with CR LF between
// lines and none after the last. Shown in RichTextBox1, saved and printed.
#include <QByteArray>
#include <QString>

#include "protocol/reading.h"

// Title line, blank line and header line: the table with no rows. Also what
// clearing the table leaves behind.
QString HistoryTableHeading();

// One row without its line break: 30 spaces, the group number as three digits,
// 22 spaces, the reading text.
QString HistoryTableRow(int groupNumber, const ReadingGroup &group);

// The row that ends a table whose block held fewer groups than announced.
QString HistoryMissingGroupsRow(int announced, int received);

// The whole table for `groupCount` groups of `block`. If the block holds fewer
// whole groups than that, the table has the rows it can and ends with the
// missing-groups row; bytes past the block are never read, extra bytes are
// ignored. A negative count is taken as 0.
QString HistoryTableText(const QByteArray &block, int groupCount);
