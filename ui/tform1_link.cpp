// The window's side of the serial link and of transfers: the port list and settings, connect
// and disconnect, the start of a worker, Abort, and the worker's hand-offs.
#include "link/port_names.h"
#include "link/system_error.h"
#include "ui/tform1.h"
#include "ui/window_host.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <utility>

namespace tk7v {

using namespace std::chrono_literals;

namespace {

// Once the port's device is gone (an adapter unplugged) the port cannot be used again, and
// only closing it lets a replugged adapter be opened.
bool deviceGone(const SysError& e) {
    return e.kind == ErrorKind::DeviceGone;
}

} // namespace

void TForm1::FillPortList(int savedIndex) {
    std::vector<std::string> names = env_.listPorts();
    if (names.empty()) names = PortListOrFallback({}, "ttyS", true);
    ComboBox1->clear();
    for (const auto& n : names)
        ComboBox1->addItem(QString::fromStdString(n));
    ComboBox1->setCurrentIndex(SelectPortIndex(savedIndex, names.size()));
}

void TForm1::Button1Click() {
    dialogs_->portSettings(this, ComboBox1->currentText(), PortConfig_);
}

void TForm1::ComboBox1Change(int) {
    SettingsRegistry->SaveSetting(QStringLiteral("ComboBox1"), ComboBox1->currentIndex());
}

void TForm1::ShowSystemError(std::uint32_t code) {
    const QString text = systemText(code);
    PostStatus(QStringLiteral("Ошибка: ") + text);
    dialogs_->error(this, text);
    PostStatus(kNotDone);
}

void TForm1::OpenCloseComm() {
    const QString name = ComboBox1->currentText();
    if (!Connected) {
        // The worker raises RTS itself; whatever the settings dialog chose, the open drops it.
        PortConfig_.rtsControl = PortConfig::RtsControl::Disable;
        const auto opened = port_.open(env_.portPath(name.toStdString()), PortConfig_);
        if (opened.stage != SerialPort::OpenResult::Opened) {
            SpeedButton1->setChecked(false);
            dialogs_->error(this, opened.stage == SerialPort::OpenResult::OpenFailed
                                      ? QStringLiteral("Невозможно подключиться к порту ") + name + ": " +
                                            systemText(opened.error.code)
                                      : QStringLiteral("Неверные установки соединения"));
            return;
        }
        SpeedButton1->setChecked(true);
        SpeedButton1->setText(QStringLiteral("&Отключиться"));
        Connected = true;
        control("Button1")->setEnabled(false);
        ComboBox1->setEnabled(false);
        starter_ = nullptr;
        StartTransfer(opConnect);
        return;
    }

    // A step that fails leaves the link connected, so the button shows it still is.
    auto failed = [&](SysError e) {
        SpeedButton1->setChecked(true);
        ShowSystemError(e.code);
        // An unplugged adapter fails every step; closing is then the only way to release it.
        if (deviceGone(e)) {
            Operation = opConnect;
            StopTransfer();
        }
    };
    if (const SysError e = port_.setRts(false)) return failed(e);
    PostStatus(QString());
    if (const SysError e = port_.purge()) return failed(e);
    const IoStatus written = port_.write(protocol::kReset);
    if (written.kind != IoStatus::Ok) return failed(MakeSysError(written.code));
    PostStatus(QStringLiteral("Операция выполнена успешно."));
    Operation = opConnect;
    try {
        StopTransfer();
    } catch (...) {
    }
}

void TForm1::retireWorker() {
    if (!Worker) return;
    // A worker that has set DoneEvent may still be handing over its last status text.
    waitForWorker();
    Worker->Join();
    Worker.reset();
}

bool TForm1::workerRunning() const {
    return Worker && !Worker->Finished();
}

void TForm1::waitForWorker() {
    if (Worker) handoffs_.runUntil([this] { return Worker->Finished(); });
}

void TForm1::StartTransfer(tk7v::Operation op) {
    retireWorker();
    port_.purge();
    DoneEvent.reset();
    Operation = op;
    if (!host_) host_ = std::make_unique<WindowHost>(*this);
    Worker = std::make_unique<TConnect>(port_, Operation, DoneEvent, *host_);
    Worker->Start([this] { handoffs_.poke(); });
    auto* abort = control("Button2");
    abort->setEnabled(true);
    abort->setFocus();
}

void TForm1::Button3Click() {
    starter_ = control("Button3");
    control("Button3")->setEnabled(false);
    control("Button4")->setEnabled(false);
    StartTransfer(opRead);
}

void TForm1::Button4Click() {
    starter_ = control("Button4");
    control("Button3")->setEnabled(false);
    control("Button4")->setEnabled(false);
    StartTransfer(opWrite);
}

void TForm1::Button2Click() {
    StopTransfer();
}

void TForm1::setClosedLinkControls() {
    Connected = false;
    control("Button3")->setEnabled(false);
    control("Button4")->setEnabled(false);
    SpeedButton1->setChecked(false);
    SpeedButton1->setText(QStringLiteral("&Подключиться"));
    ComboBox1->setEnabled(true);
    control("Button1")->setEnabled(true);
}

void TForm1::StopTransfer() {
    const int op = Operation.load();
    if (op != opConnect && op != opRead && op != opWrite) {
        disableAbort();
        Operation = opIdle;
        refocusAfterAbort();
        return;
    }
    if (workerRunning()) Worker->RequestStop();
    disableAbort();
    Operation = opIdle;
    waitForDone();
    if (op != opConnect) {
        control("Button3")->setEnabled(true);
        control("Button4")->setEnabled(true);
        refocusAfterAbort();
        return;
    }
    port_.setRts(false);
    if (port_.close()) {
        dialogs_->error(this,
                        QStringLiteral("Ошибка отключения от COM-порта ") + ComboBox1->currentText() + ":");
        return;
    }
    setClosedLinkControls();
    refocusAfterAbort();
}

void TForm1::waitForDone() {
    // Called from inside a hand-off (a conversion that failed in CollectBlock or DeliverBlock
    // presses Abort there), the worker waits for this very call to return: it sees the stop as
    // soon as the hand-off ends, and waiting here would only hold the window.
    if (handoffs_.inHandoff()) return;
    // Otherwise the hand-offs keep running while the worker finishes, so a worker that was
    // handing over a text when Abort came does not hold the window either.
    const auto deadline = std::chrono::steady_clock::now() + 3000ms;
    handoffs_.runUntil([this] { return DoneEvent.isSet(); }, deadline);
}

void TForm1::disableAbort() {
    // Disabling the focused Abort button would pass the focus on along the chain, to the Load
    // button, which a stray Space would then open. refocusAfterAbort puts it where the
    // installer expects it once the controls have settled.
    auto* abort = control("Button2");
    if (abort->hasFocus()) {
        abortHadFocus_ = true;
        abort->clearFocus();
    }
    abort->setEnabled(false);
}

void TForm1::refocusAfterAbort() {
    if (!std::exchange(abortHadFocus_, false)) return;
    for (QWidget* w : {starter_.data(), control("Button3"), static_cast<QWidget*>(ComboBox1)}) {
        if (w && w->isEnabled()) {
            w->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

TForm1::~TForm1() {
    qApp->removeEventFilter(this);
    FormDestroy();
}

void TForm1::FormDestroy() {
    if (pngTimer_) pngTimer_->stop();
    // Stop first, then release the hand-offs: a worker let out of CollectBlock must already see
    // the stop, or it would go on to write a block it never received.
    if (Worker) Worker->RequestStop();
    handoffs_.detach();
    if (Worker) Worker->Join();
    Worker.reset();
    if (port_.isOpen()) {
        port_.purge();
        port_.close();
    }
}

} // namespace tk7v
