// The judgement workbook in builds without libxlsxwriter (the Windows
// build): it says so and writes nothing.
#include "reports/workbook.h"

bool WriteJudgementWorkbook(const QString &, const RoundRecord &, const QList<JudgedResult> &,
                            const Thresholds &, const QList<ArresterRecord> &, const QList<RoundRecord> &,
                            const QList<ResultRecord> &, QString *error) {
  if (error) *error = QStringLiteral("the workbook (.xlsx) is not in this build");
  return false;
}
