#include "ui/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace tk7v {

namespace {

// Something other than a plain file where the store should be (a folder, or a pipe that would
// block the start-up until someone writes into it) is no store at all. Checked before QSettings
// is made, since making it reads the file.
QString storePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tk7vprog.ini");
}

bool usable() {
    const QFileInfo file(storePath());
    return !file.exists() || file.isFile();
}

} // namespace

UserSettings::UserSettings() {
    const QFileInfo file(storePath());
    if (file.exists() || file.isSymLink()) return;
    QDir().mkpath(file.absolutePath());
    QFile(file.absoluteFilePath()).open(QIODevice::WriteOnly);
}

void UserSettings::LoadSetting(const QString& name, int& value) {
    if (!usable()) return;
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
    if (!usable()) return;
    QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("tk7vprog"));
    store.setValue(name, QString::number(value));
    store.sync();
}

} // namespace tk7v
