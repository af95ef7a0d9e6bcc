#pragma once
// Texts and colours shared by the register window's tables: values in mA,
// changes in percent, dates, where a result came from, and the colour of a
// conclusion.
#include <QColor>
#include <QDate>
#include <QString>
#include <optional>

#include "archive/asset_types.h"
#include "assessment/judgement.h"

// "0.532"; empty when unset.
QString MilliAmpsText(std::optional<double> milliAmps);
// A result's reading: its value in mA, "过载" or "无效".
QString ReadingText(ResultReading reading, std::optional<double> milliAmps);
// "+12.3", "-4.0"; empty when unset.
QString PercentText(std::optional<double> percent);
// "2024-05-01"; empty when the date is invalid.
QString DateText(const QDate &date);
// Reads "2024-05-01" or "2024/5/1". An empty text is a valid unknown date
// (invalid QDate, `ok` true); anything else unreadable sets `ok` false.
QDate DateFromText(const QString &text, bool *ok);
// Where a result's value came from, in words: "下载第3组", "记录中位数", "手工输入".
QString SourceText(const ResultRecord &result);
// A text from the archive made safe for a table cell.
QString CellText(const QString &text);
// A text as a file name to offer in a save dialog: runs of blanks and of
// characters file systems refuse become one dash; `fallback` when nothing is left.
QString FileNameText(const QString &text, const QString &fallback);
// The background of a conclusion cell: green-ish, amber or red.
QColor VerdictColour(Verdict verdict);
