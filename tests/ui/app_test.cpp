// The shell: one instance per user, the setting kept between runs, the box of last resort.
#include "app/ending_signals.h"
#include "app/instance_guard.h"
#include "test_main.h"
#include "ui/settings_store.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>

#include <csignal>
#include <pwd.h>
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
    // X11 asked for, with no display to open.
    static QProcessEnvironment withoutDisplay() {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("QT_QPA_PLATFORM", "xcb");
        e.remove("DISPLAY");
        e.remove("WAYLAND_DISPLAY");
        return e;
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

    void secondInstanceHandsOverItsFileAndEnds_data() {
        QTest::addColumn<bool>("display");
        QTest::addColumn<QString>("file"); // on the second copy's command line, from its own folder
        QTest::newRow("no file") << true << "";
        QTest::newRow("no file, no display") << false << "";
        QTest::newRow("a Unicode name in its folder") << true << "объект №5.cfg";
        QTest::newRow("a name with a line break") << true << "a\nb.cfg";
    }
    void secondInstanceHandsOverItsFileAndEnds() {
        QFETCH(bool, display);
        QFETCH(QString, file);
        QTemporaryDir folder; // the second copy's working folder, not this one's
        QWidget window;
        window.showMinimized();
        int activations = 0;
        QStringList opened;
        InstanceGuard guard;
        QVERIFY(guard.lock());
        guard.listenFor(
            [&]() -> QWidget* {
                ++activations;
                return &window;
            },
            [&](const QString& path) { opened << path; });
        // A second copy ends with 0, also where it could open no display at all.
        QProcess second;
        if (!display) second.setProcessEnvironment(withoutDisplay());
        second.setWorkingDirectory(folder.path());
        second.start(TK7V_PROGRAM, file.isEmpty() ? QStringList() : QStringList{file});
        QVERIFY(second.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(activations, 1);
        QVERIFY(!window.isMinimized());
        QVERIFY(window.isVisible());
        const QStringList expected =
            file.isEmpty() ? QStringList() : QStringList{QDir(folder.path()).absoluteFilePath(file)};
        QTRY_COMPARE_WITH_TIMEOUT(opened, expected, 5000);
    }

    // An open dialog of the first instance comes forward instead of its window.
    void openDialogComesForwardInsteadOfTheWindow() {
        QWidget window;
        window.show();
        QWidget dialog(&window, Qt::Dialog);
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        ActivatePreviousInstance(&window);
        QCOMPARE(QApplication::activeModalWidget(), &dialog);
    }

    // A file handed over while a box is open waits for it, and for the next box opened at once.
    void handedFileWaitsForOpenDialogs() {
        QWidget window;
        window.show();
        QWidget box(&window, Qt::Dialog), next(&window, Qt::Dialog);
        box.setWindowModality(Qt::ApplicationModal);
        next.setWindowModality(Qt::ApplicationModal);
        box.show();
        QStringList opened;
        OpenWhenNoDialogIsOpen("/tmp/объект.cfg", [&](const QString& path) { opened << path; });
        QCoreApplication::processEvents();
        QVERIFY(opened.isEmpty());
        box.hide();
        next.show();
        QCoreApplication::processEvents();
        QVERIFY(opened.isEmpty());
        next.hide();
        QTRY_COMPARE_WITH_TIMEOUT(opened, QStringList{"/tmp/объект.cfg"}, 5000);
    }

    void firstCopyWithNoDisplaySaysSoInRussian() {
        QProcess first;
        first.setProcessEnvironment(withoutDisplay());
        first.start(TK7V_PROGRAM, {});
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 1);
        const QString err = QString::fromUtf8(first.readAllStandardError());
        QVERIFY2(err.startsWith("Конфигуратор ТК-7В: не удалось открыть экран"), qPrintable(err));
        QVERIFY2(!err.contains("plugin"), qPrintable(err)); // Qt's own English lines are held back
        // Its lock is left behind, and the next copy takes it over.
        InstanceGuard next;
        QVERIFY(next.lock());
    }

    void guardFolderIsOneOnlyTheUserCanReach_data() {
        QTest::addColumn<QString>("present"); // what is at the first choice beforehand
        QTest::addColumn<bool>("taken");      // whether the first choice is the guard's folder
        QTest::newRow("nothing: made, mode 700") << "nothing" << true;
        QTest::newRow("the user's own, mode 700") << "own 700" << true;
        QTest::newRow("the user's own, open to all") << "own 777" << false;
        QTest::newRow("the user's own, open to the group") << "own 770" << false;
        QTest::newRow("a link to a folder of the user's") << "link" << false;
        QTest::newRow("a file") << "file" << false;
        QTest::newRow("another user's, mode 700") << "other 700" << false;
        QTest::newRow("another user's, open to all") << "other 777" << false;
    }
    void guardFolderIsOneOnlyTheUserCanReach() {
        QFETCH(QString, present);
        QFETCH(bool, taken);
        if (present.startsWith("other") && ::geteuid() != 0)
            QSKIP("only root can make another user's folder");
        QTemporaryDir base;
        const QString first = base.path() + "/first", second = base.path() + "/second";
        const QByteArray name = QFile::encodeName(first);
        const mode_t mode = present.endsWith("777") ? 0777 : present.endsWith("770") ? 0770 : 0700;
        if (present.startsWith("own") || present.startsWith("other")) {
            QVERIFY(::mkdir(name.constData(), 0700) == 0 && ::chmod(name.constData(), mode) == 0);
            if (present.startsWith("other")) QVERIFY(::chown(name.constData(), 65534, 65534) == 0);
        } else if (present == "link") {
            QVERIFY(::mkdir(QFile::encodeName(base.path() + "/real").constData(), 0700) == 0);
            QVERIFY(QFile::link(base.path() + "/real", first));
        } else if (present == "file") {
            QFile f(first);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        const QString chosen = PrivateFolder({first, second});
        QCOMPARE(chosen, taken ? first : second);
        struct stat st {};
        QVERIFY(::lstat(QFile::encodeName(chosen).constData(), &st) == 0);
        QVERIFY(S_ISDIR(st.st_mode));
        QCOMPARE(st.st_mode & 0777, 0700u);
        QCOMPARE(st.st_uid, ::geteuid());
    }

    // No runtime folder, and the shared temporary folder's names taken by someone else first:
    // the lock goes under the user's home, never into the folder another user could reach.
    void guardStaysOutOfFoldersOthersMade() {
        QTemporaryDir base;
        const QString tmp = base.path() + "/tmp", cache = base.path() + "/cache";
        QVERIFY(QDir().mkpath(tmp));
        const passwd* user = ::getpwuid(::geteuid());
        QVERIFY(user);
        QFile runtime(tmp + "/runtime-" + QString::fromLocal8Bit(user->pw_name)); // Qt refuses a file
        QVERIFY(runtime.open(QIODevice::WriteOnly));
        const QByteArray shared = QFile::encodeName(tmp + QStringLiteral("/tk7v-%1").arg(::geteuid()));
        QVERIFY(::mkdir(shared, 0700) == 0 && ::chmod(shared, 0777) == 0);
        if (::geteuid() == 0) QVERIFY(::chown(shared, 65534, 65534) == 0);

        QProcess program;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.remove("XDG_RUNTIME_DIR");
        e.insert("TMPDIR", tmp);
        e.insert("XDG_CACHE_HOME", cache);
        e.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(e);
        program.start(TK7V_PROGRAM, {});
        QVERIFY(program.waitForStarted());
        const QString lock = cache + "/tk7v/" + kInstanceGuid + ".lock";
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lock), 10000);
        program.kill();
        program.waitForFinished();
        QCOMPARE(
            QDir(QFile::decodeName(shared)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
            QStringList());
    }

    // Ctrl+C, a logout or kill, a closed terminal: each reaches the window thread (which resets the
    // device and frees the port), and the handler found before, "ignore", comes back afterwards.
    // Ignored before, a signal left uncaught is missed here rather than ending the test.
    void endingSignalsReachTheWindow() {
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            const auto previous = std::signal(sig, SIG_IGN);
            int received = 0;
            {
                const EndingSignals ending([&](int s) { received = s; });
                QVERIFY(std::raise(sig) == 0);
                QTRY_COMPARE_WITH_TIMEOUT(received, sig, 5000);
            }
            QVERIFY(std::signal(sig, previous) == SIG_IGN);
        }
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
