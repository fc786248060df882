// The window's side of the serial link and of transfers: the port list and settings, connect
// and disconnect, the start of a worker, Abort, and the worker's hand-offs.
#include "link/port_names.h"
#include "link/system_error.h"
#include "ui/tform1.h"
#include "ui/window_host.h"

#include <QComboBox>
#include <QPushButton>

#include <algorithm>
#include <utility>

namespace tk7v {

void TForm1::FillPortList(int savedIndex) {
    showPorts(savedIndex);
}

void TForm1::RefreshPortList() {
    showPorts(-1);
}

// savedIndex -1: keep the port shown now, by name.
void TForm1::showPorts(int savedIndex) {
    std::vector<std::string> names = env_.listPorts();
    if (names.empty()) names = PortListOrFallback({}, "ttyS", true);
    const std::string chosen = ComboBox1->currentText().toStdString();
    if (savedIndex < 0) {
        const auto found = std::find(names.begin(), names.end(), chosen);
        savedIndex = found == names.end() ? 0 : static_cast<int>(found - names.begin());
    }
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
        // The worker raises RTS itself; whatever the settings dialog chose, the open drops it,
        // and the choice shown next time is the one the port got.
        PortConfig_.rtsControl = PortConfig::RtsControl::Disable;
        const auto opened = link_->open(env_.portPath(name.toStdString()), PortConfig_);
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
        startExchange([this] { link_->identify(); });
        return;
    }

    const SysError e =
        link_->resetDevice([this](const std::string& text) { PostStatus(QString::fromStdString(text)); });
    if (e) {
        // A step that failed leaves the link connected, so the button shows it still is.
        SpeedButton1->setChecked(true);
        ShowSystemError(e.code);
        // An unplugged adapter fails every step; closing is then the only way to release it.
        if (e.kind != ErrorKind::DeviceGone) return;
    }
    disableAbort();
    showClosed(link_->close());
}

void TForm1::ReleaseDevice() {
    if (!Connected) return;
    // The exchange is stopped first, between chunks, so that RESET is the last thing the device
    // gets (an identification cut short closes the port without a word, as Abort does). No box
    // may wait for an answer here: a logout or a shutdown would be held up by it. A port the
    // reset could not reach is closed all the same.
    link_->abort();
    if (link_->isOpen()) link_->disconnect();
    if (link_->isOpen()) link_->close();
    disableAbort();
    setClosedLinkControls();
}

void TForm1::showClosed(DeviceLink::Stopped s) {
    if (s == DeviceLink::Stopped::CloseFailed)
        dialogs_->error(this,
                        QStringLiteral("Ошибка отключения от COM-порта ") + ComboBox1->currentText() + ":");
    else
        setClosedLinkControls();
    refocusAfterAbort();
}

bool TForm1::workerRunning() const {
    return link_->workerRunning();
}

void TForm1::waitForWorker() {
    link_->waitForWorker();
}

int TForm1::operation() const {
    return link_->operation();
}

void TForm1::startExchange(const std::function<void()>& start) {
    start();
    auto* abort = control("Button2");
    abort->setEnabled(true);
    abort->setFocus();
}

void TForm1::Button3Click() {
    starter_ = control("Button3");
    control("Button3")->setEnabled(false);
    control("Button4")->setEnabled(false);
    startExchange([this] { link_->read(); });
}

void TForm1::Button4Click() {
    starter_ = control("Button4");
    control("Button3")->setEnabled(false);
    control("Button4")->setEnabled(false);
    startExchange([this] { link_->write(); });
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
    disableAbort();
    const DeviceLink::Stopped s = link_->abort();
    switch (s) {
    case DeviceLink::Stopped::Nothing:
        break;
    case DeviceLink::Stopped::Transfer:
        control("Button3")->setEnabled(true);
        control("Button4")->setEnabled(true);
        break;
    case DeviceLink::Stopped::PortClosed:
    case DeviceLink::Stopped::CloseFailed:
        return showClosed(s);
    }
    refocusAfterAbort();
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

} // namespace tk7v
