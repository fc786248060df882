#pragma once
// The window wired to a tk7v-sim of its own, with dialogs that answer at once.
#include "../common/sim_process.h"
#include "fake_dialogs.h"
#include "ui/tform1.h"

#include <QPushButton>
#include <QTest>

namespace tk7v::test {

struct SimWindow {
    FakeDialogs dialogs;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TForm1> form;
    std::function<std::string()> portPath; // default: the simulator's port

    void start(std::vector<std::string> simArgs) {
        dialogs = FakeDialogs();
        sim = std::make_unique<SimProcess>(std::move(simArgs));
        openWindow();
    }
    // A new window on the same simulator.
    void openWindow() {
        form.reset();
        TForm1Environment env;
        env.dialogs = &dialogs;
        env.listPorts = [] { return std::vector<std::string>{"sim"}; };
        env.portPath = [this](const std::string&) { return portPath ? portPath() : sim->port(); };
        form = std::make_unique<TForm1>(env);
        form->show();
    }
    void stop() {
        form.reset();
        sim.reset();
        portPath = nullptr;
    }
    QPushButton* button(const char* name) const { return form->control<QPushButton>(name); }
    bool enabled(const char* name) const { return form->control(name)->isEnabled(); }
    bool logHas(const std::string& text) const { return sim->log().find(text) != std::string::npos; }

    void connectDevice() {
        button("SpeedButton1")->click();
        QTRY_VERIFY_WITH_TIMEOUT(form->statusText().startsWith("Установлена связь c устройством: "), 5000);
        QTRY_VERIFY(enabled("Button3"));
    }
    // Reads (or writes) the device with the window's button and waits for the exchange's end.
    void read() { exchange("Button3", "Операция чтения выполнена успешно."); }
    void write() { exchange("Button4", "Операция записи выполнена успешно."); }
    void exchange(const char* which, const char* done) {
        button(which)->click();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), QString(done), 10000);
        form->waitForWorker();
    }
    // devicePresent: the simulator still serves the port, so another program can take it.
    void expectClosed(bool devicePresent = true) {
        QVERIFY(!form->isConnected());
        QCOMPARE(button("SpeedButton1")->text(), QString("&Подключиться"));
        QVERIFY(!button("SpeedButton1")->isChecked());
        QVERIFY(enabled("ComboBox1") && enabled("Button1"));
        QVERIFY(!enabled("Button3") && !enabled("Button4") && !enabled("Button2"));
        if (!devicePresent) return;
        SerialPort other; // the port is free for another program
        QCOMPARE(other.open(sim->port(), PortConfig{}).stage, SerialPort::OpenResult::Opened);
    }
};

} // namespace tk7v::test
