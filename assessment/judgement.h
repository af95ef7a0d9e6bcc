#pragma once
// Judging arresters: each result compared with the arrester's initial value,
// with its previous result and with its sister phases of the same bay in the
// same round, and a conclusion 正常 / 注意 / 异常 with its reasons in words.
// Pure code over numbers and thresholds: no archive, no widgets.
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
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
  // In words, worst first: "较初始值 +52.3% (≥+50%)". Empty when normal,
  // except for the note "无初始值" (or that the initial value is not above 0).
  QStringList reasons;
  bool noInitial = false;  // "无初始值": the value may be offered as the initial value
};

// An initial, previous or median value that is not above 0 gives no
// percentage (nothing can rise "by a percentage" of zero); an initial value
// like that counts as none. An overload or invalid reading gives no
// percentages at all, only 异常 "读数无效".
JudgementOutcome Judge(const JudgementInput &input, const Thresholds &thresholds);

// A change in percent as shown in tables: "+52.3%", "-4.0%"; empty when unset.
QString ChangeText(std::optional<double> pct);

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
// give the previous values). Rows in test order (see test_order.h); results
// of arresters missing from `arresters` last. The previous value is the
// arrester's latest valid result of a round made before this one: an earlier
// date, or the same date and an earlier modification time.
QList<JudgedResult> JudgeRound(const RoundRecord &round, const QList<ArresterRecord> &arresters,
                               const QList<RoundRecord> &rounds, const QList<ResultRecord> &results,
                               const Thresholds &thresholds);

// Judges many rounds over the same register and results: the results are
// indexed by arrester and by round once, so each round then costs only its
// own rows. JudgeRound() is one of these used once.
class RoundJudge {
 public:
  RoundJudge(const QList<ArresterRecord> &arresters, const QList<RoundRecord> &rounds,
             const QList<ResultRecord> &results);
  QList<JudgedResult> judge(const RoundRecord &round, const Thresholds &thresholds) const;

 private:
  struct Index;
  std::shared_ptr<const Index> index_;
};

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
// Keys: initial_attention_pct, initial_abnormal_pct, previous_attention_pct,
// phase_attention_pct. A value that is no number above 0 and up to 1000
// keeps its default; so does the initial pair when 异常 would come below 注意.
QString ThresholdsPath();
Thresholds LoadThresholds(const QString &path = ThresholdsPath());
// As above; each value not taken is described in `problems` (in Chinese)
// rather than logged.
Thresholds LoadThresholds(const QString &path, QStringList *problems);
// False when they cannot be used (see CheckThresholds) or the file cannot be
// written; the folder is made when missing.
bool SaveThresholds(const Thresholds &thresholds, const QString &path = ThresholdsPath());
// What is wrong with a set of thresholds (for options typed by a user), in
// Chinese; empty when they can be used.
QString CheckThresholds(const Thresholds &thresholds);
