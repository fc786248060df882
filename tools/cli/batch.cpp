#include "batch.h"

#include "command.h"
#include "help.h"
#include "link/stop_signal.h"

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

} // namespace

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

int RunOnDevices(const std::vector<Target>& ports, const DeviceOptions& options, Progress& out,
                 const DeviceWork& work, const DeviceReport& report) {
    std::vector<std::string> names;
    for (const Target& t : ports)
        names.push_back(t.name);
    out.start(names);
    std::vector<std::unique_ptr<PortJob>> jobs;
    for (std::size_t i = 0; i < ports.size(); ++i)
        jobs.push_back(std::make_unique<PortJob>(ports[i].name, options, out, static_cast<int>(i)));
    std::vector<DeviceEnd> ends(jobs.size());

    StopSignal stop;
    std::atomic<bool> finished{false};
    int signal = 0;
    {
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
            threads.emplace_back([&, i] {
                PortJob& job = *jobs[i];
                ends[i] = report(job, work(job));
                out.finish(static_cast<int>(i), ends[i].text, ends[i].error);
            });
        for (auto& t : threads)
            t.join();
        finished = true;
        stop.request();
        watcher.join();
        signal = gSignal.load();
    }

    std::string partial;
    for (std::size_t i = 0; i < jobs.size(); ++i)
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

} // namespace tk7v::cli
