#pragma once
// The test report of a round (试验报告): header, results grouped by voltage
// level and bay, summary with a trend chart for every arrester that needs
// attention, and signature lines; laid out on A4 by our own code. The same
// drawing goes to a PDF file (QPdfWriter) and to a printer (QPrinter, in the
// window), so what is filed and what is printed are the same pages.
#include <QHash>
#include <QList>
#include <QPagedPaintDevice>
#include <QString>

#include "archive/asset_types.h"
#include "assessment/judgement.h"
#include "reports/trend_chart.h"

struct TestReport {
  RoundRecord round;
  QString number;  // 报告编号, editable; DefaultReportNumber() to start with
  QString basis;   // 判断依据 line, editable; DefaultReportBasis() to start with
  Thresholds thresholds;
  QList<JudgedResult> rows;  // in test order
  // The trend of each arrester judged 注意 or 异常, by arrester uuid.
  QHash<QString, TrendChart> trends;
};

// Everything a report of `round` needs from the register, its rounds and results.
TestReport MakeTestReport(const RoundRecord &round, const QList<ArresterRecord> &arresters,
                          const QList<RoundRecord> &rounds, const QList<ResultRecord> &results,
                          const Thresholds &thresholds);
// "城东站-20261207-01": station, test date and a sequence number.
QString DefaultReportNumber(const RoundRecord &round, int sequence = 1);
QString DefaultReportBasis();

// Draws the report on `device` (A4 portrait is set on it), starting new
// pages as needed; `painter` must be active on `device`. Returns the number
// of pages, or 0 on failure.
int PaintTestReport(const TestReport &report, QPagedPaintDevice &device, QPainter &painter);

// The report as a PDF file (fonts embedded). False with `error` set on failure.
bool WriteTestReportPdf(const TestReport &report, const QString &path, QString *error = nullptr);
