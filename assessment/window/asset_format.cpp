#include "assessment/window/asset_format.h"

#include <QRegularExpression>

#include "archive/archive_types.h"

QString MilliAmpsText(std::optional<double> milliAmps) {
  return milliAmps ? QString::number(*milliAmps, 'f', 3) : QString();
}

QString ReadingText(ResultReading reading, std::optional<double> milliAmps) {
  switch (reading) {
    case ResultReading::Overload: return QStringLiteral("过载");
    case ResultReading::Invalid: return QStringLiteral("无效");
    case ResultReading::Value: break;
  }
  return MilliAmpsText(milliAmps);
}

QString PercentText(std::optional<double> percent) {
  if (!percent) return QString();
  const QString digits = QString::number(*percent, 'f', 1);
  return *percent >= 0 ? QLatin1Char('+') + digits : digits;
}

QString DateText(const QDate &date) {
  return date.isValid() ? date.toString(QStringLiteral("yyyy-MM-dd")) : QString();
}

QDate DateFromText(const QString &text, bool *ok) {
  const QString t = text.trimmed();
  *ok = true;
  if (t.isEmpty()) return QDate();
  for (const QString &format : {QStringLiteral("yyyy-M-d"), QStringLiteral("yyyy/M/d")}) {
    const QDate d = QDate::fromString(t, format);
    if (d.isValid()) return d;
  }
  *ok = false;
  return QDate();
}

QString SourceText(const ResultRecord &result) {
  switch (result.source) {
    case ResultSource::Download: return QStringLiteral("下载第%1组").arg(result.sourceGroup);
    case ResultSource::Recording: {
      // "median" or "median 12-40": the reading numbers the median was taken over.
      const QString span = result.sourceStatistic.section(QLatin1Char(' '), 1);
      return span.isEmpty() ? QStringLiteral("记录中位数")
                            : QStringLiteral("记录中位数(读数%1)").arg(CellText(span));
    }
    case ResultSource::Manual: break;
  }
  return QStringLiteral("手工输入");
}

QString CellText(const QString &text) { return EscapeControls(text); }

QColor VerdictColour(Verdict verdict) {
  switch (verdict) {
    case Verdict::Normal: return QColor(0xc8, 0xf0, 0xc8);
    case Verdict::Attention: return QColor(0xff, 0xd0, 0x60);
    case Verdict::Abnormal: return QColor(0xff, 0x70, 0x70);
  }
  return QColor();
}

QString FileNameText(const QString &text, const QString &fallback) {
  QString name = text;
  name.replace(QRegularExpression(QStringLiteral("[\\s\\\\/:*?\"<>|]+")), QStringLiteral("-"));
  while (name.startsWith(QLatin1Char('-')) || name.startsWith(QLatin1Char('.'))) name.remove(0, 1);
  while (name.endsWith(QLatin1Char('-'))) name.chop(1);
  return name.isEmpty() ? fallback : name;
}
