// The shell: one instance per user, the setting kept between runs, the box of last resort.
#include "app/instance_guard.h"
#include "test_main.h"
#include "ui/settings_store.h"

#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QWidget>

#include <sys/stat.h>
#include <unistd.h>

using namespace tk7v;

class AppTest : public QObject {
    Q_OBJECT

    QString settingsFile() const {
        return QSettings(QSettings::IniFormat, QSettings::UserScope, "tk7vprog").fileName();
    }
    void writeSettings(const QByteArray& text) {
        QDir().mkpath(QFileInfo(settingsFile()).path());
        QFile f(settingsFile());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }

private slots:
    void savedPortIndexRoundTrip() {
        QFile::remove(settingsFile());
        UserSettings store;
        int value = 0;
        store.LoadSetting("ComboBox1", value);
        QCOMPARE(value, 0);
        // The store exists from the start, empty until the user picks a port.
        QVERIFY(QFile::exists(settingsFile()));
        QCOMPARE(QFileInfo(settingsFile()).size(), 0);
        store.SaveSetting("ComboBox1", 2);
        store.LoadSetting("ComboBox1", value);
        QCOMPARE(value, 2);
        QFile f(settingsFile());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().contains("ComboBox1=2"));
    }

    void unusableSettingsGiveTheDefault_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("letters") << QByteArray("[General]\nComboBox1=abc\n");
        QTest::newRow("a list") << QByteArray("[General]\nComboBox1=1, 2\n");
        QTest::newRow("a typed value")
            << QByteArray("[General]\nComboBox1=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x3)\n");
        QTest::newRow("binary garbage") << QByteArray("\x01\xff[[[=\n\0\0ComboBox1", 18);
        QTest::newRow("empty") << QByteArray();
    }
    void unusableSettingsGiveTheDefault() {
        QFETCH(QByteArray, contents);
        writeSettings(contents);
        UserSettings store;
        int value = 0;
        store.LoadSetting("ComboBox1", value);
        QCOMPARE(value, 0);
    }

    void storeThatIsNoFileNeverBlocks() {
        const QString file = settingsFile(); // asked before: QSettings itself would block on the pipe
        QFile::remove(file);
        QVERIFY(::mkfifo(QFile::encodeName(file).constData(), 0600) == 0);
        UserSettings store;
        int value = 4;
        store.LoadSetting("ComboBox1", value);
        QCOMPARE(value, 4);
        store.SaveSetting("ComboBox1", 1);
        QFile::remove(file);
        QVERIFY(QDir().mkpath(file));
        store.LoadSetting("ComboBox1", value);
        QCOMPARE(value, 4);
        QDir().rmdir(file);
    }

    void unreadableStoreGivesTheDefault() {
        if (::geteuid() == 0) QSKIP("root reads any file; run as another user in CI");
        // Named before it is written: a QSettings made after would read the file while it can
        // still be read, and the process's settings cache would then answer for it.
        const QString file = settingsFile();
        writeSettings("[General]\nComboBox1=3\n");
        QFile::setPermissions(file, {});
        UserSettings store;
        int value = 0;
        store.LoadSetting("ComboBox1", value);
        QCOMPARE(value, 0);
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    }

    void fullStopRule() {
        QCOMPARE(WithFullStop("Ошибка"), QString("Ошибка."));
        QCOMPARE(WithFullStop("Ошибка."), QString("Ошибка."));
        QCOMPARE(WithFullStop("Ошибка!"), QString("Ошибка!"));
        QCOMPARE(WithFullStop("code 5"), QString("code 5."));
        QCOMPARE(WithFullStop(""), QString(""));
    }

    void secondInstanceBringsTheFirstForwardAndEnds() {
        QWidget window;
        window.showMinimized();
        int activations = 0;
        InstanceGuard guard;
        QVERIFY(guard.lock());
        guard.listenFor([&]() -> QWidget* {
            ++activations;
            return &window;
        });
        // A second copy ends with 0, also where it could open no display at all.
        for (const bool display : {true, false}) {
            QProcess second;
            if (!display) {
                QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
                e.insert("QT_QPA_PLATFORM", "xcb");
                e.remove("DISPLAY");
                e.remove("WAYLAND_DISPLAY");
                second.setProcessEnvironment(e);
            }
            second.start(TK7V_PROGRAM, {});
            QVERIFY(second.waitForStarted());
            QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
            QCOMPARE(second.exitStatus(), QProcess::NormalExit);
            QCOMPARE(second.exitCode(), 0);
        }
        QCOMPARE(activations, 2);
        QVERIFY(!window.isMinimized());
        QVERIFY(window.isVisible());

        // An open dialog of the first instance comes forward instead of its window.
        QWidget dialog(&window, Qt::Dialog);
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        ActivatePreviousInstance(&window);
        QCOMPARE(QApplication::activeModalWidget(), &dialog);
    }

    void guardIsFreeAgainOnceReleased() {
        {
            InstanceGuard first;
            QVERIFY(first.lock());
            InstanceGuard second;
            QVERIFY(!second.lock());
        }
        InstanceGuard next;
        QVERIFY(next.lock());
    }
};

TK7V_TEST_MAIN(AppTest)
#include "app_test.moc"
