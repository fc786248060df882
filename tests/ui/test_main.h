#pragma once
// A QtTest main that runs offscreen and gives the test its own settings and runtime folders, so
// tests never see (or touch) the user's. On Windows the settings are the registry key, which a
// test run (in Wine's own prefix) starts and leaves empty.
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#define TK7V_CLEAR_SETTINGS()                                                                                \
    QSettings("HKEY_CURRENT_USER\\Software\\tk7vprog", QSettings::NativeFormat).remove("")
#else
#define TK7V_CLEAR_SETTINGS()
#endif

#define TK7V_TEST_MAIN(TestClass)                                                                            \
    int main(int argc, char** argv) {                                                                        \
        QTemporaryDir home;                                                                                  \
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");          \
        qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());                                 \
        qputenv("XDG_RUNTIME_DIR", (home.path() + "/runtime").toLocal8Bit());                                \
        QDir().mkpath(home.path() + "/runtime");                                                             \
        QFile::setPermissions(home.path() + "/runtime",                                                      \
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);     \
        QApplication app(argc, argv);                                                                        \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        TK7V_CLEAR_SETTINGS();                                                                               \
        TestClass tc;                                                                                        \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        const int failed = QTest::qExec(&tc, argc, argv);                                                    \
        TK7V_CLEAR_SETTINGS();                                                                               \
        return failed;                                                                                       \
    }
