// Faults end to end: a noisy line, a device that misbehaves or vanishes, a port that is gone.
// Whatever happens, the window says so, Abort ends the exchange, and nothing is reported as
// written that was not.
#include "sim_window.h"
#include "test_main.h"

#include <QLineEdit>
#include <QTemporaryDir>

using namespace tk7v;

namespace {

std::vector<std::string> stdStrings(const QStringList& list) {
    std::vector<std::string> out;
    for (const QString& s : list)
        out.push_back(s.toStdString());
    return out;
}

} // namespace

class FaultTest : public QObject, tk7v::test::SimWindow {
    Q_OBJECT

    // Presses Abort and checks that Read and Write come back (or, while identifying, that the
    // port closes), with the exchange's own ending as the last text.
    void abortAndCheck(bool identifying, bool devicePresent = true) {
        button("Button2")->click();
        form->waitForWorker();
        QCOMPARE(form->statusText(), QString("Операция отменена."));
        QCOMPARE(form->operation(), int(opIdle));
        if (identifying) {
            expectClosed(devicePresent);
        } else {
            QVERIFY(enabled("Button3") && enabled("Button4") && !enabled("Button2"));
            QVERIFY(form->isConnected());
        }
    }

private slots:
    void cleanup() { stop(); }

    void noisyLineStillCarriesTheConfiguration_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("noise before replies") << QStringList{"--noise", "9"};
        QTest::newRow("broken heads before replies") << QStringList{"--garble"};
        QTest::newRow("slow device") << QStringList{"--baud", "4800", "--turnaround", "20"};
    }
    void noisyLineStillCarriesTheConfiguration() {
        QFETCH(QStringList, args);
        start(stdStrings(args));
        connectDevice();
        read();
        QCOMPARE(form->control<QLineEdit>("CS1_phone_1")->text(), QString("8001234567"));
        form->control<QLineEdit>("CS1_phone_3")->setText("112");
        write();
        const auto memory = sim->memory();
        QVERIFY(std::equal(memory.begin(), memory.end(), form->image().begin(), form->image().end()));
        QVERIFY(dialogs.errors.isEmpty());
    }

    void identificationThatNeverComes_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("other words") << QStringList{"--ident", "HELLO TK7V", "--preamble", "tk7v v1"};
        QTest::newRow("a line that never ends") << QStringList{"--endless-ident"};
        QTest::newRow("silence") << QStringList{"--silent"};
    }
    void identificationThatNeverComes() {
        QFETCH(QStringList, args);
        start(stdStrings(args));
        button("SpeedButton1")->click();
        QTRY_VERIFY(logHas("RESET"));
        QCOMPARE(form->statusText(), QString("Подключение к устройству..."));
        QVERIFY(!enabled("Button3") && enabled("Button2"));
        abortAndCheck(true);
    }

    void repliesOutsideTheBlockAreDropped() {
        start({"--wild-replies"});
        connectDevice();
        read(); // nothing compares a reply with its command; what falls outside the block is dropped
        QVERIFY(dialogs.errors.isEmpty());
        const auto memory = sim->memory(); // the 238 bytes a read asks for
        QVERIFY(std::equal(memory.begin(), memory.begin() + 238, form->image().begin()));
    }

    void chunksNeverAcknowledgedLeaveTheDeviceUnwritten() {
        start({"--reject", "1000000"});
        connectDevice();
        const auto before = sim->memory();
        button("Button4")->click();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QString("Ошибка записи!"), 5000);
        QTRY_VERIFY(sim->log().find("REJECTED") != sim->log().rfind("REJECTED")); // retried
        abortAndCheck(false);
        QCOMPARE(sim->memory(), before);
    }

    void deviceKilled_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("button");
        QTest::newRow("identification") << QStringList{"--silent", "--die-after", "1"} << "";
        QTest::newRow("read") << QStringList{"--die-after", "4"} << "Button3";
        QTest::newRow("write") << QStringList{"--die-after", "6"} << "Button4";
    }
    void deviceKilled() {
        QFETCH(QStringList, args);
        QFETCH(QString, button);
        start(stdStrings(args));
        QStringList texts;
        QObject::connect(form.get(), &TForm1::statusChanged, this, [&](const QString& t) { texts << t; });
        if (button.isEmpty()) {
            this->button("SpeedButton1")->click();
        } else {
            connectDevice();
            form->control<QPushButton>(button)->click();
        }
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QString("Операция отменена."), 5000);
        form->waitForWorker();
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY(dialogs.errors[0].startsWith("Ошибка ввода-вывода"));
        QVERIFY(texts.contains("Ошибка: " + dialogs.errors[0]));
        QVERIFY(texts.contains("Операция не выполнена."));
        QVERIFY(!texts.contains("Операция записи выполнена успешно."));
        QVERIFY(!enabled("Button3") && !enabled("Button4") && enabled("Button2"));
        abortAndCheck(button.isEmpty(), false);
    }

    void adapterUnpluggedWhileIdleStillDisconnects() {
        start({});
        connectDevice();
        sim->kill();
        button("SpeedButton1")->click();
        QCOMPARE(dialogs.errors.size(), 1);
        QCOMPARE(form->statusText(), QString("Операция не выполнена."));
        QVERIFY(!form->isConnected());
        QVERIFY(!form->link().isOpen());
        QVERIFY(enabled("ComboBox1") && enabled("Button1"));
    }

    void somethingThatIsNoSerialPort() {
        QTemporaryDir dir;
        const std::string file = dir.filePath("notaport").toStdString();
        QFile(QString::fromStdString(file)).open(QIODevice::WriteOnly);
        portPath = [file] { return file; };
        start({});
        button("SpeedButton1")->click();
        QCOMPARE(dialogs.errors, QStringList{"Неверные установки соединения"});
        QVERIFY(!form->isConnected());
        QVERIFY(!form->link().isOpen());
        QVERIFY(!button("SpeedButton1")->isChecked());
    }

    void portPathThatVanishes() {
        QTemporaryDir dir;
        const std::string link = dir.filePath("ttyGone").toStdString();
        portPath = [link] { return link; };
        start({});
        QVERIFY(::symlink(sim->port().c_str(), link.c_str()) == 0);
        ::unlink(link.c_str());
        button("SpeedButton1")->click();
        QCOMPARE(dialogs.errors, QStringList{"Невозможно подключиться к порту sim: Порт не найден."});
        QVERIFY(!form->isConnected());
        QVERIFY(!button("SpeedButton1")->isChecked());
    }
};

TK7V_TEST_MAIN(FaultTest)
#include "fault_test.moc"
