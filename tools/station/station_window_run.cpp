// The station window's run: its setup checked into a plan, the station started on it, stopped
// away from the window thread, and what is left once it is over.
#include "station_window.h"

#include "event_relay.h"
#include "window_common.h"

#include "model/config_file.h"
#include "model/field_rules.h"
#include "station/plan.h"
#include "station/server_ledger.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>

namespace tk7v::station_window {

struct StationWindow::Loaded {
    std::string file;
    ParameterImage image{};
    std::vector<station::ValuesRow> list;
    std::optional<station::Counter> counter;
    std::string report, ledger, listName;
};

namespace {

// An earlier version kept each day's claims in that day's report. A ledger made now starts with
// what those reports hold, so that no number or row they gave out is given again.
QString seedLedger(const QString& ledger, const QStringList& days) {
    if (QFileInfo::exists(ledger) || days.isEmpty() || !ledger.endsWith(QLatin1String(".csv"))) return {};
    QByteArray all;
    for (const QString& day : days) {
        QFile f(day);
        if (!f.open(QIODevice::ReadOnly)) return day + QStringLiteral(": ") + f.errorString();
        QByteArray bytes = f.readAll();
        // Each report begins with its headings; the ledger keeps the first one's.
        if (!all.isEmpty()) bytes = bytes.mid(bytes.indexOf('\n') + 1);
        if (!all.isEmpty() && !all.endsWith('\n')) all += "\r\n";
        all += bytes;
    }
    QSaveFile out(ledger);
    if (!out.open(QIODevice::WriteOnly) || out.write(all) != all.size() || !out.commit())
        return ledger + QStringLiteral(": ") + out.errorString();
    return {};
}

} // namespace

QStringList EarlierDailyReports(const QString& report) {
    const QDir folder = QFileInfo(report).absoluteDir();
    QStringList days;
    for (const QString& name :
         folder.entryList({QStringLiteral("Станция ТК-7В \?\?\?\?-\?\?-\?\?.csv")}, QDir::Files, QDir::Name))
        days << folder.filePath(name);
    return days;
}

std::optional<StationWindow::Loaded> StationWindow::prepare(QString& error) const {
    Loaded l;
    l.file = utf8(file_->text());
    if (l.file.empty()) {
        error = QStringLiteral("Выберите файл конфигурации: он записывается в каждое устройство.");
        return std::nullopt;
    }
    l.image.fill(0xFF);
    const ConfigRead read = ReadConfigFile(Utf8Path(l.file));
    if (read.status != ConfigRead::Status::Loaded || !TakeConfigFile(read.contents, l.image)) {
        error = fromUtf8(l.file + ": " + ReadProblemText(read));
        return std::nullopt;
    }
    l.image = AsTheWindowBuildsIt(l.image);
    station::PlanRequest request;
    request.images = {l.image};
    request.loop = true;
    request.listOnly = true;
    if (const QString path = tablePath_->text(); !path.isEmpty()) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            error = path + QStringLiteral(": ") + f.errorString();
            return std::nullopt;
        }
        request.valuesName = utf8(path);
        request.valuesText = f.readAll().toStdString();
    }
    request.number = utf8(number_->text().trimmed());
    request.report = utf8(report_->text());
    request.ledger = utf8(ledgerPath_->text());
    if (request.report.empty()) {
        error = QStringLiteral("Укажите файл отчёта: он хранит запись о каждом устройстве.");
        return std::nullopt;
    }
    const station::CheckedPlan checked = station::CheckPlan(request);
    if (checked.refused()) {
        QStringList lines;
        for (const station::PlanIssue& issue : checked.issues)
            lines << fromUtf8(issue.text);
        error = lines.join('\n');
        return std::nullopt;
    }
    l.list = checked.plan->list;
    l.counter = checked.plan->counter;
    l.report = checked.plan->report;
    l.ledger = checked.plan->ledger;
    l.listName = checked.plan->listName;
    return l;
}

namespace {

// Opens a report or a ledger, its folder made first (a fresh profile has none); the words of a
// failure, with a hint where another program may hold the file.
std::unique_ptr<station::Report> openFile(const std::string& path, QString& error) {
    QDir().mkpath(QFileInfo(fromUtf8(path)).absolutePath());
    std::string why;
    bool held = false;
    auto file = station::Report::open(path, why, &held);
    if (!file) error = fromUtf8(why);
    // On Windows a spreadsheet that shows the report holds it, and the system says so only as
    // "access denied" or a sharing violation, which alone do not tell the technician what to do.
    if (held)
        error += QStringLiteral("\n\nВозможно, отчёт открыт в другой программе (например, в таблице): "
                                "закройте его там или выберите другой файл отчёта.");
    return file;
}

} // namespace

bool StationWindow::start() {
    if (station_ || stopping_) return false;
    QString error;
    std::optional<Loaded> l = prepare(error);
    if (l &&
        std::none_of(tiles_.begin(), tiles_.end(), [](PortTile* t) { return t->takePart()->isChecked(); }))
        error = QStringLiteral("Отметьте порты, на которых программировать устройства.");
    if (l && ledger_ && ledger_->pending() > 0 && QString::fromStdString(l->report) != reportPath_)
        error = QStringLiteral("Записи прошлого запуска ещё не записаны в отчёт %1: выберите его снова, "
                               "чтобы они были дописаны.")
                    .arg(reportPath_);
    if (l && error.isEmpty() && !(ledger_ && ledger_->pending() > 0)) {
        ledger_ = openFile(l->report, error);
        reportPath_ = fromUtf8(l->report);
    }
    // Records the server did not take in the last run go with the next one on the same ledger and
    // list, which stores them before its first claim.
    const bool serverKept = claims_ && claims_->pendingRecords() > 0;
    if (l && error.isEmpty() && serverKept && (l->ledger != claims_->name() || l->listName != claimsList_))
        error =
            QStringLiteral("Записи прошлого запуска ещё не переданы на сервер учёта номеров %1: запустите "
                           "станцию с тем же учётом и списком, чтобы они были переданы.")
                .arg(fromUtf8(claims_->name()));
    if (!serverKept) claims_.reset();
    station::PortJob::Options options;
    options.config.baudRate = baud_->currentText().toUInt();
    if (l && error.isEmpty() && station::IsServerAddress(l->ledger)) {
        // Reached by the ports' own threads, never by the window's: a server that does not answer
        // shows on the tiles.
        std::string why;
        if (!claims_) claims_ = station::OpenLedger(l->ledger, l->listName, options.timeout, why);
        claimsList_ = l->listName;
        if (!claims_) error = fromUtf8(why);
    } else if (l && error.isEmpty() && l->ledger != l->report) {
        error = seedLedger(fromUtf8(l->ledger), EarlierDailyReports(fromUtf8(l->report)));
        if (error.isEmpty()) claims_ = openFile(l->ledger, error);
    }
    if (!l || !error.isEmpty()) {
        asks_.error(this, error);
        return false;
    }
    retryTimer_->stop();
    saveSettings();
    numbering_ = std::make_unique<station::Numbering>(l->list, l->counter);
    reportTo_ = {ledger_.get(), "write", numbering_->active() ? numbering_.get() : nullptr, true};
    reportTo_.ledger = claims_ ? claims_.get() : ledger_.get();
    // A device still attached from before (a stop, a port taken out and put back, a restart) is
    // read and left alone when it holds what it would be given.
    reportTo_.recognise = true;
    const ParameterImage image = l->image;
    const std::string file = l->file;
    station_ = std::make_unique<station::Station>(
        options, *relay_, [image](station::PortJob& j) { return j.write(image, true); },
        [file](station::PortJob& j, station::PortJob::Result r) {
            return station::WriteEnd(j, r, true, file);
        },
        reportTo_);
    started_ = std::chrono::steady_clock::now();
    done_ = failed_ = 0;
    setRunning(true);
    for (PortTile* t : tiles_)
        takePart(t, t->takePart()->isChecked());
    updateCounts();
    return true;
}

void StationWindow::stop() {
    if (!station_ || stopping_) return;
    stopping_ = true;
    setRunning(true);
    station_->stop();
    // The ports end their exchanges between two commands: waited for away from the window.
    station::Station* station = station_.get();
    ender_ = std::thread([this, station] {
        lastRun_ = station->wait();
        QMetaObject::invokeMethod(
            this, [this] { finishRun(); }, Qt::QueuedConnection);
    });
}

void StationWindow::release() {
    if (!station_) return;
    station_->stop();
    if (ender_.joinable())
        ender_.join();
    else
        lastRun_ = station_->wait();
    station_.reset();
    if (ledger_) ledger_->flush(station::LockWait::Once());
}

void StationWindow::finishRun() {
    if (ender_.joinable()) ender_.join();
    relay_->drain(); // the ports' last words, shown from the station's last state
    station_.reset();
    stopping_ = false;
    done_ = lastRun_.done;
    failed_ = lastRun_.failed;
    updateCounts();
    for (PortTile* t : tiles_)
        if (t->tone() != PortTile::Tone::Done && t->tone() != PortTile::Tone::Failed)
            t->setState(t->takePart()->isChecked() ? QStringLiteral("остановлено")
                                                   : QStringLiteral("не участвует"),
                        PortTile::Tone::Idle);
    // Records the report could not take stay with the window, tried again until written.
    if (ledger_ && ledger_->pending() > 0)
        retryTimer_->start();
    else
        ledger_.reset();
    setRunning(false);
    emit runEnded();
    if (closeWhenStopped_) close();
}

} // namespace tk7v::station_window
