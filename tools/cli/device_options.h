#pragma once
// The options of every command that talks to devices: the ports, the line settings, and how long
// to wait for a device and how often to offer it a refused chunk. They are taken as words and
// checked after parsing, so a refusal names the word and the values allowed.
#include "station/port_job.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <string>
#include <vector>

namespace tk7v::cli {

using station::PortJob;
using DeviceOptions = PortJob::Options;

class DeviceOptionWords {
public:
    // Adds --port and the line, time-out and retry options to the command.
    void add(CLI::App* command);
    // The ports named by --port, after those given as words before.
    std::vector<std::string> ports(std::vector<std::string> words) const;
    // The checked options, or the message of the first word refused (empty when all are good).
    std::string resolve(DeviceOptions& options) const;
    bool timeoutGiven() const { return timeoutOption_ && timeoutOption_->count() > 0; }

private:
    std::vector<std::string> ports_;
    std::string baud_ = "9600", dataBits_ = "8", parity_ = "none", stopBits_ = "1";
    std::string timeout_ = "5", retries_ = "10";
    CLI::Option* timeoutOption_ = nullptr;
};

} // namespace tk7v::cli
