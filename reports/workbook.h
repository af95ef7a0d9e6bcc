#pragma once
// The judgement of a round as an .xlsx workbook for the office: sheet one the
// judgement table (real numbers and dates, conclusion cells coloured, header
// row frozen, widths set), sheet two every result of every arrester of the
// station, one row each, for the office's own pivot tables.
#include <QList>
#include <QString>

#include "archive/asset_types.h"
#include "assessment/judgement.h"

//
// `rows` are the round's judgement (JudgeRound); `stationArresters`, `rounds`
// and `results` the station's register, rounds and results (AssetStore's
// arresters(), rounds() and allResults() of round.station): sheet two holds
// each result whose arrester is among them or whose round is the station's.
// Values in mA and dates are real numbers and dates; changes are fractions
// shown as percentages; an overload or invalid reading is the text "OL" or
// "无效". The file is written under a temporary name beside `path` and
// renamed into place when complete; false with `error` set (libxlsxwriter's
// or the system's words) on failure, leaving any earlier file as it was.
bool WriteJudgementWorkbook(const QString &path, const RoundRecord &round, const QList<JudgedResult> &rows,
                            const Thresholds &thresholds, const QList<ArresterRecord> &stationArresters,
                            const QList<RoundRecord> &rounds, const QList<ResultRecord> &results,
                            QString *error = nullptr);
