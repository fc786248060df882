// The device in the window: connect, read, edit, write, abort and disconnect against tk7v-sim,
// driving the window's own handlers.
#include "app/ending_signals.h"
#include "sim_window.h"
#include "test_main.h"
#include "ui/tform1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <unistd.h>

using namespace tk7v;
using tk7v::test::FakeDialogs;

class LinkTest : public QObject, tk7v::test::SimWindow {
    Q_OBJECT

private slots:
    void cleanup() { stop(); }

    void connectReadEditWriteDisconnect() {
        start({"--ident", "TK7V v2.6 sim"});
        connectDevice();
        QCOMPARE(form->statusText(), QString("Установлена связь c устройством: TK7V v2.6 sim"));
        QCOMPARE(button("SpeedButton1")->text(), QString("&Отключиться"));
        QVERIFY(button("SpeedButton1")->isChecked());
        QVERIFY(!enabled("ComboBox1") && !enabled("Button1") && !enabled("Button2") && enabled("Button4"));

        button("Button3")->click();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QString("Операция чтения выполнена успешно."), 5000);
        form->waitForWorker();
        QCOMPARE(form->control<QLineEdit>("CS1_phone_1")->text(), QString("8001234567"));
        QCOMPARE(form->control<QLineEdit>("CS1_dial_each_n")->text(), QString("2"));
        QVERIFY(enabled("Button3") && enabled("Button4") && !enabled("Button2"));
        QVERIFY(
            std::all_of(form->image().begin() + 238, form->image().end(), [](auto b) { return b == 0xFF; }));

        form->control<QLineEdit>("CS1_phone_2")->setText("8 (495) 123-45-67");
        button("Button4")->click();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QString("Операция записи выполнена успешно."), 5000);
        form->waitForWorker();
        const auto memory = sim->memory();
        QVERIFY(std::equal(memory.begin(), memory.end(), form->image().begin(), form->image().end()));
        QCOMPARE(memory[40], 8);
        QCOMPARE(memory[41], 4);

        button("SpeedButton1")->click();
        QCOMPARE(form->statusText(), QString("Операция выполнена успешно."));
        expectClosed();
        QTRY_VERIFY(sim->log().ends_with("RESET\n"));
    }

    void abortDuringIdentificationClosesWithoutSending() {
        start({"--silent"});
        button("SpeedButton1")->click();
        QVERIFY(enabled("Button2"));
        QCOMPARE(form->operation(), int(opConnect));
        QTRY_COMPARE(sim->log(), std::string("RESET\n"));
        QElapsedTimer t;
        t.start();
        button("Button2")->click();
        QVERIFY(t.elapsed() < 1000);
        form->waitForWorker();
        QCOMPARE(form->statusText(), QString("Операция отменена."));
        QCOMPARE(form->operation(), int(opIdle));
        expectClosed();
        QCOMPARE(sim->log(), std::string("RESET\n"));
    }

    void abortDuringReadAndWriteKeepsThePortOpen_data() {
        QTest::addColumn<QString>("which");
        QTest::newRow("read") << "Button3";
        QTest::newRow("write") << "Button4";
    }
    void abortDuringReadAndWriteKeepsThePortOpen() {
        QFETCH(QString, which);
        start({"--mute-after", "3"}); // identifies, answers two commands, then falls silent
        connectDevice();
        const ParameterImage image = form->image();
        const auto memory = sim->memory();
        form->control<QPushButton>(which)->click();
        QTRY_VERIFY(sim->log().find(which == "Button3" ? "READ 26 @034" : "WRITE 26 @034") !=
                    std::string::npos);
        QElapsedTimer t;
        t.start();
        button("Button2")->click();
        QVERIFY2(t.elapsed() < 500, "Read and Write come back at once");
        QVERIFY(enabled("Button3") && enabled("Button4") && !enabled("Button2"));
        form->waitForWorker();
        QCOMPARE(form->statusText(), QString("Операция отменена."));
        QVERIFY(form->isConnected());
        QCOMPARE(form->operation(), int(opIdle));
        // Nothing half-read reached the window; nothing beyond the three chunks sent reached the
        // device.
        if (which == "Button3") QVERIFY(form->image() == image);
        QVERIFY(std::equal(memory.begin() + 78, memory.end(), sim->memory().begin() + 78));
    }

    void deviceLostDuringReadThenAbortThenDisconnect() {
        start({"--die-after", "3"});
        connectDevice();
        button("Button3")->click();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QString("Операция отменена."), 5000);
        form->waitForWorker();
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY(dialogs.errors[0].startsWith("Ошибка ввода-вывода"));
        QVERIFY(!enabled("Button3") && !enabled("Button4") && enabled("Button2"));
        QCOMPARE(form->operation(), int(opRead));
        QElapsedTimer t;
        t.start();
        button("Button2")->click();
        QVERIFY(t.elapsed() < 500);
        QVERIFY(enabled("Button3") && enabled("Button4") && !enabled("Button2"));
        // The adapter is gone: the disconnect reports why and still releases the port.
        button("SpeedButton1")->click();
        QCOMPARE(dialogs.errors.size(), 2);
        QCOMPARE(form->statusText(), QString("Операция не выполнена."));
        QVERIFY(!form->isConnected());
        QCOMPARE(button("SpeedButton1")->text(), QString("&Подключиться"));
        QVERIFY(!form->link().isOpen());
    }

    void busyPortIsRefused() {
        start({});
        SerialPort other;
        QCOMPARE(other.open(sim->port(), PortConfig{}).stage, SerialPort::OpenResult::Opened);
        button("SpeedButton1")->click();
        QCOMPARE(dialogs.errors,
                 QStringList{"Невозможно подключиться к порту sim: Порт занят другой программой."});
        QVERIFY(!button("SpeedButton1")->isChecked());
        QVERIFY(enabled("ComboBox1") && enabled("Button1"));
        QCOMPARE(form->statusText(), QString());
        QVERIFY(!form->isConnected());
    }

    void disconnectDuringReadEndsCancelled() {
        start({"--mute-after", "2"});
        connectDevice();
        button("Button3")->click();
        QTRY_VERIFY(sim->log().find("READ 26 @01A") != std::string::npos);
        button("SpeedButton1")->click();
        form->waitForWorker();
        QCOMPARE(form->statusText(), QString("Операция отменена."));
        expectClosed();
    }

    void closingTheWindowDuringATransferIsClean() {
        start({"--mute-after", "2"});
        connectDevice();
        button("Button4")->click();
        QTRY_VERIFY(sim->log().find("WRITE") != std::string::npos);
        QElapsedTimer t;
        t.start();
        form.reset();
        QVERIFY(t.elapsed() < 1000);
    }

    // On a port that holds written bytes until they have crossed the line, whichever way the
    // user stops a write, the chunk on its way arrives whole and the device answers afterwards.
    void everyStopDuringAWriteLeavesWholeChunks_data() {
        QTest::addColumn<QString>("stop");
        QTest::addColumn<bool>("midReply");
        for (const char* stop : {"abort", "disconnect", "close", "SIGTERM"}) {
            QTest::newRow(QByteArray(stop) + ", a chunk on the line") << stop << false;
            QTest::newRow(QByteArray(stop) + ", the device answering") << stop << true;
        }
    }
    void everyStopDuringAWriteLeavesWholeChunks() {
        QFETCH(QString, stop);
        QFETCH(bool, midReply);
        start({"--baud", "9600"}); // the window's speed: a chunk takes 34 ms on the line
        connectDevice();
        const auto old = sim->memory();
        form->control<QLineEdit>("TS_object_id")->setText("4321");
        button("Button4")->click();
        if (midReply)
            QTRY_VERIFY(logHas("WRITE 26 @034"));
        else // the third chunk or a later one has been handed over
            QTRY_VERIFY(form->statusText().startsWith("Запись данных... ") &&
                        form->statusText().mid(17).chopped(1).toInt() >= 15);
        const ParameterImage fresh = form->image(); // taken from the controls at the first chunk
        if (stop == "SIGTERM") {                    // a logout, a shutdown, kill: RESET last, the port free
            const EndingSignals ending([&](int) { form->ReleaseDevice(); });
            ::kill(::getpid(), SIGTERM);
            QTRY_VERIFY_WITH_TIMEOUT(sim->log().ends_with("RESET\n"), 5000);
            expectClosed();
            connectDevice();
        } else if (stop == "abort") {
            button("Button2")->click();
            read(); // the next exchange starts on a purged port
        } else if (stop == "disconnect") {
            // The disconnect sends RESET before it stops the worker, which may still send one
            // whole chunk after it.
            button("SpeedButton1")->click();
            form->waitForWorker();
            QTRY_VERIFY_WITH_TIMEOUT(sim->log().find("RESET\n", 6) != std::string::npos, 5000);
            connectDevice();
        } else {
            openWindow();
            connectDevice();
        }
        const auto memory = sim->memory();
        QCOMPARE(tk7v::test::CutChunk(memory, old, {fresh.begin(), fresh.end()}), std::string());
        QVERIFY(std::search(memory.begin(), memory.end(), "RESET", "RESET" + 5) == memory.end());
    }

    // The file gets what the window showed when Save was pressed, though a read delivers the
    // device's block while the file dialog is open.
    void saveHoldsWhatTheWindowShowedAtTheClick() {
        start({});
        connectDevice();
        form->control<QLineEdit>("TS_object_id")->setText("4321");
        QVERIFY(form->BuildImage());
        const ParameterImage shown = form->image();
        const QString file = QDir(QString::fromStdString(sim->dir().string())).filePath("shown.cfg");
        dialogs.fileToReturn = file;
        dialogs.onFileChosen = [&] {
            button("Button3")->click();
            QTRY_COMPARE(form->statusText(), QString("Операция чтения выполнена успешно."));
        };
        form->BitBtn1Click();
        QFile saved(file);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray(reinterpret_cast<const char*>(shown.data()), 512));
        QVERIFY(form->image() != shown); // the read did deliver meanwhile
    }

    void valueThatCannotBeConvertedCancelsTheWriteBeforeItsFirstChunk() {
        start({});
        connectDevice();
        form->control<QLineEdit>("CS1_hand_time")->setText("x");
        QElapsedTimer held;
        dialogs.onError = [&] { held.start(); };
        button("Button4")->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialogs.errors.size(), 1, 5000);
        QCOMPARE(dialogs.errors[0],
                 QString("Ошибка при обработке данных: 'x' не является разрешённым числовым значением."));
        // Abort was pressed from inside the hand-off: the window does not wait for the worker
        // that waits for it, and the worker ends as soon as the hand-off returns.
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QString("Операция отменена."), 6000);
        QVERIFY(held.elapsed() < 1000);
        QVERIFY(enabled("Button3") && enabled("Button4") && !enabled("Button2"));
        form->waitForWorker();
        QVERIFY(sim->log().find("WRITE") == std::string::npos);
    }

    void abortInTheLastPauseOfAReadIsAtOnceAndAppliesNothing() {
        start({});
        connectDevice();
        qint64 held = -1;
        QObject::connect(form.get(), &TForm1::statusChanged, this, [&](const QString& t) {
            if (t != "Чтение данных... 100%") return;
            QTimer::singleShot(20, this, [&] {
                QElapsedTimer timer;
                timer.start();
                button("Button2")->click();
                held = timer.elapsed();
            });
        });
        button("Button3")->click();
        QTRY_VERIFY_WITH_TIMEOUT(held >= 0, 5000);
        form->waitForWorker();
        QVERIFY2(held < 100, qPrintable(QString::number(held)));
        QCOMPARE(form->statusText(), QString("Операция отменена."));
        QCOMPARE(form->control<QLineEdit>("CS1_phone_1")->text(), QString()); // the block stayed out
        QVERIFY(enabled("Button3") && enabled("Button4") && !enabled("Button2"));
    }

    void readHoldsOnlyWhatTheDeviceSentForEachByte_data() {
        QTest::addColumn<QStringList>("fault");
        QTest::newRow("stale data reply") << QStringList{"--stale", "xa0EC=\x07\r"};
        QTest::newRow("stale OK") << QStringList{"--stale", "OK"};
        QTest::newRow("wild replies") << QStringList{"--wild-replies"};
        QTest::newRow("short replies") << QStringList{"--short-replies"};
        QTest::newRow("long replies") << QStringList{"--long-replies"};
        QTest::newRow("late OK of an aborted write") << QStringList{"--turnaround", "100"};
    }
    void readHoldsOnlyWhatTheDeviceSentForEachByte() {
        QFETCH(QStringList, fault);
        std::vector<std::string> args{"--baud", "9600"};
        for (const QString& a : fault)
            args.push_back(a.toStdString());
        for (int round = 0; round < 1; ++round) {
            start(args);
            connectDevice();
            if (fault.contains("--turnaround")) {
                // Abort while a chunk waits for its "OK", then read at once: the "OK" comes late.
                button("Button4")->click();
                QTRY_VERIFY(logHas("WRITE 26 @000"));
                button("Button2")->click();
            }
            read();
            const auto memory = sim->memory();
            QVERIFY(std::equal(memory.begin(), memory.begin() + 238, form->image().begin()));
            stop();
        }
    }

    void deviceTextIsWindows1251AndPlain() {
        start({"--ident", "TK7V <b>\xC2\xE5\xF0\xF1\xE8\xFF</b> &lt;x&gt;"});
        connectDevice();
        const QString shown = "Установлена связь c устройством: TK7V <b>Версия</b> &lt;x&gt;";
        QCOMPARE(form->statusText(), shown);
        QCOMPARE(form->control("StatusBar1")->toolTip(), shown);
        for (auto* label : form->control("StatusBar1")->findChildren<QLabel*>())
            QCOMPARE(label->textFormat(), Qt::PlainText);
    }

    void focusAfterAnExchangeStaysOffTheLoadButton() {
        start({});
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCOMPARE(button("SpeedButton1")->focusPolicy(), Qt::NoFocus);
        connectDevice();
        QCOMPARE(QApplication::focusWidget(), form->control("Button3"));
        for (const char* starter : {"Button3", "Button4"}) {
            QTest::keyClick(button(starter), Qt::Key_Return); // Enter presses the focused button
            QCOMPARE(QApplication::focusWidget(), form->control("Button2"));
            QTRY_VERIFY_WITH_TIMEOUT(enabled(starter), 5000);
            form->waitForWorker();
            QCOMPARE(QApplication::focusWidget(), form->control(starter));
        }
        button("Button3")->click();
        button("Button2")->click();
        QCOMPARE(QApplication::focusWidget(), form->control("Button3"));
    }

    void portSettingsApplyAtTheNextOpenWithRtsFlowOff() {
        start({});
        dialogs.onPortSettings = [](PortConfig& c) {
            c.baudRate = 19200;
            c.rtsControl = PortConfig::RtsControl::Handshake;
            return true;
        };
        button("Button1")->click();
        QCOMPARE(form->portConfig().baudRate, 19200u);
        connectDevice();
        QCOMPARE(form->portConfig().rtsControl, PortConfig::RtsControl::Disable);
        QCOMPARE(form->portConfig().baudRate, 19200u);
    }

    void savedPortIndexIsUsedOnTheNextStart() {
        dialogs = FakeDialogs();
        TForm1Environment env;
        env.dialogs = &dialogs;
        env.listPorts = [] { return std::vector<std::string>{"ttyS0", "ttyUSB0", "ttyTK7V"}; };
        {
            TForm1 first(env);
            auto* box = first.control<QComboBox>("ComboBox1");
            QCOMPARE(box->currentIndex(), 0);
            box->setCurrentIndex(2);
            first.ComboBox1Change(2);
        }
        QCOMPARE(
            QSettings(QSettings::IniFormat, QSettings::UserScope, "tk7vprog").value("ComboBox1").toString(),
            QString("2"));
        TForm1 second(env);
        QCOMPARE(second.control<QComboBox>("ComboBox1")->currentText(), QString("ttyTK7V"));
        env.listPorts = [] { return std::vector<std::string>{"ttyS0"}; };
        TForm1 fewer(env);
        QCOMPARE(fewer.control<QComboBox>("ComboBox1")->currentIndex(), 0);
    }

    // An adapter plugged in or pulled out after the start: the list is read again as it opens.
    void portListIsReadAgainWhenOpened() {
        dialogs = FakeDialogs();
        std::vector<std::string> ports{"ttyS0", "ttyUSB0"};
        TForm1Environment env;
        env.dialogs = &dialogs;
        env.listPorts = [&] { return ports; };
        TForm1 window(env);
        window.show();
        auto* box = window.control<QComboBox>("ComboBox1");
        box->setCurrentIndex(1);
        window.ComboBox1Change(1);
        // (ports now, the one chosen after the list is opened)
        for (const auto& [now, chosen] :
             {std::pair{std::vector<std::string>{"ttyACM0", "ttyS1", "ttyUSB0"}, "ttyUSB0"},
              std::pair{std::vector<std::string>{"ttyACM0"}, "ttyACM0"}}) {
            ports = now;
            box->showPopup();
            box->hidePopup();
            QCOMPARE(box->count(), int(now.size()));
            QCOMPARE(box->itemText(box->count() - 1), QString::fromStdString(now.back()));
            QCOMPARE(box->currentText(), QString(chosen));
            QCOMPARE(QSettings(QSettings::IniFormat, QSettings::UserScope, "tk7vprog").value("ComboBox1"),
                     QVariant("1"));
        }
        QSettings(QSettings::IniFormat, QSettings::UserScope, "tk7vprog").remove("ComboBox1");
    }
};

TK7V_TEST_MAIN(LinkTest)
#include "link_test.moc"
