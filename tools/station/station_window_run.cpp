// The station window's run: its setup checked into a plan, the station started on it, stopped
// away from the window thread, and what is left once it is over.
#include "link/config_read.h"
#include "station_window.h"

#include "event_relay.h"
#include "window_common.h"

#include "model/config_file.h"
#include "model/field_rules.h"
#include "model/file_texts.h"
#include "station/plan.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>

namespace tk7v::station_window {

struct StationWindow::Loaded {
    std::string file;
    ParameterImage image{};
    station::Plan plan;
};

std::optional<StationWindow::Loaded> StationWindow::prepare(QString& error) const {
    Loaded l;
    l.file = utf8(file_->text());
    if (l.file.empty()) {
        error = QStringLiteral("Выберите файл конфигурации: он записывается в каждое устройство.");
        return std::nullopt;
    }
    l.image.fill(0xFF);
    const ConfigRead read = ReadConfigOpened(Utf8Path(l.file));
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
        // Decided on the file opened, which is opened without waiting: a device or a pipe would be
        // read without end, or hold the open itself.
        std::error_code failed;
        const std::optional<std::string> text = ReadTextOpened(Utf8Path(utf8(path)), failed);
        if (!text) {
            error =
                path + QStringLiteral(": ") +
                (failed == std::errc::no_such_device ? QStringLiteral("это не файл, а устройство или канал")
                                                     : fromUtf8(texts::FileErrorReason(failed)));
            return std::nullopt;
        }
        request.valuesName = utf8(path);
        request.valuesText = *text;
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
    l.plan = *checked.plan;
    return l;
}

bool StationWindow::start() {
    if (station_ || stopping_) return false;
    QString error;
    std::optional<Loaded> l = prepare(error);
    if (l &&
        std::none_of(tiles_.begin(), tiles_.end(), [](PortTile* t) { return t->takePart()->isChecked(); }))
        error = QStringLiteral("Отметьте порты, на которых программировать устройства.");
    station::PortJob::Options options;
    options.config.baudRate = baud_->currentText().toUInt();
    // Reached by the ports' own threads, never by the window's: a server that does not answer
    // shows on the tiles.
    station::SessionProblem problem;
    if (l && error.isEmpty() && !session_.open(l->plan, {options.timeout, true, {}}, problem)) {
        error = fromUtf8(problem.text);
        // On Windows a spreadsheet that shows the report holds it, and the system says so only as
        // "access denied" or a sharing violation, which alone do not tell the technician what to do.
        if (problem.held)
            error += QStringLiteral("\n\nВозможно, отчёт открыт в другой программе (например, в таблице): "
                                    "закройте его там или выберите другой файл отчёта.");
    }
    if (!l || !error.isEmpty()) {
        asks_.error(this, error);
        return false;
    }
    retryTimer_->stop();
    saveSettings();
    // A device still attached from before (a stop, a port taken out and put back, a restart) is
    // read and left alone when it holds what it would be given.
    const station::ReportTo to = session_.reportTo("write", true, true);
    const ParameterImage image = l->image;
    const std::string file = l->file;
    station_ = std::make_unique<station::Station>(
        options, *relay_, [image](station::PortJob& j) { return j.write(image, true); },
        [file](station::PortJob& j, station::PortJob::Result r) {
            return station::WriteEnd(j, r, true, file);
        },
        to);
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
    session_.flushReport(station::LockWait::Once());
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
    if (session_.reportWaiting() > 0) retryTimer_->start();
    // Lines of the ledger that held no record are said once the ports are done with it (asked
    // earlier, the window could wait for a port that waits for the file).
    if (const std::string passedOver = session_.passedOverText(); !passedOver.empty() && warning_->isHidden()) {
        warning_->setText(fromUtf8(passedOver));
        warning_->show();
    }
    session_.settle();
    setRunning(false);
    emit runEnded();
    if (closeWhenStopped_) close();
}

} // namespace tk7v::station_window
