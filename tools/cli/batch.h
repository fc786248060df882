#pragma once
// Runs one job per device, all at once, one thread each. Each device's result is printed the
// moment that device ends. Ctrl+C, SIGTERM and SIGHUP (a closed terminal, `timeout`, a service
// manager) all end the run the same way: every exchange stops between two commands, each device
// is reset and its port closed, and the batch ends with 128 + the signal's number.
#include "device_options.h"
#include "port_job.h"
#include "progress.h"
#include "report.h"
#include "targets.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tk7v::cli {

// How one device ended, as the command words it.
struct DeviceEnd {
    DeviceEnd() = default;
    DeviceEnd(std::string text, int status, bool partBlock, bool error = false)
        : text(std::move(text)), status(status), partBlock(partBlock), error(error) {}

    std::string text;       // the result line after "PORT: "; none when empty
    int status = 0;         // the exit status this device alone would give
    bool partBlock = false; // it may hold part of a block
    bool error = false;     // a failure, said on standard error rather than as a result
    // For the report: the configuration file, the 512 bytes written or read (none when nothing
    // was), and the fields in which the device differs.
    std::string file;
    std::optional<ParameterImage> bytes;
    std::vector<std::string> differing;
};

// --report FILE of the commands that read or write devices.
struct ReportOption {
    std::string path;
    void add(CLI::App* command);
    // Opens the report when one was asked for. The exit status after a message, or nullopt.
    std::optional<int> open(std::unique_ptr<Report>& report, Progress& out) const;
};

// Where the devices' records go (no report: null) and the command they are of.
struct ReportTo {
    Report* report = nullptr;
    std::string command;
};

using DeviceWork = std::function<PortJob::Result(PortJob&)>;
// Runs on the device's own thread when its job has ended; may print more lines (through
// Progress) before its result line.
using DeviceReport = std::function<DeviceEnd(PortJob&, PortJob::Result)>;

// The batch's exit status: 128 + the signal that ended it; else 1 when a device failed, 3 when
// only a file did, 0 when everything was done.
int RunOnDevices(const std::vector<Target>& ports, const DeviceOptions& options, Progress& out,
                 const DeviceWork& work, const DeviceReport& report, const ReportTo& reportTo = {});

// A programming station: on every port at once, again and again, wait until a device answers,
// run `work` and `report` on it, ring the terminal's bell with its result, and wait until it is
// gone. A signal ends it cleanly; then the counts of devices done and failed. 0 when none failed.
int RunStation(const std::vector<Target>& ports, const DeviceOptions& options, Progress& out,
               const DeviceWork& work, const DeviceReport& report, const ReportTo& reportTo);

// The ports and options of a device command, checked before anything is sent. The exit status
// after the message has been printed, or nullopt when `ports` and `options` are ready.
std::optional<int> PrepareDevices(const CLI::App& command, const DeviceOptionWords& words,
                                  std::vector<std::string> positional, std::vector<Target>& ports,
                                  DeviceOptions& options);

// The result words of a job that did not end as it should: "прервано", "не отвечает", the
// error, and the note on part of a block where a write was cut short.
DeviceEnd FailedEnd(const PortJob& job, PortJob::Result result, bool mayHoldPart);

} // namespace tk7v::cli
