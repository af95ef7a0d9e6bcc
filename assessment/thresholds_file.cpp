// The thresholds file in the user's config folder (see judgement.h).
#include <QDir>
#include <QSettings>
#include <cmath>

#include "assessment/judgement.h"

namespace {

constexpr double kMaxPct = 1000;

struct Key {
  const char *name;
  double Thresholds::*field;
  const char *words;  // for messages
};

const Key kKeys[] = {
    {"initial_attention_pct", &Thresholds::initialAttentionPct, "较初始值注意"},
    {"initial_abnormal_pct", &Thresholds::initialAbnormalPct, "较初始值异常"},
    {"previous_attention_pct", &Thresholds::previousAttentionPct, "较上次注意"},
    {"phase_attention_pct", &Thresholds::phaseAttentionPct, "相间注意"},
};

bool Usable(double pct) { return std::isfinite(pct) && pct > 0 && pct <= kMaxPct; }

}  // namespace

QString ThresholdsPath() {
  const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
  const QString config = xdg.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : xdg;
  return config + QStringLiteral("/arrester-monitor/judgement.ini");
}

QString CheckThresholds(const Thresholds &t) {
  for (const Key &key : kKeys)
    if (!Usable(t.*key.field))
      return QStringLiteral("%1阈值 %2 不可用(应大于 0%, 不超过 %3%)")
          .arg(QString::fromUtf8(key.words), QString::number(t.*key.field), QString::number(kMaxPct));
  if (t.initialAbnormalPct < t.initialAttentionPct)
    return QStringLiteral("较初始值异常阈值 %1% 低于注意阈值 %2%")
        .arg(QString::number(t.initialAbnormalPct), QString::number(t.initialAttentionPct));
  return QString();
}

Thresholds LoadThresholds(const QString &path, QStringList *problems) {
  const Thresholds defaults;
  Thresholds t;
  QSettings file(path, QSettings::IniFormat);
  const QString where = QDir::toNativeSeparators(path);
  if (file.status() != QSettings::NoError) {  // a half-read file is not trusted
    if (problems) *problems << QStringLiteral("%1: 文件无法读取或格式不对, 使用默认阈值").arg(where);
    return t;
  }
  for (const Key &key : kKeys) {
    const QString name = QString::fromLatin1(key.name);
    if (!file.contains(name)) continue;
    const QString text = file.value(name).toString().trimmed();
    bool ok = false;
    const double pct = text.toDouble(&ok);
    if (ok && Usable(pct)) {
      t.*key.field = pct;
    } else if (problems) {
      *problems << QStringLiteral("%1: %2 = \"%3\" 不是大于 0、不超过 %4 的数, 仍用 %5")
                       .arg(where, name, text, QString::number(kMaxPct),
                            QString::number(defaults.*key.field));
    }
  }
  if (t.initialAbnormalPct < t.initialAttentionPct) {
    if (problems)
      *problems << QStringLiteral("%1: 较初始值异常阈值 %2% 低于注意阈值 %3%, 两者仍用 %4% 和 %5%")
                       .arg(where, QString::number(t.initialAbnormalPct),
                            QString::number(t.initialAttentionPct),
                            QString::number(defaults.initialAbnormalPct),
                            QString::number(defaults.initialAttentionPct));
    t.initialAttentionPct = defaults.initialAttentionPct;
    t.initialAbnormalPct = defaults.initialAbnormalPct;
  }
  return t;
}

Thresholds LoadThresholds(const QString &path) {
  QStringList problems;
  const Thresholds t = LoadThresholds(path, &problems);
  for (const QString &problem : problems) qWarning("%s", qUtf8Printable(problem));
  return t;
}

bool SaveThresholds(const Thresholds &t, const QString &path) {
  if (!CheckThresholds(t).isEmpty()) return false;
  QSettings file(path, QSettings::IniFormat);
  for (const Key &key : kKeys) file.setValue(QString::fromLatin1(key.name), t.*key.field);
  file.sync();
  return file.status() == QSettings::NoError;
}
