#include "ui/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <memory>

namespace tk7v {

namespace {

#ifdef Q_OS_WIN
// The per-user registry key "\Software\tk7vprog"; opening it for writing creates it.
std::unique_ptr<QSettings> openStore() {
    return std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER\\Software\\tk7vprog"),
                                       QSettings::NativeFormat);
}

void createStore() {
    openStore()->sync();
}
#else
QString storePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tk7vprog.ini");
}

// Something other than a plain file where the store should be (a folder, or a pipe that would
// block the start-up until someone writes into it) is no store at all. Checked before QSettings
// is made, since making it reads the file.
std::unique_ptr<QSettings> openStore() {
    const QFileInfo file(storePath());
    if (file.exists() && !file.isFile()) return nullptr;
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("tk7vprog"));
}

void createStore() {
    const QFileInfo file(storePath());
    if (file.exists() || file.isSymLink()) return;
    QDir().mkpath(file.absolutePath());
    QFile(file.absoluteFilePath()).open(QIODevice::WriteOnly);
}
#endif

} // namespace

UserSettings::UserSettings() {
    createStore();
}

void UserSettings::LoadSetting(const QString& name, int& value) {
    const auto store = openStore();
    if (!store || store->status() != QSettings::NoError) return;
    const QVariant stored = store->value(name);
    // Only decimal text counts (REG_SZ on Windows); a list, a typed value (a REG_DWORD) or
    // letters leave the default.
    if (stored.typeId() != QMetaType::QString) return;
    bool ok = false;
    const int parsed = stored.toString().trimmed().toInt(&ok, 10);
    if (ok) value = parsed;
}

void UserSettings::SaveSetting(const QString& name, int value) {
    const auto store = openStore();
    if (!store) return;
    store->setValue(name, QString::number(value));
    store->sync();
}

} // namespace tk7v
