// The station's events on the window thread: each port's tile, the counts, the record table.
#include "station_window.h"

#include "window_common.h"

#include "model/field_rules.h"
#include "station/shown_text.h"

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

// The port's tile as the station has it now: the events only say that it changed.
void StationWindow::showPort(int port) {
    PortTile* t = tileOf(names_, port, *this);
    if (!t || !station_) return;
    const station::PortStatus s = station_->status(port);
    const QString why = fromUtf8(s.why);
    // A device waiting for the report has begun: the one before it is no longer the tile's.
    if (!s.last || s.state == station::PortState::RecordsKept) t->clearResult();
    t->setNote({});
    if (s.working) {
        const QString share = QString::number(std::max(s.percent, 0));
        switch (s.phase) {
        case station::Phase::Connecting:
            t->setState(QStringLiteral("подключение"), PortTile::Tone::Busy);
            break;
        case station::Phase::Checking:
            t->setState(QStringLiteral("чтение устройства"), PortTile::Tone::Busy);
            break;
        case station::Phase::Writing:
            t->setState(QStringLiteral("запись %1 %").arg(share), PortTile::Tone::Busy);
            break;
        case station::Phase::Reading:
            t->setState(QStringLiteral("проверка %1 %").arg(share), PortTile::Tone::Busy);
            break;
        }
        if (s.state != station::PortState::LedgerBusy && s.state != station::PortState::LedgerUnavailable)
            return;
    }
    switch (s.state) {
    case station::PortState::Working:
        break;
    case station::PortState::AwaitingDevice:
    case station::PortState::AwaitingRemoval: {
        const bool removal = s.state == station::PortState::AwaitingRemoval;
        const QString next =
            removal ? QStringLiteral("отключите устройство") : QStringLiteral("ждёт устройство");
        // A failed device keeps its red tile and its reason until the next one begins: the
        // operator must not pack it with the good ones.
        if (s.last && s.last->end.status != station::kDone) {
            t->setState(QStringLiteral("✗ ошибка"), PortTile::Tone::Failed);
            t->setNote(next);
        } else {
            t->setState(next, removal ? PortTile::Tone::Remove : PortTile::Tone::Waiting);
        }
        break;
    }
    case station::PortState::RunOut:
        t->setState(why.isEmpty() ? QStringLiteral("строки списка кончились")
                                  : QStringLiteral("номера «%1» кончились").arg(fromUtf8(ShownName(s.why))),
                    PortTile::Tone::Idle);
        break;
    case station::PortState::RecordsKept:
        t->setState(QStringLiteral("ждёт отчёт"), PortTile::Tone::Busy);
        t->setNote(why); // the report's failure, or the ledger's server out of reach
        break;
    case station::PortState::LedgerBusy:
        t->setState(QStringLiteral("отчёт занят другой программой"), PortTile::Tone::Busy);
        t->setNote(why);
        break;
    case station::PortState::LedgerUnavailable:
        t->setState(QStringLiteral("ждёт учёт номеров"), PortTile::Tone::Busy);
        t->setNote(why);
        break;
    case station::PortState::Unavailable:
        t->setState(QStringLiteral("порт недоступен"), PortTile::Tone::Failed);
        t->setNote(why);
        break;
    }
}

void StationWindow::onEnded(int port, const QString& text, bool ok, bool held, const QString& ident,
                            const QString& given, const QStringList& differing, bool recorded) {
    PortTile* t = tileOf(names_, port, *this);
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    if (t) {
        QStringList detail;
        if (!ident.isEmpty()) detail << ident;
        if (!given.isEmpty()) detail << given;
        detail << time;
        t->setState(held ? QStringLiteral("уже записано")
                    : ok ? QStringLiteral("✓ записано и проверено")
                         : QStringLiteral("✗ ошибка"),
                    held ? PortTile::Tone::Remove
                    : ok ? PortTile::Tone::Done
                         : PortTile::Tone::Failed);
        t->setResult((ok ? QStringLiteral("✓ ") : QStringLiteral("✗ ")) + text,
                     detail.join(QStringLiteral(" · ")), ok);
        t->setRecordWaits(!recorded);
        t->flash();
    }
    // The newest record on top: the day's last ones are in view without scrolling.
    const int row = 0;
    table_->insertRow(row);
    table_->setFocusPolicy(Qt::StrongFocus);
    const QStringList cells = {
        time,  port < static_cast<int>(names_.size()) ? fromUtf8(names_[port]) : QString(),
        ident, given,
        text,  differing.join(QStringLiteral("; "))}; // captions hold commas
    for (int c = 0; c < cells.size(); ++c) {
        // A device's line or a server's words may hold control characters: shown raw, a line
        // break makes two lines of one cell and an escape shows as nothing at all.
        const QString shown = fromUtf8(station::ControlsEscaped(utf8(cells[c])));
        auto* item = new QTableWidgetItem(shown);
        item->setToolTip(shown); // a long reason is read whole under the mouse
        if (c == 4) item->setForeground(ok ? QColor(0x1b, 0x5e, 0x20) : QColor(0x9b, 0x1c, 0x1c));
        table_->setItem(row, c, item);
    }
    if (env_.sound) QApplication::beep();
    QApplication::alert(this);
    updateCounts();
}

void StationWindow::onRecords(int kept, const QString& error) {
    if (kept == 0) {
        for (PortTile* t : tiles_)
            t->setRecordWaits(false);
        warning_->hide();
        return;
    }
    // Which records wait, from what holds them (the server's count is read without a lock; the
    // report's would wait for a port that waits for the file).
    const bool server = session_.serverWaiting() > 0;
    warning_->setText(
        (server ? QStringLiteral("Записи не переданы на сервер учёта номеров: %1. Записей ждут: %2; "
                                 "они будут переданы, как только сервер ответит. Новые устройства "
                                 "не начинаются.")
                : QStringLiteral("Отчёт не записывается: %1. Записей ждут: %2; они будут дописаны, как "
                                 "только файл станет доступен. Новые устройства не начинаются."))
            .arg(error)
            .arg(kept));
    warning_->show();
}

} // namespace tk7v::station_window