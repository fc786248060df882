#pragma once
// A QtTest main that runs offscreen and gives the test its own settings and runtime folders, so
// tests never see (or touch) the user's.
#include <QApplication>
#include <QTemporaryDir>
#include <QTest>


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
        TestClass tc;                                                                                        \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
