#include "batch.h"

#include "config_io.h"

#include "command.h"
#include "help.h"
#include "link/console.h"
#include "link/stop_signal.h"

#include <atomic>
#include <csignal>
#include <memory>

namespace tk7v::cli {

namespace {

// The handler only records which signal came and raises the stop signal (an atomic flag and a
// write, both safe there); a watcher thread passes the stop on to every job.
std::atomic<int> gSignal{0};
StopSignal* gStop = nullptr;

std::atomic<bool> gConsoleEnded{false};

extern "C" void onSignal(int sig) {
    int none = 0;
    gSignal.compare_exchange_strong(none, sig);
    if (gStop) gStop->request();
}

// A console window closed, a log-off or a shut-down on Windows: ended as a polite SIGTERM is.
void onConsoleEnd() {
    int none = 0;
    if (gSignal.compare_exchange_strong(none, SIGTERM)) gConsoleEnded = true;
    if (gStop) gStop->request();
}

// Holds the console's end until the run's clean end is over, whichever way the run returns.
struct ConsoleEndAfterThis {
    ~ConsoleEndAfterThis() { ConsoleEndDone(); }
};

// The signals that end a run, and what was in place before.
class SignalsEndTheRun {
public:
    explicit SignalsEndTheRun(StopSignal& stop) {
        gSignal = 0;
        gConsoleEnded = false;
        gStop = &stop;
        for (int sig : ending())
            previous_.push_back(std::signal(sig, onSignal));
        HoldConsoleEnd(onConsoleEnd);
#ifdef SIGPIPE
        // A reader that goes away must not cut the exchanges short: the write fails instead.
        pipe_ = std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
        // Nor a report that reaches the file size limit: its record fails, the run goes on.
        size_ = std::signal(SIGXFSZ, SIG_IGN);
#endif
    }
    ~SignalsEndTheRun() {
        std::size_t i = 0;
        for (int sig : ending())
            std::signal(sig, previous_[i++]);
#ifdef SIGPIPE
        std::signal(SIGPIPE, pipe_);
#endif
#ifdef SIGXFSZ
        std::signal(SIGXFSZ, size_);
#endif
        gStop = nullptr;
    }
    static std::vector<int> ending() {
        std::vector<int> s{SIGINT, SIGTERM};
#ifdef SIGHUP
        s.push_back(SIGHUP);
#endif
#ifdef SIGBREAK
        s.push_back(SIGBREAK); // Ctrl+Break on Windows
#endif
        return s;
    }

private:
    using Handler = void (*)(int);
    std::vector<Handler> previous_;
    Handler pipe_ = SIG_DFL;
    Handler size_ = SIG_DFL;
};

std::string signalName(int sig) {
    if (gConsoleEnded) return "закрытием консоли (или выходом из системы)";
    if (sig == SIGINT) return "Ctrl+C";
    if (sig == SIGTERM) return "сигналом SIGTERM";
#ifdef SIGHUP
    if (sig == SIGHUP) return "сигналом SIGHUP";
#endif
    return "сигналом " + std::to_string(sig);
}

// The terminal's lines for the station's events: progress on the port's line, the result as
// the port's device ends. A station's result names the device and rings the bell.
class ProgressLines : public station::Listener {
public:
    ProgressLines(Progress& out, bool station, std::vector<std::string> ports, LabelMaker labels)
        : out_(out), station_(station), ports_(std::move(ports)), labels_(std::move(labels)) {}
    // Whether a device's label could not be made.
    bool labelFailed() const { return labelFailed_; }

    void state(int port, station::PortState state, const std::string& text) override {
        switch (state) {
        case station::PortState::Working:
        case station::PortState::Unavailable:
        case station::PortState::LedgerUnavailable:
            return out_.update(port, text);
        case station::PortState::AwaitingDevice:
            return out_.update(port, "ждёт устройство");
        case station::PortState::AwaitingRemoval:
            return out_.update(port, "отключите устройство");
        case station::PortState::RecordsKept:
            return out_.update(port, "ждёт, пока сохранятся записи: " + text);
        case station::PortState::LedgerBusy:
            return out_.update(port, text + ": отчёт занят другой программой, ожидание");
        case station::PortState::RunOut:
            return out_.finish(
                port,
                (text.empty() ? std::string("строки списка кончились") : "номера " + text + " кончились") +
                    ", устройства больше не принимаются",
                true);
        }
    }
    void share(int port, int percent) override { out_.share(port, percent); }
    void ended(int port, const station::DeviceEnded& e) override {
        std::string text = e.end.text;
        if (e.given.row > 0) text += ", строка " + std::to_string(e.given.row);
        for (const std::string& n : e.given.numbers)
            text += ", " + n;
        if (!e.recorded) text += "; запись не сохранена";
        if (labels_ && port >= 0 && std::size_t(port) < ports_.size())
            if (const std::string failed = labels_(ports_[std::size_t(port)], e); !failed.empty()) {
                text += "; " + failed;
                labelFailed_ = true;
            }
        if (station_ && !e.identification.empty()) text += " (" + e.identification + ")";
        out_.finish(port, text, e.end.error);
        if (station_) out_.bell();
    }

private:
    Progress& out_;
    bool station_;
    std::vector<std::string> ports_;
    LabelMaker labels_;
    std::atomic<bool> labelFailed_{false};
};

std::vector<std::string> namesOf(const std::vector<Target>& ports) {
    std::vector<std::string> names;
    for (const Target& t : ports)
        names.push_back(t.name);
    return names;
}

} // namespace

void ReportOption::add(CLI::App* command) {
    command
        ->add_option("--report", path,
                     "отчёт: запись на каждое устройство, как только оно готово\n"
                     "(ФАЙЛ.jsonl — JSON Lines, ФАЙЛ.csv — CSV; дописывается)")
        ->type_name("ФАЙЛ");
}

std::optional<int> ReportOption::open(std::unique_ptr<Report>& report, Progress& out) const {
    if (path.empty()) return std::nullopt;
    if (const std::string why = NotAFile(path); !why.empty()) {
        out.note(why);
        return int(kFileFailed);
    }
    std::string error;
    report = Report::open(path, error);
    if (report) return std::nullopt;
    out.note(error);
    return int(kFileFailed);
}

std::optional<int> PrepareDevices(const CLI::App& command, const DeviceOptionWords& words,
                                  std::vector<std::string> positional, std::vector<Target>& ports,
                                  DeviceOptions& options) {
    if (const std::string refused = words.resolve(options); !refused.empty())
        return UsageError(command, refused);
    const std::vector<std::string> names = words.ports(std::move(positional));
    if (names.empty()) return UsageError(command, "не задан порт (ПОРТ или --port)");
    Targets targets = ResolvePorts(names);
    if (!targets.error.empty()) return UsageError(command, targets.error);
    ports = std::move(targets.ports);
    return std::nullopt;
}

namespace {

// Runs the station's `run` over the ports with the terminal's lines as its listener, while
// SIGINT, SIGTERM and SIGHUP ask it to stop.
template <class Run>
station::RunEnd runUnderSignals(const std::vector<Target>& ports, Progress& out, bool station,
                                const LabelMaker& labels, Run run) {
    const std::vector<std::string> names = namesOf(ports);
    out.start(names);
    ProgressLines lines(out, station, names, labels);
    StopSignal stop;
    const SignalsEndTheRun signals(stop);
    station::RunEnd end = run(names, lines, stop);
    if (lines.labelFailed() && end.status == station::kDone) end.status = station::kFileFailed;
    return end;
}

} // namespace

int RunOnDevices(const std::vector<Target>& ports, const DeviceOptions& options, Progress& out,
                 const DeviceWork& work, const DeviceReport& report, const ReportTo& reportTo,
                 const LabelMaker& labels) {
    const ConsoleEndAfterThis holdsTheConsole;
    const station::RunEnd run = runUnderSignals(ports, out, false, labels, [&](auto& names, auto& lines, auto& stop) {
        return station::RunOnDevices(names, options, lines, stop, work, report, reportTo);
    });
    if (!run.reportError.empty()) out.note("Записи не сохранены: " + run.reportError);
    if (const int signal = gSignal.load()) {
        std::string partial;
        for (const std::string& p : run.partial)
            partial += (partial.empty() ? "" : ", ") + p;
        out.note("Прервано " + signalName(signal) + "." +
                 (partial.empty() ? "" : " Часть блока может остаться в устройствах: " + partial + "."));
        return 128 + signal;
    }
    return run.status;
}

int RunStation(const std::vector<Target>& ports, const DeviceOptions& options, Progress& out,
               const DeviceWork& work, const DeviceReport& report, const ReportTo& reportTo,
               const LabelMaker& labels) {
    const ConsoleEndAfterThis holdsTheConsole;
    const station::RunEnd run = runUnderSignals(ports, out, true, labels, [&](auto& names, auto& lines, auto& stop) {
        return station::RunStation(names, options, lines, stop, work, report, reportTo);
    });
    const int signal = gSignal.load();
    if (run.unusable) return run.status;
    if (!run.reportError.empty()) out.note("Записи не сохранены: " + run.reportError);
    out.note(std::string(signal ? "Остановлено " + signalName(signal) + ". " : "") +
             "Запрограммировано устройств: " + std::to_string(run.done) +
             ", с ошибкой: " + std::to_string(run.failed) + ".");
    return run.status;
}

} // namespace tk7v::cli
