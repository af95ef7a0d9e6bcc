#include "cli/threshold_options.h"

#include <cmath>

#include "cli/command_line.h"

namespace cli {

namespace {

const struct {
  const char *name;
  const char *help;
  double Thresholds::*field;
} kThresholdOptions[] = {
    {"initial-attention", "Rise against the initial value, in %, that is 注意.",
     &Thresholds::initialAttentionPct},
    {"initial-abnormal", "Rise against the initial value, in %, that is 异常.",
     &Thresholds::initialAbnormalPct},
    {"previous-attention", "Rise against the previous result, in %, that is 注意.",
     &Thresholds::previousAttentionPct},
    {"phase-attention", "Distance from the bay's median, in %, that is 注意.",
     &Thresholds::phaseAttentionPct},
};

}  // namespace

void AddThresholdOptions(CommandLine &line, bool all) {
  for (const auto &o : kThresholdOptions) {
    if (!all && o.field != &Thresholds::initialAttentionPct && o.field != &Thresholds::initialAbnormalPct)
      continue;
    line.addOption({QString::fromLatin1(o.name), QString::fromUtf8(o.help), QStringLiteral("P")});
  }
}

int ReadThresholds(const CommandLine &line, Thresholds *thresholds) {
  QStringList problems;
  *thresholds = LoadThresholds(ThresholdsPath(), &problems);
  for (const QString &p : problems) Err(QStringLiteral("arrester-cli: %1: %2\n").arg(ThresholdsPath(), p));
  for (const auto &o : kThresholdOptions) {
    const QString name = QString::fromLatin1(o.name);
    if (!line.parser.optionNames().contains(name)) continue;  // only options given are listed
    bool ok = false;
    const double v = line.parser.value(name).trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
      return line.usageError(
          QStringLiteral("invalid --%1: %2 (a percentage)").arg(name, line.parser.value(name)));
    thresholds->*o.field = v;
  }
  if (const QString wrong = CheckThresholds(*thresholds); !wrong.isEmpty())
    return line.usageError(QStringLiteral("unusable thresholds: %1").arg(wrong));
  return -1;
}

}  // namespace cli
