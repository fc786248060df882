#include "ui/settings_store.h"

#include <QSettings>

namespace tk7v {


void UserSettings::LoadSetting(const QString& name, int& value) {
    QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("tk7vprog"));
    if (store.status() != QSettings::NoError) return;
    const QVariant stored = store.value(name);
    // Only decimal text counts; a list, a typed variant or letters leave the default.
    if (stored.typeId() != QMetaType::QString) return;
    bool ok = false;
    const int parsed = stored.toString().trimmed().toInt(&ok, 10);
    if (ok) value = parsed;
}

void UserSettings::SaveSetting(const QString& name, int value) {
    QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("tk7vprog"));
    store.setValue(name, QString::number(value));
    store.sync();
}

} // namespace tk7v
