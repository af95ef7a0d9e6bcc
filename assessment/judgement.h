#pragma once
// Judging arresters: each result compared with the arrester's initial value,
// with its previous result and with its sister phases of the same bay in the
// same round, and a conclusion 正常 / 注意 / 异常 with its reasons in words.
// Pure code over numbers and thresholds: no archive, no widgets.
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "archive/asset_types.h"

// Every figure the judgement uses; each can be changed by the user.
struct Thresholds {
  double initialAttentionPct = 30;   // rise against the initial value: 注意
  double initialAbnormalPct = 50;    // rise against the initial value: 异常
  double previousAttentionPct = 30;  // rise against the previous result: 注意
  double phaseAttentionPct = 30;     // away from the bay's median, either way: 注意
};

// Ordered from best to worst: the worst rule wins.
enum class Verdict { Normal, Attention, Abnormal };
QString VerdictText(Verdict verdict);  // "正常", "注意", "异常"

// What one result is judged against.
struct JudgementInput {
  ResultReading reading = ResultReading::Value;
  std::optional<double> milliAmps;           // the value, when reading is Value
  std::optional<double> initialMilliAmps;    // the arrester's initial value
  std::optional<double> previousMilliAmps;   // its last valid result of an earlier round
  std::optional<double> bayMedianMilliAmps;  // median of the bay's valid values this round (2 or more)
};

struct JudgementOutcome {
  std::optional<double> initialChangePct;   // (value - initial) / initial * 100
  std::optional<double> previousChangePct;  // (value - previous) / previous * 100
  std::optional<double> phaseDeviationPct;  // (value - median) / median * 100
  Verdict verdict = Verdict::Normal;
  QStringList reasons;     // in words, worst first; empty when normal
  bool noInitial = false;  // "无初始值": the value may be offered as the initial value
};

JudgementOutcome Judge(const JudgementInput &input, const Thresholds &thresholds);

// One row of a round's judgement table.
struct JudgedResult {
  ArresterRecord arrester;
  ResultRecord result;
  std::optional<double> previousMilliAmps;
  QDate previousDate;  // the date of the round it came from
  JudgementOutcome outcome;
};

// Judges every result of `round`. `arresters` and `rounds` may hold more
// than the round's station; `results` are every result known (earlier rounds
// give the previous values). Rows in test order (see test_order.h).
QList<JudgedResult> JudgeRound(const RoundRecord &round, const QList<ArresterRecord> &arresters,
                               const QList<RoundRecord> &rounds, const QList<ResultRecord> &results,
                               const Thresholds &thresholds);

struct VerdictCounts {
  int normal = 0;
  int attention = 0;
  int abnormal = 0;
};
VerdictCounts CountVerdicts(const QList<JudgedResult> &rows);

// The thresholds in force, in one line, printed with every judgement:
// "判断依据: 初始值 +30% 注意, +50% 异常; 上次 +30% 注意; 相间 ±30% 注意".
QString ThresholdsText(const Thresholds &thresholds);

// The thresholds file: an INI file in the user's config folder
// ($XDG_CONFIG_HOME/arrester-monitor/judgement.ini, else
// ~/.config/arrester-monitor/judgement.ini). Missing keys keep defaults.
QString ThresholdsPath();
Thresholds LoadThresholds(const QString &path = ThresholdsPath());
bool SaveThresholds(const Thresholds &thresholds, const QString &path = ThresholdsPath());
