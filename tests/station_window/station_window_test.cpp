// The station window against simulated devices on pseudo-terminals, offscreen: the list of ports
// is the test's, so a device "plugged in" is a simulator added to it.
#include "../ui/test_main.h"
#include "common/sim_process.h"
#include "common/startup_image.h"
#ifdef TK7V_SERVER_TESTS
#include "common/test_postgres.h"
#endif

#include "app/layout_mnemonics.h"
#include "model/field_rules.h"
#include "tools/station/station_window.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTableWidget>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sys/resource.h>
#include <tuple>

using namespace tk7v;
using namespace tk7v::station_window;
using tk7v::test::SimProcess;

namespace {

class FakeAsks : public Asks {
public:
    void error(QWidget*, const QString& text) override { errors << text; }
    bool confirm(QWidget*, const QString& text) override {
        questions << text;
        return yes;
    }
    QString openFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString saveFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QStringList errors, questions;
    bool yes = true;
};

std::string objectOf(const std::vector<std::uint8_t>& memory) {
    ParameterImage image{};
    std::copy_n(memory.begin(), std::min(memory.size(), image.size()), image.begin());
    for (const FieldView& f : ViewFields(image))
        if (f.field->control == "TS_object_id") return f.text;
    return {};
}

std::string bytesOf(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A station over a temporary folder: the configuration written, the report, the ports listed.
struct Bench {
    QTemporaryDir dir;
    FakeAsks asks;
    std::vector<std::string> ports;
    ParameterImage image = test::StartupImage();
    std::unique_ptr<StationWindow> window;

    explicit Bench(const QString& number = {}, const QStringList& named = {}) {
        QSettings("tk7v", "tk7v-station").clear(); // nothing remembered from another test
        SetFields(image, std::vector<std::string>{"CS1_phone_1=84951234567"}, false);
        std::ofstream(file().toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        open(StartWith{file(), named, report(), {}, number, dir.filePath("ledger.csv")});
    }
    void open(const StartWith& with) {
        window.reset();
        StationEnv env;
        env.asks = &asks;
        env.listPorts = [this] { return ports; };
        env.refresh = std::chrono::milliseconds(50);
        env.sound = false;
        window = std::make_unique<StationWindow>(with, env);
    }
    QString file() const { return dir.filePath("base.cfg"); }
    QString report() const { return dir.filePath("report.csv"); }
    PortTile* tile(const SimProcess& sim) const { return window->tile(QString::fromStdString(sim.port())); }
    QString given(int row) const { return window->records()->item(row, 3)->text(); }
};

// The ports of the tiles shown, as the grid reads: row by row, left to right.
QStringList shownInOrder(const Bench& b) {
    auto* grid = qobject_cast<QGridLayout*>(b.window->tile("COM1")->parentWidget()->layout());
    std::vector<std::tuple<int, int, QString>> places;
    for (int i = 0; grid && i < grid->count(); ++i) {
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(i, &row, &column, &rows, &columns);
        if (auto* t = qobject_cast<PortTile*>(grid->itemAt(i)->widget()))
            places.emplace_back(row, column, t->port());
    }
    std::sort(places.begin(), places.end());
    QStringList ports;
    for (const auto& place : places)
        ports << std::get<2>(place);
    return ports;
}

} // namespace

class StationWindowTest : public QObject {
    Q_OBJECT
private slots:
    // One device done, one that dies mid-write, one silent, and one plugged in while the station
    // runs: each tile says what became of its device, the numbers are given once each. The dying
    // device lasts fourteen commands: its probes and the connection take a few (more on a slow
    // machine, whose probes may go unanswered once), so it dies with chunks of the block written.
    void eachPortItsDeviceAndNumber() {
        SimProcess done({"--baud", "9600"}), dies({"--baud", "9600", "--die-after", "14"}),
            silent({"--silent"});
        // The station goes on probing the dying device's port. Held open here, its pseudo-terminal
        // keeps its number once the device is gone, instead of passing it to another test's
        // simulator, which the station would then take for a device plugged into that port.
        const int held = ::open(dies.port().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(held >= 0);
        const auto release = qScopeGuard([held] { ::close(held); });
        Bench b("TS_object_id=101-150");
        b.ports = {done.port(), dies.port(), silent.port()};
        b.window->refreshPorts();
        QVERIFY(b.window->start());
        QTRY_VERIFY_WITH_TIMEOUT(b.tile(done)->stateText() == "отключите устройство", 10000);
        QVERIFY(b.tile(done)->resultText().startsWith("✓ записано и проверено"));
        QTRY_VERIFY_WITH_TIMEOUT(b.tile(dies)->resultText().startsWith("✗"), 10000);
        QVERIFY2(b.tile(dies)->resultText().contains("может хранить часть блока"),
                 qPrintable(b.tile(dies)->resultText()));
        QCOMPARE(b.tile(dies)->tone(), PortTile::Tone::Failed); // red until the next device begins
        QCOMPARE(b.tile(silent)->stateText(), QString("ждёт устройство"));

        SimProcess late({"--baud", "9600"});
        b.ports.push_back(late.port());
        QTRY_VERIFY(b.tile(late) != nullptr);
        QVERIFY(b.tile(late)->takePart()->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(b.tile(late)->resultText().startsWith("✓"), 10000);
        QCOMPARE(b.window->done(), 2);
        QCOMPARE(b.window->failed(), 1);
        QStringList given;
        for (int row = 0; row < b.window->records()->rowCount(); ++row)
            given << b.given(row);
        given.sort();
        QCOMPARE(given, QStringList({"Номер объекта 101", "Номер объекта 102", "Номер объекта 103"}));
        // The device holds the number its record names.
        for (int row = 0; row < b.window->records()->rowCount(); ++row)
            if (b.window->records()->item(row, 1)->text().toStdString() == done.port())
                QCOMPARE("Номер объекта " + objectOf(done.memory()), b.given(row).toStdString());

        QSignalSpy ended(b.window.get(), &StationWindow::runEnded);
        b.window->stop();
        QVERIFY(ended.wait(5000));
        QVERIFY(b.asks.errors.isEmpty());
    }

    // Stop, and closing the window (asked first), in the middle of a write: whole chunks only,
    // and the device reset last.
    void stopMidWrite_data() {
        QTest::addColumn<bool>("closing");
        QTest::newRow("Stop") << false;
        QTest::newRow("closing the window") << true;
    }
    void stopMidWrite() {
        QFETCH(bool, closing);
        SimProcess sim({"--baud", "9600", "--turnaround", "30"});
        const std::vector<std::uint8_t> old = sim.memory();
        Bench b;
        b.ports = {sim.port()};
        b.window->refreshPorts();
        b.window->show();
        QVERIFY(b.window->start());
        QTRY_VERIFY_WITH_TIMEOUT(
            b.tile(sim)->stateText().startsWith("запись") && b.tile(sim)->stateText() != "запись 0 %", 10000);
        QSignalSpy ended(b.window.get(), &StationWindow::runEnded);
        if (closing) {
            QVERIFY(!b.window->close()); // asked, then closed once the ports are done
            QCOMPARE(b.asks.questions.size(), 1);
        } else {
            b.window->stop();
        }
        QVERIFY(ended.wait(5000));
        QTRY_COMPARE(b.window->isHidden(), closing);
        QTRY_VERIFY(sim.log().ends_with("RESET\n"));
        const ParameterImage fresh = AsTheWindowBuildsIt(b.image);
        QCOMPARE(test::CutChunk(sim.memory(), old, {fresh.begin(), fresh.end()}), std::string());
    }

#ifdef TK7V_SERVER_TESTS
    // A ledger server gone while a device is written: its record waits for the server and the
    // window says so in the server's words; closing asks before losing it, and the next run on the
    // same ledger stores it.
    void serverRecordsGoWithTheNextRun() {
        test::TestServer server;
        SimProcess first, second({"--baud", "2400"}); // slow enough to be written while the server goes
        Bench b(QStringLiteral("TS_object_id=101-199"));
        b.open(StartWith{
            b.file(), {}, b.report(), {}, "TS_object_id=101-199", QString::fromStdString(server.uri())});
        b.ports = {first.port()};
        b.window->refreshPorts();
        QVERIFY(b.window->start());
        QTRY_VERIFY_WITH_TIMEOUT(b.window->done() == 1, 10000);
        b.ports.push_back(second.port());
        // Claimed before its first chunk: the server goes while the chunks do.
        QTRY_VERIFY_WITH_TIMEOUT(second.log().find("WRITE") != std::string::npos, 10000);
        server.kill();
        QTRY_VERIFY_WITH_TIMEOUT(b.window->done() == 2, 10000);
        QTRY_VERIFY(b.window->recordsWarning().startsWith("Записи не переданы на сервер учёта номеров"));
        QSignalSpy ended(b.window.get(), &StationWindow::runEnded);
        b.window->stop();
        QVERIFY(ended.wait(5000));
        b.asks.yes = false;
        QVERIFY(!b.window->close());
        QVERIFY2(b.asks.questions.last().contains("не переданы записи об устройствах: 1"),
                 qPrintable(b.asks.questions.last()));
        server.startAgain();
        QVERIFY(b.window->start());
        QTRY_VERIFY_WITH_TIMEOUT(
            test::QueryValue(server.uri(), "SELECT count(*) FROM tk7v_records WHERE result = 'done'") == "2",
            10000);
        QTRY_VERIFY(b.window->recordsWarning().isEmpty());
    }
#endif

    // A report that cannot take a record: the window keeps it and says so, begins no device
    // until it is written, and writes it once the file takes it again.
    void recordsKeptUntilTheReportTakesThem() {
        std::signal(SIGXFSZ, SIG_IGN);
        SimProcess first, second, third;
        Bench b;
        b.ports = {first.port()};
        b.window->refreshPorts();
        QVERIFY(b.window->start());
        QTRY_VERIFY_WITH_TIMEOUT(b.window->done() == 1, 10000);
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit full = saved;
        full.rlim_cur = bytesOf(b.report()).size();
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &full), 0);
        b.ports.push_back(second.port());
        QTRY_VERIFY_WITH_TIMEOUT(b.window->done() == 2, 10000);
        QTRY_VERIFY(b.window->recordsWarning().contains("Записей ждут: 1"));
        QVERIFY(b.tile(second)->detailText().contains("запись ждёт сохранения"));
        b.ports.push_back(third.port());
        QTRY_VERIFY(b.tile(third) != nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(b.tile(third)->stateText(), QString("ждёт отчёт"), 5000);
        QVERIFY(third.log().empty()); // not even asked who it is
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &saved), 0);
        QTRY_VERIFY_WITH_TIMEOUT(b.window->done() == 3, 10000);
        QVERIFY(b.window->recordsWarning().isEmpty());
        QVERIFY2(!b.tile(second)->detailText().contains("ждёт"), qPrintable(b.tile(second)->detailText()));
        const std::string report = bytesOf(b.report());
        for (const SimProcess* sim : {&first, &second, &third})
            QVERIFY(report.find(sim->port()) != std::string::npos);
        std::signal(SIGXFSZ, SIG_DFL);
    }

    // Ports named on the command line are the only ones taking part: an adapter plugged in later
    // gets its tile, unchecked, so no device on it is programmed unasked.
    void onlyTheNamedPortsTakePart() {
        Bench b({}, {"ttyNAMED"});
        b.ports = {"ttyNAMED", "ttyOTHER"};
        b.window->refreshPorts();
        QVERIFY(b.window->tile("ttyNAMED")->takePart()->isChecked());
        QVERIFY(!b.window->tile("ttyOTHER")->takePart()->isChecked());
        // A port gone that takes no part folds away and comes back with the port; one that takes
        // part stays, greyed, to be seen missing.
        b.ports = {};
        b.window->refreshPorts();
        QVERIFY(b.window->tile("ttyOTHER")->isHidden());
        QVERIFY(!b.window->tile("ttyNAMED")->isHidden());
        b.window->tile("ttyNAMED")->takePart()->setChecked(false);
        QVERIFY(b.window->tile("ttyNAMED")->isHidden());
        b.ports = {"ttyOTHER"};
        b.window->refreshPorts();
        QVERIFY(!b.window->tile("ttyOTHER")->isHidden());
    }

    // A port named by its path, which the system's list does not show (a pseudo-terminal, a link a
    // udev rule made elsewhere), is there while its path is, and its device is programmed.
    void aPortByItsPathOutsideTheList() {
        SimProcess sim;
        Bench b({}, {QString::fromStdString(sim.port())});
        b.window->refreshPorts();
        QVERIFY(b.tile(sim)->present());
        QVERIFY(b.window->start());
        QTRY_VERIFY_WITH_TIMEOUT(b.window->done() == 1, 10000);
    }

    // The tiles read in the port lists' order, whatever order the system lists the ports in and
    // whenever one appears; a tile folded away leaves no gap and comes back to its own place.
    void tilesInTheListsOrder() {
        Bench b;
        b.ports = {"COM5", "COM6", "COM7", "COM1", "COM8"};
        b.window->refreshPorts();
        QCOMPARE(shownInOrder(b), QStringList({"COM1", "COM5", "COM6", "COM7", "COM8"}));
        b.ports.insert(b.ports.end(), {"COM10", "COM2"});
        b.window->refreshPorts();
        QCOMPARE(shownInOrder(b), QStringList({"COM1", "COM2", "COM5", "COM6", "COM7", "COM8", "COM10"}));
        b.ports.erase(b.ports.begin());
        b.window->refreshPorts();
        b.window->tile("COM5")->takePart()->setChecked(false);
        QCOMPARE(shownInOrder(b), QStringList({"COM1", "COM2", "COM6", "COM7", "COM8", "COM10"}));
        b.ports.push_back("COM5");
        b.window->refreshPorts();
        QCOMPARE(shownInOrder(b), QStringList({"COM1", "COM2", "COM5", "COM6", "COM7", "COM8", "COM10"}));
    }

    // What the operator is told when a run cannot begin: the file's own words, once, and what
    // the station expects.
    void whyARunCannotBegin() {
        Bench b;
        QDir(b.dir.path()).mkdir("folder.cfg");
        std::ofstream(b.dir.filePath("short.cfg").toStdString()) << std::string(100, 'x');
        const struct {
            QString file, report;
            const char* says;
        } cases[] = {
            {b.dir.filePath("folder.cfg"), b.report(), "folder.cfg: это папка, а не файл конфигурации"},
            {b.dir.filePath("short.cfg"), b.report(),
             "Неверный размер файла настроек: 100 байт (нужно 512)."},
            {b.file(), b.file() + "/r.csv", "r.csv: отчёт не открывается для записи: часть пути — не папка"},
        };
        for (const auto& c : cases) {
            b.asks.errors.clear();
            b.open(StartWith{c.file, {}, c.report, {}, {}, b.dir.filePath("ledger.csv")});
            b.ports = {"ttyNONE"};
            b.window->refreshPorts();
            QVERIFY(!b.window->start());
            QCOMPARE(b.asks.errors.size(), 1);
            QVERIFY2(b.asks.errors[0].contains(c.says), qPrintable(b.asks.errors[0]));
        }
    }

    // Closing a running station, by the cross or Ctrl+Q, asks first: "Нет" leaves it running,
    // "Да" stops it and closes. The paths it keeps are whole, for a start from another folder.
    void closingAsksFirstAndKeepsWholePaths() {
        SimProcess sim({"--silent"});
        Bench b;
        b.ports = {sim.port()};
        b.window->refreshPorts();
        QVERIFY(b.window->start());
        b.asks.yes = false;
        QVERIFY(!b.window->close());
        QCOMPARE(b.asks.questions.size(), 1);
        QVERIFY(b.window->running());
        b.asks.yes = true;
        QSignalSpy ended(b.window.get(), &StationWindow::runEnded);
        b.window->close();
        QVERIFY(ended.wait(5000));
        QCOMPARE(b.asks.questions.size(), 2);
        QTRY_VERIFY(!b.window->running());

        const QString here = QDir::currentPath();
        QDir::setCurrent(b.dir.path());
        auto back = qScopeGuard([&] { QDir::setCurrent(here); });
        b.open(StartWith{"base.cfg", {}, "report.csv", "list.csv", {}, "ledger.csv"});
        QVERIFY(b.window->close());
        const QSettings kept("tk7v", "tk7v-station");
        QCOMPARE(kept.value("file").toString(), b.file());
        // A server's address is kept as it stands.
        const QString server = QStringLiteral("postgresql://bench@ledger.example/tk7v");
        b.open(StartWith{"base.cfg", {}, "report.csv", "list.csv", {}, server});
        QVERIFY(b.window->close());
        QCOMPARE(QSettings("tk7v", "tk7v-station").value("ledger").toString(), server);
    }

    // Alt with a caption's Russian letter acts whichever layout is active: the key that bears
    // "К" types "r" in the English one.
    void mnemonicsInEitherLayout() {
        Bench b;
        LayoutMnemonics mnemonics;
        qApp->installEventFilter(&mnemonics);
        b.window->show();
        QApplication::setActiveWindow(b.window.get());
        QVERIFY(QTest::qWaitForWindowActive(b.window.get()));
        const auto alt = [](Qt::Key key, const QString& text) {
            QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), key, text, Qt::AltModifier);
            return qobject_cast<QLineEdit*>(QApplication::focusWidget());
        };
        const struct {
            Qt::Key file, number;
            const char *fileLetter, *numberLetter;
        } layouts[] = {{Qt::Key_R, Qt::Key_Y, "r", "y"}, {Qt::Key(u'К'), Qt::Key(u'Н'), "к", "н"}};
        for (const auto& l : layouts) {
            QLineEdit* number = alt(l.number, l.numberLetter); // "&Номера"
            QVERIFY(number && number->text().isEmpty());
            QLineEdit* file = alt(l.file, l.fileLetter); // "&Конфигурация"
            QVERIFY(file && file != number);
            QCOMPARE(file->text(), b.file());
        }
    }

    // A record the report could not take when the station stopped stays with the window, and
    // closing it asks before it is lost.
    void aRecordKeptAtStopIsAskedForAtClosing() {
        std::signal(SIGXFSZ, SIG_IGN);
        SimProcess sim;
        Bench b;
        b.ports = {sim.port()};
        b.window->refreshPorts();
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit full = saved;
        full.rlim_cur = 1; // not even the report's headings
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &full), 0);
        QVERIFY(b.window->start());
        QTRY_VERIFY_WITH_TIMEOUT(b.window->recordsWarning().contains("Записей ждут: 1"), 10000);
        QSignalSpy ended(b.window.get(), &StationWindow::runEnded);
        b.window->stop();
        QVERIFY(ended.wait(5000));
        QVERIFY(b.window->close()); // asked, and answered yes
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &saved), 0);
        std::signal(SIGXFSZ, SIG_DFL);
        QCOMPARE(b.asks.questions.size(), 1);
        QVERIFY(b.asks.questions[0].contains("не записаны записи"));
    }
};

TK7V_TEST_MAIN(StationWindowTest)
#include "station_window_test.moc"
