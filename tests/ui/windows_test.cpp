// What only Windows has: the settings in the registry, the caption's version from the version
// resource, and system error texts with their kinds.
#include "link/system_error.h"
#include "test_main.h"
#include "ui/settings_store.h"
#include "ui/version_info.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

using namespace tk7v;

class WindowsTest : public QObject {
    Q_OBJECT

    const QString key = "HKEY_CURRENT_USER\\Software\\tk7vprog";

private slots:
    void settingsLiveInTheRegistryAsDecimalText() {
        QSettings(key, QSettings::NativeFormat).remove("");
        UserSettings store; // makes the key, empty
        QVERIFY(QSettings(key, QSettings::NativeFormat).childKeys().isEmpty());
        int value = 0;
        store.SaveSetting("ComboBox1", 2);
        store.LoadSetting("ComboBox1", value);
        QCOMPARE(value, 2);
        QCOMPARE(QSettings(key, QSettings::NativeFormat).value("ComboBox1"), QVariant(QString("2")));
        // A REG_DWORD (QSettings writes an int as one) is no decimal text: the default stands.
        QSettings(key, QSettings::NativeFormat).setValue("ComboBox1", 3);
        value = 0;
        store.LoadSetting("ComboBox1", value);
        QCOMPARE(value, 0);
    }

    // Also where the program is installed under a name the ANSI code page cannot spell (the
    // setup's folder is named in Russian).
    void captionVersionComesFromTheVersionResource() {
        QTemporaryDir dir;
        const QString installed = dir.path() + "/Конфигуратор ТК-7В ✓/tk7v.exe";
        QVERIFY(QDir().mkpath(QFileInfo(installed).path()));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), installed));
        const struct {
            QString path, version;
        } cases[] = {
            {QCoreApplication::applicationFilePath(), "1.0.0.2606"},
            {installed, "1.0.0.2606"},
            {"C:\\no\\such\\file.exe", "UNKNOWN"},
        };
        for (const auto& c : cases)
            QCOMPARE(GetVersionValue(c.path, "FileVersion"), c.version);
    }

    // (Windows-1251 through the system's converter: the worker's identification test.)
    void systemErrors() {
        QVERIFY(!SystemErrorText(5).empty()); // access denied: how Windows says a port is busy
        QCOMPARE(MakeSysError(5).kind, ErrorKind::Busy);
        QCOMPARE(MakeSysError(2).kind, ErrorKind::NotFound);
        // Our sentence goes on after the system's: no line break of the message table's, and a
        // file's failure in a file's words.
        for (const std::uint32_t code : {2u, 5u, 31u, 1117u}) {
            const std::string text = SystemErrorText(code);
            QVERIFY2(text.find_first_of("\r\n") == std::string::npos, text.c_str());
        }
        QCOMPARE(FileErrorText(3), std::string("нет такой папки или файла"));
        QCOMPARE(FileErrorText(5), std::string("доступ запрещён"));
    }
};

TK7V_TEST_MAIN(WindowsTest)
#include "windows_test.moc"
