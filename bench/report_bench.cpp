// The test report: a round of 300 arresters (100 bays of three phases, two
// voltage levels, ten years of rounds before it), judged, laid out and
// written to a PDF file with the font embedded; a handful judged 注意 or 异常,
// so their trend charts are drawn too. Median of a few runs.
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "reports/test_report.h"

namespace {

constexpr int kRuns = 5;
constexpr int kBays = 100;
constexpr int kRounds = 10;  // one a year, the last one reported

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

QString NewUuid() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

struct Register {
  QList<ArresterRecord> arresters;
  QList<RoundRecord> rounds;
  QList<ResultRecord> results;
};

// Values drift up slowly; every 40th arrester sharply in the last years.
Register MakeRegister() {
  Register r;
  for (int k = 0; k < kBays * 3; ++k) {
    ArresterRecord a;
    a.uuid = NewUuid();
    a.station = QStringLiteral("城南站");
    a.voltageLevel = k < kBays * 3 / 2 ? QStringLiteral("220kV") : QStringLiteral("110kV");
    a.bay = QStringLiteral("%1号间隔").arg(k / 3 + 1);
    a.phase = QString(QLatin1Char(char('A' + k % 3)));
    a.model = QStringLiteral("Y10W-200/520");
    a.serialNumber = QStringLiteral("SN-%1").arg(k, 4, 10, QLatin1Char('0'));
    a.initialMilliAmps = 0.4 + 0.001 * (k % 100);
    a.initialDate = QDate(2014, 5, 1);
    r.arresters << a;
  }
  for (int y = 0; y < kRounds; ++y) {
    RoundRecord round;
    round.uuid = NewUuid();
    round.station = QStringLiteral("城南站");
    round.date = QDate(2016 + y, 5, 10);
    round.tester = QStringLiteral("张三");
    round.instrument = QStringLiteral("钳形漏电流表");
    round.temperatureC = 22;
    round.humidityPercent = 60;
    r.rounds << round;
    for (const ArresterRecord &a : r.arresters) {
      ResultRecord result;
      result.roundUuid = round.uuid;
      result.arresterUuid = a.uuid;
      const int k = int(&a - r.arresters.constData());
      const double drift = k % 40 == 7 && y >= kRounds - 3 ? 0.2 * (y - kRounds + 4) : 0.005 * y;
      result.milliAmps = *a.initialMilliAmps * (1 + drift);
      r.results << result;
    }
  }
  return r;
}

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QTemporaryDir dir;
  const Register r = MakeRegister();
  const QString path = dir.filePath(QStringLiteral("report.pdf"));
  std::vector<double> times;
  int flagged = 0;
  for (int run = 0; run < kRuns; ++run) {
    QElapsedTimer t;
    t.start();
    const TestReport report = MakeTestReport(r.rounds.last(), r.arresters, r.rounds, r.results, Thresholds());
    QString error;
    if (!WriteTestReportPdf(report, path, &error)) {
      std::printf("report: %s\n", qPrintable(error));
      return 1;
    }
    times.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    flagged = int(report.trends.size());
    if (report.rows.size() != kBays * 3 || flagged == 0) {
      std::printf("report: %lld rows, %d trends\n", static_cast<long long>(report.rows.size()), flagged);
      return 1;
    }
  }
  std::printf("report of a round of 300 arresters (%d trends) to PDF (%lld kB): %.3f ms\n", flagged,
              static_cast<long long>(QFileInfo(path).size() / 1024), Median(times));
  return 0;
}
