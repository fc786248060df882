#pragma once
// The one setting kept between runs (the chosen port) lives in a per-user store named
// "tk7vprog": ~/.config/tk7vprog.ini here, the registry on Windows. Reads and writes never fail
// loudly: whatever goes wrong, the default stands and nothing is shown.
#include <QString>

namespace tk7v {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // value: in, the default; out, the stored value when there is a readable integer.
    virtual void LoadSetting(const QString& name, int& value) = 0;
    virtual void SaveSetting(const QString& name, int value) = 0;
};

// The store of the running user, opened afresh for every access. Making it creates the (empty)
// store when there is none, so a first run leaves it behind.
class UserSettings : public SettingsStore {
public:
    UserSettings();
    void LoadSetting(const QString& name, int& value) override;
    void SaveSetting(const QString& name, int value) override;
};

} // namespace tk7v
