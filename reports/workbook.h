#pragma once
// The judgement of a round as an .xlsx workbook for the office: sheet one the
// judgement table (real numbers and dates, conclusion cells coloured, header
// row frozen, widths set), sheet two every result of every arrester of the
// station, one row each, for the office's own pivot tables.
#include <QList>
#include <QString>

#include "archive/asset_types.h"
#include "assessment/judgement.h"

bool WriteJudgementWorkbook(const QString &path, const RoundRecord &round, const QList<JudgedResult> &rows,
                            const Thresholds &thresholds, const QList<ArresterRecord> &stationArresters,
                            const QList<RoundRecord> &rounds, const QList<ResultRecord> &results,
                            QString *error = nullptr);
