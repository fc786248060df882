// The device in the window: connect, read, edit, write, abort and disconnect against tk7v-sim,
// driving the window's own handlers.
#include "sim_window.h"
#include "test_main.h"
#include "ui/tform1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

#include <cerrno>

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
        QVERIFY(!form->port().isOpen());
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

    void valueThatCannotBeConvertedCancelsTheWriteBeforeItsFirstChunk() {
        start({});
        connectDevice();
        form->control<QLineEdit>("CS1_hand_time")->setText("x");
        button("Button4")->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialogs.errors.size(), 1, 5000);
        QCOMPARE(dialogs.errors[0],
                 QString("Ошибка при обработке данных: 'x' не является разрешённым числовым значением."));
        // Abort was pressed from inside the hand-off: its wait runs out, then the worker ends.
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QString("Операция отменена."), 6000);
        QVERIFY(enabled("Button3") && enabled("Button4") && !enabled("Button2"));
        form->waitForWorker();
        QVERIFY(sim->log().find("WRITE") == std::string::npos);
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
};

TK7V_TEST_MAIN(LinkTest)
#include "link_test.moc"
