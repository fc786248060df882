// The station's events on the window thread: each port's tile, the counts, the record table.
#include "station_window.h"

#include "window_common.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QTableWidget>
#include <QTime>

#include <algorithm>

namespace tk7v::station_window {

namespace {

PortTile* tileOf(const std::vector<std::string>& names, int port, const StationWindow& w) {
    return port >= 0 && port < static_cast<int>(names.size()) ? w.tile(QString::fromStdString(names[port]))
                                                              : nullptr;
}

} // namespace

void StationWindow::onState(int port, int state, const QString& text) {
    PortTile* t = tileOf(names_, port, *this);
    if (!t) return;
    switch (static_cast<station::PortState>(state)) {
    case station::PortState::AwaitingDevice:
        t->setState(QStringLiteral("ждёт устройство"), PortTile::Tone::Waiting);
        break;
    case station::PortState::AwaitingRemoval:
        // A failed device keeps its red tile and its reason until the next one begins: the
        // operator must not pack it with the good ones.
        if (t->tone() == PortTile::Tone::Failed) {
            t->setNote(QStringLiteral("отключите устройство"));
            return;
        }
        t->setState(QStringLiteral("отключите устройство"), PortTile::Tone::Remove);
        break;
    case station::PortState::RunOut:
        t->setState(text.isEmpty() ? QStringLiteral("строки списка кончились")
                                   : QStringLiteral("номера %1 кончились").arg(text),
                    PortTile::Tone::Idle);
        break;
    case station::PortState::RecordsKept:
        t->setState(QStringLiteral("ждёт отчёт"), PortTile::Tone::Busy);
        break;
    case station::PortState::LedgerBusy:
        t->setState(QStringLiteral("отчёт занят другой программой"), PortTile::Tone::Busy);
        t->setNote(text);
        return;
    case station::PortState::Working:
        // Between devices only a port that cannot be used says anything: why it cannot.
        if (std::find(working_.begin(), working_.end(), port) == working_.end()) {
            t->setState(QStringLiteral("порт недоступен"), PortTile::Tone::Failed);
            t->setNote(text);
        }
        return;
    }
    t->setNote({});
}

void StationWindow::onPhase(int port, int phase) {
    PortTile* t = tileOf(names_, port, *this);
    if (!t) return;
    phases_[port] = static_cast<station::Phase>(phase);
    switch (static_cast<station::Phase>(phase)) {
    case station::Phase::Connecting:
        if (std::find(working_.begin(), working_.end(), port) == working_.end()) working_.push_back(port);
        t->clearResult();
        t->setNote({});
        t->setState(QStringLiteral("подключение"), PortTile::Tone::Busy);
        break;
    case station::Phase::Writing:
        t->setState(QStringLiteral("запись 0 %"), PortTile::Tone::Busy);
        break;
    case station::Phase::Reading:
        t->setState(QStringLiteral("проверка 0 %"), PortTile::Tone::Busy);
        break;
    case station::Phase::Checking:
        t->setState(QStringLiteral("чтение устройства"), PortTile::Tone::Busy);
        break;
    }
}

void StationWindow::onShare(int port, int percent) {
    PortTile* t = tileOf(names_, port, *this);
    const auto phase = phases_.find(port);
    if (!t || phase == phases_.end() || phase->second == station::Phase::Connecting ||
        phase->second == station::Phase::Checking)
        return;
    t->setState((phase->second == station::Phase::Writing ? QStringLiteral("запись %1 %")
                                                          : QStringLiteral("проверка %1 %"))
                    .arg(percent),
                PortTile::Tone::Busy);
}

void StationWindow::onEnded(int port, const QString& text, bool ok, bool held, const QString& ident,
                            const QString& given, const QStringList& differing, bool recorded) {
    working_.erase(std::remove(working_.begin(), working_.end(), port), working_.end());
    phases_.erase(port);
    PortTile* t = tileOf(names_, port, *this);
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    // One that held its configuration already was counted when it got it.
    if (!held) ++(ok ? done_ : failed_);
    if (t) {
        QStringList detail;
        if (!ident.isEmpty()) detail << ident;
        if (!given.isEmpty()) detail << given;
        detail << time;
        if (!recorded) detail << QStringLiteral("запись в отчёт ждёт");
        t->setState(held ? QStringLiteral("уже записано")
                    : ok ? QStringLiteral("✓ записано и проверено")
                         : QStringLiteral("✗ ошибка"),
                    held ? PortTile::Tone::Remove
                    : ok ? PortTile::Tone::Done
                         : PortTile::Tone::Failed);
        t->setResult((ok ? QStringLiteral("✓ ") : QStringLiteral("✗ ")) + text,
                     detail.join(QStringLiteral(" · ")), ok);
        t->flash();
    }
    const int row = table_->rowCount();
    table_->insertRow(row);
    const QStringList cells = {
        time,  port < static_cast<int>(names_.size()) ? fromUtf8(names_[port]) : QString(),
        ident, given,
        text,  differing.join(QStringLiteral(", "))};
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        if (c == 4) item->setForeground(ok ? QColor(0x1b, 0x5e, 0x20) : QColor(0x9b, 0x1c, 0x1c));
        table_->setItem(row, c, item);
    }
    table_->scrollToBottom();
    if (env_.sound) QApplication::beep();
    QApplication::alert(this);
    updateCounts();
}

void StationWindow::onRecords(int kept, const QString& error) {
    if (kept == 0) {
        warning_->hide();
        return;
    }
    warning_->setText(
        QStringLiteral("Отчёт не записывается: %1. Записей ждут: %2; они будут дописаны, как только "
                       "файл станет доступен. Новые устройства не начинаются.")
            .arg(error)
            .arg(kept));
    warning_->show();
}

} // namespace tk7v::station_window