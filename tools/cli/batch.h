#pragma once
// The device commands' runs on the station: each device's progress and result shown as the
// station reports them, each result printed the moment its device ends. Ctrl+C, SIGTERM and
// SIGHUP (a closed terminal, `timeout`, a service manager) all stop the station the same way, and
// the run ends with 128 + the signal's number.
#include "device_options.h"
#include "labels_out.h"
#include "progress.h"
#include "station/run.h"
#include "targets.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tk7v::cli {

using station::DeviceEnd;
using station::PortJob;
using station::Report;

// --report FILE of the commands that read or write devices.
struct ReportOption {
    std::string path;
    void add(CLI::App* command);
    // Opens the report when one was asked for. The exit status after a message, or nullopt.
    std::optional<int> open(std::unique_ptr<Report>& report, Progress& out) const;
};

using station::DeviceReport;
using station::DeviceWork;
using station::ReportTo;

// The batch's exit status: 128 + the signal that ended it; else 1 when a device failed, 3 when
// only a file did (a label among them), 0 when everything was done. `labels`, when given, makes
// each proven device's label as it ends; a label that failed is said on the device's line.
int RunOnDevices(const std::vector<Target>& ports, const DeviceOptions& options, Progress& out,
                 const DeviceWork& work, const DeviceReport& report, const ReportTo& reportTo = {},
                 const LabelMaker& labels = {});

// A programming station: on every port at once, again and again, wait until a device answers,
// run `work` and `report` on it, ring the terminal's bell with its result, and wait until it is
// gone. A signal ends it cleanly; then the counts of devices done and failed. 0 when none failed.
int RunStation(const std::vector<Target>& ports, const DeviceOptions& options, Progress& out,
               const DeviceWork& work, const DeviceReport& report, const ReportTo& reportTo,
               const LabelMaker& labels = {});

// The ports and options of a device command, checked before anything is sent. The exit status
// after the message has been printed, or nullopt when `ports` and `options` are ready.
std::optional<int> PrepareDevices(const CLI::App& command, const DeviceOptionWords& words,
                                  std::vector<std::string> positional, std::vector<Target>& ports,
                                  DeviceOptions& options);

using station::FailedEnd;

} // namespace tk7v::cli
