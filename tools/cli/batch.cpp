#include "batch.h"

#include "command.h"
#include "help.h"
#include "link/stop_signal.h"
#include "sha256.h"

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

namespace tk7v::cli {

namespace {

// The handler only records which signal came and raises the stop signal (an atomic flag and a
// write, both safe there); a watcher thread passes the stop on to every job.
std::atomic<int> gSignal{0};
StopSignal* gStop = nullptr;

extern "C" void onSignal(int sig) {
    int none = 0;
    gSignal.compare_exchange_strong(none, sig);
    if (gStop) gStop->request();
}

// The signals that end a run, and what was in place before.
class SignalsEndTheRun {
public:
    explicit SignalsEndTheRun(StopSignal& stop) {
        gSignal = 0;
        gStop = &stop;
        for (int sig : ending())
            previous_.push_back(std::signal(sig, onSignal));
#ifdef SIGPIPE
        // A reader that goes away must not cut the exchanges short: the write fails instead.
        pipe_ = std::signal(SIGPIPE, SIG_IGN);
#endif
    }
    ~SignalsEndTheRun() {
        std::size_t i = 0;
        for (int sig : ending())
            std::signal(sig, previous_[i++]);
#ifdef SIGPIPE
        std::signal(SIGPIPE, pipe_);
#endif
        gStop = nullptr;
    }
    static std::vector<int> ending() {
        std::vector<int> s{SIGINT, SIGTERM};
#ifdef SIGHUP
        s.push_back(SIGHUP);
#endif
#ifdef SIGBREAK
        s.push_back(SIGBREAK); // Ctrl+Break and a closed console window on Windows
#endif
        return s;
    }

private:
    using Handler = void (*)(int);
    std::vector<Handler> previous_;
    Handler pipe_ = SIG_DFL;
};

std::string signalName(int sig) {
    if (sig == SIGINT) return "Ctrl+C";
    if (sig == SIGTERM) return "сигналом SIGTERM";
#ifdef SIGHUP
    if (sig == SIGHUP) return "сигналом SIGHUP";
#endif
    return "сигналом " + std::to_string(sig);
}

// The report's word for how a device ended.
std::string outcomeOf(const PortJob& job, PortJob::Result r) {
    switch (r) {
    case PortJob::Result::Done:
        return "done";
    case PortJob::Result::Interrupted:
        return "interrupted";
    case PortJob::Result::NoAnswer:
        return "no answer";
    case PortJob::Result::Failed:
        break;
    }
    return job.verifyFailed() ? "differs" : "error";
}

// Runs one device's work, words its end and records it; a record that could not be written makes
// the device's status a file failure.
DeviceEnd runOne(PortJob& job, const DeviceWork& work, const DeviceReport& report, const ReportTo& to) {
    const auto start = std::chrono::system_clock::now();
    const PortJob::Result r = work(job);
    DeviceEnd end = report(job, r);
    if (!to.report) return end;
    ReportRecord record{job.port(),
                        job.identification(),
                        to.command,
                        end.file,
                        {},
                        start,
                        std::chrono::system_clock::now(),
                        outcomeOf(job, r),
                        r == PortJob::Result::Done ? std::string() : end.text,
                        end.differing};
    if (end.bytes) record.sha256 = Sha256Hex(*end.bytes);
    if (!to.report->add(record)) {
        end.text += "; запись в отчёт не удалась";
        if (end.status == kOk) end.status = kFileFailed;
    }
    return end;
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

DeviceEnd FailedEnd(const PortJob& job, PortJob::Result result, bool mayHoldPart) {
    DeviceEnd end{{}, kDeviceFailed, mayHoldPart, true};
    switch (result) {
    case PortJob::Result::Done:
        end.status = kOk;
        break;
    case PortJob::Result::Interrupted:
        end.text = "прервано";
        break;
    case PortJob::Result::NoAnswer: // "не отвечает (the step)"
    case PortJob::Result::Failed: {
        // The system's sentences end with a full stop; the note on the block follows after it.
        std::string error = job.error();
        while (!error.empty() && (error.back() == '.' || error.back() == ' ' || error.back() == '\n'))
            error.pop_back();
        end.text = result == PortJob::Result::NoAnswer ? error : "ошибка: " + error;
        break;
    }
    }
    if (mayHoldPart) end.text += "; устройство может хранить часть блока";
    return end;
}

namespace {

// Opens a job on every port and runs `each` on every job at once, one thread per port, while
// SIGINT, SIGTERM and SIGHUP interrupt every job. The signal that ended the run, or 0.
int RunJobs(const std::vector<Target>& ports, const DeviceOptions& options, Progress& out,
            const std::function<void(PortJob&, int line)>& each) {
    std::vector<std::string> names;
    for (const Target& t : ports)
        names.push_back(t.name);
    out.start(names);
    std::vector<std::unique_ptr<PortJob>> jobs;
    for (std::size_t i = 0; i < ports.size(); ++i)
        jobs.push_back(std::make_unique<PortJob>(ports[i].name, options, out, static_cast<int>(i)));

    StopSignal stop;
    std::atomic<bool> finished{false};
    const SignalsEndTheRun signals(stop);
    std::thread watcher([&] {
        while (!stop.waitFor(std::chrono::hours(24))) {
        }
        if (finished) return;
        for (auto& j : jobs)
            j->interrupt();
    });
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < jobs.size(); ++i)
        threads.emplace_back([&, i] { each(*jobs[i], static_cast<int>(i)); });
    for (auto& t : threads)
        t.join();
    finished = true;
    stop.request();
    watcher.join();
    return gSignal.load();
}

} // namespace

int RunOnDevices(const std::vector<Target>& ports, const DeviceOptions& options, Progress& out,
                 const DeviceWork& work, const DeviceReport& report, const ReportTo& reportTo) {
    std::vector<DeviceEnd> ends(ports.size());
    const int signal = RunJobs(ports, options, out, [&](PortJob& job, int line) {
        ends[line] = runOne(job, work, report, reportTo);
        out.finish(line, ends[line].text, ends[line].error);
    });

    std::string partial;
    for (std::size_t i = 0; i < ports.size(); ++i)
        if (ends[i].partBlock) partial += (partial.empty() ? "" : ", ") + ports[i].name;
    if (signal) {
        out.note("Прервано " + signalName(signal) + "." +
                 (partial.empty() ? "" : " Часть блока может остаться в устройствах: " + partial + "."));
        return 128 + signal;
    }
    int status = kOk;
    for (const DeviceEnd& e : ends)
        if (e.status == kDeviceFailed || (e.status == kFileFailed && status == kOk)) status = e.status;
    return status;
}

int RunStation(const std::vector<Target>& ports, const DeviceOptions& options, Progress& out,
               const DeviceWork& work, const DeviceReport& report, const ReportTo& reportTo) {
    std::atomic<int> done{0}, failed{0};
    const int signal = RunJobs(ports, options, out, [&](PortJob& job, int line) {
        for (;;) {
            out.update(line, "ждёт устройство");
            if (job.awaitDevice() != PortJob::Result::Done) return;
            const DeviceEnd end = runOne(job, work, report, reportTo);
            // A device cut short by the signal that ends the station is counted as failed:
            // it may hold part of a block.
            ++(end.status == kOk ? done : failed);
            out.finish(line, end.text + " (" + job.identification() + ")", end.error);
            out.bell();
            out.update(line, "отключите устройство");
            if (job.awaitGone() != PortJob::Result::Done) return;
        }
    });
    out.note(std::string(signal ? "Остановлено " + signalName(signal) + ". " : "") +
             "Запрограммировано устройств: " + std::to_string(done.load()) +
             ", с ошибкой: " + std::to_string(failed.load()) + ".");
    return failed > 0 ? int(kDeviceFailed) : int(kOk);
}

} // namespace tk7v::cli
