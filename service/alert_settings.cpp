#include "service/alert_settings.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>
#include <cstdio>

namespace trelvane {
namespace {

// Far more than the three settings need; a larger file is not ours.
constexpr qint64 kMaxSettingsBytes = qint64{64} * 1024;

void Complain(const QString& path, const QString& what) {
  std::fprintf(stderr, "trelvane: %s: %s; the default is used\n", qPrintable(path),
               qPrintable(what));
}

// A whole number from `low` to `high` under `key`, else `fallback` (said when the key is there).
int Bounded(const QSettings& settings, const QString& path, const char* key, int low, int high,
            int fallback) {
  if (!settings.contains(key)) return fallback;
  bool ok = false;
  const int value = settings.value(key).toString().trimmed().toInt(&ok);
  if (ok && value >= low && value <= high) return value;
  Complain(path, QStringLiteral("%1 is not a whole number from %2 to %3")
                     .arg(QString::fromLatin1(key))
                     .arg(low)
                     .arg(high));
  return fallback;
}

}  // namespace

QString AlertSettingsPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         "/trelvane/trelvane.conf";
}

AlertSettings LoadAlertSettings(const QString& path) {
  AlertSettings defaults;
  const QFileInfo file(path);
  if (!file.exists()) return defaults;
  if (!file.isFile() || !file.isReadable()) {
    Complain(path, QStringLiteral("cannot be read"));
    return defaults;
  }
  // Qt's reader passes over much that is no INI text at all: a file that is not UTF-8 text is
  // said to be malformed here.
  QFile raw(path);
  if (raw.open(QIODevice::ReadOnly)) {
    const QByteArray bytes = raw.read(kMaxSettingsBytes);
    QStringDecoder utf8(QStringDecoder::Utf8);
    // The decoding runs when its result is taken as text.
    [[maybe_unused]] const QString decoded = utf8.decode(bytes);
    if (utf8.hasError() || bytes.contains('\0') || raw.size() > kMaxSettingsBytes) {
      Complain(path, QStringLiteral("not an INI text file"));
      return defaults;
    }
  }
  QSettings settings(path, QSettings::IniFormat);
  if (settings.status() != QSettings::NoError) {
    Complain(path, settings.status() == QSettings::FormatError ? QStringLiteral("not an INI file")
                                                               : QStringLiteral("cannot be read"));
    return defaults;
  }
  settings.beginGroup("alerts");
  AlertSettings loaded = defaults;
  if (settings.contains("enabled")) {
    const QString text = settings.value("enabled").toString().trimmed().toLower();
    if (text == "true" || text == "false") {
      loaded.enabled = text == "true";
    } else {
      Complain(path, QStringLiteral("enabled is neither true nor false"));
    }
  }
  loaded.down_after = Bounded(settings, path, "down_after", 1, 60, defaults.down_after);
  loaded.degraded_threshold =
      Bounded(settings, path, "degraded_threshold", 1, 100, defaults.degraded_threshold);
  return loaded;
}

bool SaveAlertsEnabled(const QString& path, bool enabled) {
  QSettings settings(path, QSettings::IniFormat);
  settings.setValue("alerts/enabled", enabled);
  settings.sync();
  return settings.status() == QSettings::NoError;
}

}  // namespace trelvane
