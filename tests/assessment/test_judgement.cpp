// The judgement rules as a table of cases, a round judged against earlier
// rounds and its bay's phases, the register CSV read in its several forms
// and planned against a stored register, the test order and the pairing of
// a download's groups with arresters.
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

#include "assessment/judgement.h"
#include "assessment/register_csv.h"
#include "assessment/round_fill.h"
#include "assessment/test_order.h"
#include "documents/text_export.h"

namespace {

const double kNone = qQNaN();
std::optional<double> Opt(double v) { return std::isnan(v) ? std::nullopt : std::optional<double>(v); }

ArresterRecord Arrester(const QString &uuid, const QString &level, const QString &bay, const QString &phase,
                        double initial = kNone, const QString &station = QStringLiteral("城东站")) {
  ArresterRecord a;
  a.uuid = uuid;
  a.station = station;
  a.voltageLevel = level;
  a.bay = bay;
  a.phase = phase;
  a.initialMilliAmps = Opt(initial);
  return a;
}

ResultRecord Result(const QString &round, const QString &arrester, double mA,
                    ResultReading reading = ResultReading::Value) {
  ResultRecord r;
  r.roundUuid = round;
  r.arresterUuid = arrester;
  r.reading = reading;
  if (reading == ResultReading::Value) r.milliAmps = mA;
  return r;
}

QString Describe(const QList<ImportAction> &actions, const QList<ImportProblem> &problems) {
  static const char *kinds[] = {"add", "update", "unchanged"};
  QStringList parts;
  for (const ImportProblem &p : problems) parts << QStringLiteral("%1: %2").arg(p.line).arg(p.text);
  for (const ImportAction &a : actions)
    parts << QStringLiteral("%1 %2%3").arg(a.line).arg(
        QLatin1String(kinds[a.kind]), a.changed.isEmpty() ? QString() : ' ' + a.changed.join('+'));
  return parts.join(QStringLiteral(" | "));
}

}  // namespace

class JudgementTest : public QObject {
  Q_OBJECT

 private slots:
  void judge_data() {
    QTest::addColumn<int>("reading");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("initial");
    QTest::addColumn<double>("previous");
    QTest::addColumn<double>("median");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QString>("reasons");
    const int V = int(ResultReading::Value);
    const QString n = QStringLiteral("正常"), t = QStringLiteral("注意"), x = QStringLiteral("异常");
    QTest::newRow("unchanged") << V << 10.0 << 10.0 << 10.0 << 10.0 << n << "";
    QTest::newRow("initial just under 30%") << V << 0.675 << 0.52 << kNone << kNone << n << "";
    QTest::newRow("initial exactly 30%")
        << V << 0.676 << 0.52 << kNone << kNone << t << "较初始值 +30.0% (≥+30%)";
    QTest::newRow("initial exactly 50%")
        << V << 0.78 << 0.52 << kNone << kNone << x << "较初始值 +50.0% (≥+50%)";
    QTest::newRow("initial fallen 40%") << V << 6.0 << 10.0 << kNone << kNone << n << "";
    QTest::newRow("previous 31%") << V << 13.1 << 12.0 << 10.0 << kNone << t << "较上次 +31.0% (≥+30%)";
    QTest::newRow("below bay median")
        << V << 6.48 << 6.48 << kNone << 10.0 << t << "偏离本间隔中值 -35.2% (≥±30%)";
    QTest::newRow("above bay median 30%")
        << V << 13.0 << 13.0 << kNone << 10.0 << t << "偏离本间隔中值 +30.0% (≥±30%)";
    QTest::newRow("worst wins, all listed") << V << 16.0 << 10.0 << 12.0 << 11.0 << x
                                            << "较初始值 +60.0% (≥+50%); 较上次 +33.3% (≥+30%); "
                                               "偏离本间隔中值 +45.5% (≥±30%)";
    QTest::newRow("overload") << int(ResultReading::Overload) << kNone << 10.0 << 10.0 << 10.0 << x
                              << "读数无效";
    QTest::newRow("invalid") << int(ResultReading::Invalid) << kNone << kNone << kNone << kNone << x
                             << "读数无效";
    QTest::newRow("no initial") << V << 10.0 << kNone << kNone << kNone << n << "无初始值";
    QTest::newRow("no initial, previous rise")
        << V << 14.0 << kNone << 10.0 << kNone << t << "较上次 +40.0% (≥+30%); 无初始值";
    QTest::newRow("zero initial, previous, median")
        << V << 5.0 << 0.0 << 0.0 << 0.0 << n << "初始值不大于 0,未作比较";
  }
  void judge() {
    QFETCH(int, reading);
    QFETCH(double, value);
    QFETCH(double, initial);
    QFETCH(double, previous);
    QFETCH(double, median);
    QFETCH(QString, verdict);
    QFETCH(QString, reasons);
    const JudgementInput input{ResultReading(reading), Opt(value), Opt(initial), Opt(previous), Opt(median)};
    const JudgementOutcome out = Judge(input, Thresholds());
    QCOMPARE(VerdictText(out.verdict), verdict);
    QCOMPARE(out.reasons.join(QStringLiteral("; ")), reasons);
    QCOMPARE(out.noInitial, reasons.contains("无初始值") || reasons.contains("不大于 0"));
    // A percentage exactly when there is a value and a base above 0.
    const bool valued = ResultReading(reading) == ResultReading::Value;
    QCOMPARE(out.initialChangePct.has_value(), valued && initial > 0);
    QCOMPARE(out.previousChangePct.has_value(), valued && previous > 0);
    QCOMPARE(out.phaseDeviationPct.has_value(), valued && median > 0);
  }

  void judgeRound() {
    const QList<ArresterRecord> arresters = {
        Arrester("c1", "110kV", "1号主变", "C", 11),  Arrester("a1", "110kV", "1号主变", "A", 10),
        Arrester("b1", "110kV", "1号主变", "B", 10),  Arrester("b2", "110kV", "2号主变", "B", 12),
        Arrester("a2", "110kV", "2号主变", "A", 10),  Arrester("a10", "110kV", "10号主变", "A"),
        Arrester("b10", "110kV", "10号主变", "B", 5), Arrester("x", "110kV", "1号主变", "A", 1, "城西站")};
    auto round = [](const QString &uuid, int year, qint64 modified) {
      RoundRecord r;
      r.uuid = uuid;
      r.date = QDate(year, 5, 1);
      r.modifiedMs = modified;
      return r;
    };
    const QList<RoundRecord> rounds = {round("late", 2025, 1),
                                       round("now", 2024, 500),
                                       round("y23", 2023, 9),
                                       round("y22", 2022, 9),
                                       round("same-day-before", 2024, 400),
                                       round("same-day-after", 2024, 600)};
    const QList<ResultRecord> results = {
        Result("late", "a1", 99),
        Result("y22", "a1", 7),
        Result("y23", "a1", 0, ResultReading::Invalid),  // not valid: 2022 stays the previous
        Result("y22", "b1", 8),
        Result("y23", "b1", 9),
        Result("same-day-before", "c1", 11),
        Result("same-day-after", "c1", 50),
        Result("y23", "x", 1),
        Result("now", "x", 1),
        Result("now", "a1", 10),
        Result("now", "b1", 11),
        Result("now", "c1", 15),
        Result("now", "a2", 10),
        Result("now", "b2", 14),
        Result("now", "a10", 3),
        Result("now", "b10", 0, ResultReading::Overload)};
    const QList<JudgedResult> rows = JudgeRound(rounds[1], arresters, rounds, results, Thresholds());

    QStringList got;
    for (const JudgedResult &r : rows)
      got << QStringList{r.arrester.uuid, r.previousMilliAmps ? QString::number(*r.previousMilliAmps) : "-",
                         r.previousDate.isValid() ? r.previousDate.toString(Qt::ISODate) : "-",
                         r.outcome.phaseDeviationPct ? ChangeText(r.outcome.phaseDeviationPct) : "-",
                         VerdictText(r.outcome.verdict)}
                 .join(' ');
    const QStringList expected = {"a1 7 2022-05-01 -9.1% 注意",  // +42.9% against 2022
                                  "b1 9 2023-05-01 +0.0% 正常",
                                  "c1 11 2024-05-01 +36.4% 注意",  // 1号: median 11
                                  "a2 - - -16.7% 正常",
                                  "b2 - - +16.7% 正常",  // 2号: median of two, 12
                                  "a10 - - - 正常",
                                  "b10 - - - 异常",  // 10号: one valid value, no median
                                  "x 1 2023-05-01 - 正常"};
    QCOMPARE(got, expected);
    QCOMPARE(rows[5].outcome.reasons, QStringList{"无初始值"});
    const VerdictCounts counts = CountVerdicts(rows);
    QCOMPARE(QList<int>({counts.normal, counts.attention, counts.abnormal}), QList<int>({5, 2, 1}));
  }

  void thresholdsFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("judgement.ini");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        "[General]\ninitial_attention_pct=60\ninitial_abnormal_pct=40\nprevious_attention_pct=abc\n"
        "phase_attention_pct=25\n");
    file.close();
    QStringList problems;
    Thresholds t = LoadThresholds(path, &problems);
    QCOMPARE(problems.size(), 2);  // the upside-down pair and the word
    QCOMPARE(ThresholdsText(t),
             QStringLiteral("判断依据: 初始值 +30% 注意, +50% 异常; 上次 +30% 注意; 相间 ±25% 注意"));
    t.initialAbnormalPct = 75.5;
    QVERIFY(SaveThresholds(t, dir.filePath("new/judgement.ini")));
    QCOMPARE(LoadThresholds(dir.filePath("new/judgement.ini"), &problems).initialAbnormalPct, 75.5);
  }

  void registerCsv_data() {
    QTest::addColumn<QString>("csv");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("expected");
    // The stored register: 城东站 110kV 1号主变 A (model Y10W, serial S1) and B.
    QTest::newRow("chinese, add update unchanged") << "变电站,电压等级,间隔,相别,型号,出厂编号,初始值(mA)\r\n"
                                                      "城东站,110kV,1号主变,a,Y10W,S1,0.52\r\n"
                                                      "城东站,110kV,1号主变,B,Y5W,S2,0.5\r\n"
                                                      "\r\n"
                                                      "城东站,110kV,1号主变,C,Y10W,S3,0.52mA\r\n"
                                                   << "utf-8 bom"
                                                   << "2 unchanged | 3 update 型号+初始值 | 5 add";
    QTest::newRow("english, gbk, quoted comma and line break")
        << "Station,Voltage Level,bay,phase,note,serial\n"
           "城东站,110kV,1号主变,A,\"雨后复测, 见\n记录\",S1\n"
           "城东站,110kV,1号主变,C,,\n"
        << "gbk"
        << "2 update 备注 | 4 add";
    QTest::newRow("faults with their lines")
        << "变电站;电压等级;间隔;相别;投运日期;初始值;退役\n"
           "城东站;110kV;1号主变;A;2020-02-30;;\n"
           "城东站;110kV;\"2号\n主变\";A;2020/5/1;-1;也许\n"
           "城东站;110kV;;B;;0.4;是\n"
           "城东站;110kV;3号主变;A;;0.00052A;\n"
           "城东站;110kV;3号主变;a;;;否\n"
        << "utf-8"
        << "2: 投运日期「2020-02-30」不是日期(应为 YYYY-MM-DD) | 3: 间隔含有控制字符或换行 | "
           "3: 初始值「-1」不是电流值(应如 0.52、0.52mA 或 0.00052A) | 3: 退役「也许」应为 是 或 否 | "
           "5: 间隔为空 | 7: 与第 6 行是同一只避雷器(变电站、电压等级、间隔、相别和出厂编号都相同) | "
           "2 add | 3 add | 5 add | 6 add | 7 add";
    QTest::newRow("missing column, tabs") << "变电站\t间隔\t相别\r\n城东站\t1号主变\tA\r\n"
                                          << "utf-16"
                                          << "1: 缺少「电压等级」列(voltage_level) | 2 add";
  }
  void registerCsv() {
    QFETCH(QString, csv);
    QFETCH(QString, encoding);
    QFETCH(QString, expected);
    ArresterRecord a = Arrester("ua", "110kV", "1号主变", "A", 0.52),
                   b = Arrester("ub", "110kV", "1号主变", "B");
    a.model = b.model = "Y10W";
    a.serialNumber = "S1";
    b.serialNumber = "S2";
    const QList<ArresterRecord> stored = {a, b};
    const bool gbk = encoding == "gbk";
    QByteArray bytes = gbk ? EncodeGbk(csv) : csv.toUtf8();
    if (encoding == "utf-8 bom") bytes.prepend("\xEF\xBB\xBF");
    if (encoding == "utf-16")  // as a spreadsheet saves "Unicode text"
      bytes = "\xFF\xFE" + QByteArray(reinterpret_cast<const char *>(csv.utf16()), csv.size() * 2);
    const ParsedRegister parsed = ParseRegisterCsv(bytes);
    const QList<ImportAction> plan = PlanImport(parsed, stored);
    QCOMPARE(Describe(plan, parsed.problems).toUtf8().constData(), expected.toUtf8().constData());
    for (const ImportAction &action : plan)
      if (action.kind == ImportAction::Update) {
        QVERIFY(action.row.uuid == "ua" || action.row.uuid == "ub");
        QCOMPARE(action.row.model, QString(gbk ? "Y10W" : "Y5W"));  // a column the file lacks stays
        if (gbk) QCOMPARE(action.row.note, QString("雨后复测, 见\n记录"));
      }
  }

  void registerRoundTrip() {
    ArresterRecord a = Arrester("u1", "500kV", "=1号", "A", 0.00052);
    a.note = "@SUM(A1), \"引号\"\n第二行";
    a.model = "'-Y10W";
    a.commissioned = QDate(2019, 12, 31);
    a.retired = true;
    const QList<ImportAction> plan = PlanImport(ParseRegisterCsv(RegisterCsv({a})), {a});
    QCOMPARE(Describe(plan, {}), QStringLiteral("2 unchanged"));
    QVERIFY(RegisterCsv({a}).contains("'=1号"));
  }

  void testOrder() {
    QList<ArresterRecord> all = {Arrester("", "35kV", "1号主变", "A"),
                                 Arrester("", "110kV", "10号主变", "A"),
                                 Arrester("", "110kV", "2号主变", "C"),
                                 Arrester("", "110kV", "2号主变", "O"),
                                 Arrester("", "110kV", "2号主变", "A"),
                                 Arrester("", "站用", "1号", "A"),
                                 Arrester("", "500kV", "1号主变", "B"),
                                 Arrester("", "110kV", "2号主变", "b"),
                                 Arrester("", "500kV", "1号主变", "A", kNone, "城西站")};
    all.append(Arrester("", "500kV", "1号主变", "C"));
    all.last().retired = true;
    QStringList got;
    for (const ArresterRecord &a : TestOrder(all, "城东站"))
      got << a.voltageLevel + ' ' + a.bay + ' ' + a.phase;
    QCOMPARE(got, QStringList({"500kV 1号主变 B", "110kV 2号主变 A", "110kV 2号主变 b", "110kV 2号主变 C",
                               "110kV 2号主变 O", "110kV 10号主变 A", "35kV 1号主变 A", "站用 1号 A"}));
  }

  void pairGroups() {
    QList<ArresterRecord> order;
    for (int i = 0; i < 5; ++i) order << Arrester(QString::number(i), "110kV", "1号", "A");
    QList<ArchivedRow> groups;
    for (int k = 7; k >= 1; --k) {  // in any order
      ArchivedRow row;
      row.number = k;
      row.kind = k == 6 ? ReadingKind::Overload : ReadingKind::AC;
      if (k != 6) row.milliAmps = k * 1.5;
      groups << row;
    }
    FillCorrections corrections;
    corrections.fromGroup = 2;
    corrections.skippedGroups = {4};
    corrections.skippedArresters = {1};
    FillPlan plan = PairGroups(order, groups, corrections);
    QStringList got;
    for (const FillPairing &p : plan.pairs) got << (p.group ? QString::number(p.group->number) : "-");
    QCOMPARE(got, QStringList({"2", "-", "3", "5", "6"}));
    QCOMPARE(plan.leftOver.size(), 1);
    QCOMPARE(plan.leftOver[0].number, 7);
    QVERIFY(!plan.exact());
    const QList<ResultRecord> results = ResultsFromPlan(plan, "r", "d");
    QCOMPARE(results.size(), 4);
    QCOMPARE(results[2].sourceGroup, 5);
    QCOMPARE(results[2].milliAmps, std::optional<double>(7.5));
    QCOMPARE(results[3].reading, ResultReading::Overload);
    corrections.skippedGroups = {4, 7};
    QVERIFY(PairGroups(order, groups, corrections).exact());
    QCOMPARE(MedianMilliAmps(groups, 2, 7), std::optional<double>(6));  // 3 4.5 6 7.5 10.5: overload left out
  }

  void typedValue_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    for (auto [text, expected] : {std::pair{"12.3", "12.3"},
                                  {" 12.3mA ", "12.3"},
                                  {"12.3 mA", "12.3"},
                                  {"0.5A", "500"},
                                  {"ol", "OL"},
                                  {"", "-"},
                                  {"nan", "-"},
                                  {"inf", "-"},
                                  {"1e3", "-"},
                                  {"-1", "-"},
                                  {"12,3", "-"},
                                  {"12.3kA", "-"}})
      QTest::newRow(text) << text << expected;
  }
  void typedValue() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const std::optional<TypedValue> v = ParseTypedValue(text);
    const QString got = !v ? "-" : v->milliAmps ? QString::number(*v->milliAmps) : "OL";
    QCOMPARE(got, expected);
  }
};

QTEST_GUILESS_MAIN(JudgementTest)
#include "test_judgement.moc"
