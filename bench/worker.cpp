// The transfer worker over the real serial layer, with no window: its exchanges against their
// lower bound, the host's turnaround seen from the device, its CPU while it waits for a silent
// device, and how soon a stop ends that wait.
#include "bench.h"

#include "link/serial_port.h"

namespace tk7v::bench {

namespace {

struct QuietHost : TransferHost {
    void PostStatus(const std::string&) override {}
    void ReportIoError(std::uint32_t code) override { std::fprintf(stderr, "I/O error %u\n", code); }
    void DeliverBlock(const Block&) override {}
    void CollectBlock(Block& b) override { b.fill(0x5A); }
    void RestoreControls() override {}
};

// One exchange on the device at `path`, from the worker's start to its end.
double RunWorker(const std::string& path, Operation op) {
    SerialPort port;
    port.open(path, PortConfig{});
    std::atomic<int> operation{op};
    ManualResetEvent done;
    QuietHost host;
    port.purge();
    const auto t0 = Clock::now();
    TConnect worker(port, operation, done, host);
    worker.Start();
    worker.Join();
    return MsSince(t0);
}

} // namespace

void WorkerFigures() {
    for (int turnaround : {0, 5})
        for (const Exchange& e : kExchanges)
            ExchangeFigures("worker", e, turnaround, Repeat(kRuns, [&] {
                                SimProcess sim(SimArgs(turnaround, {"--timing", "/dev/null"}));
                                return RunWorker(sim.port(), e.op);
                            }));
}

// Last byte of a reply to the next command, within one exchange (a fresh simulator for each, so
// no pause between exchanges counts).
void TurnaroundFigures() {
    std::vector<double> gaps;
    for (int turnaround : {0, 5})
        for (Operation op : {opRead, opWrite}) {
            SimProcess probe(SimArgs(turnaround));
            const std::string timing = (probe.dir() / "timing.txt").string();
            SimProcess timed(SimArgs(turnaround, {"--timing", timing}));
            RunWorker(timed.port(), op);
            timed.stop();
            std::ifstream in(timing);
            for (double us; in >> us;)
                gaps.push_back(us / 1000.0);
        }
    std::printf("host turnaround: median %.3f ms, 99th percentile %.3f ms over %zu replies\n",
                Percentile(gaps, 0.5), Percentile(gaps, 0.99), gaps.size());
    Report("host turnaround, 99th percentile", Percentile(gaps, 0.99), "ms", 2.0);
}

// A worker on a port whose device never answers: its CPU while it waits 5 s, and how soon a stop
// ends that wait.
void WaitingFigures() {
    SimProcess sim({"--silent"});
    SerialPort port;
    port.open(sim.port(), PortConfig{});
    QuietHost host;
    ManualResetEvent done;
    std::atomic<int> operation{opRead};
    {
        TConnect worker(port, operation, done, host);
        const double before = ProcessCpuSeconds();
        worker.Start();
        done.wait(5s);
        Report("CPU while waiting 5 s for a silent device, share of a core",
               100.0 * (ProcessCpuSeconds() - before) / 5.0, "%", 1.0);
        worker.RequestStop();
    }
    const Figures f = Stats(Repeat(20, [&] {
        done.reset();
        operation = opRead;
        TConnect worker(port, operation, done, host);
        worker.Start();
        std::this_thread::sleep_for(20ms); // let it reach its wait; the figure is the wake-up
        return TimeMs([&] {
            worker.RequestStop();
            done.wait(5s);
        });
    }));
    std::printf("stop to DoneEvent: median %.3f ms, worst %.3f ms\n", f.median, f.max);
    Report("stop to DoneEvent, worst of 20", f.max, "ms", 20);
}

} // namespace tk7v::bench
