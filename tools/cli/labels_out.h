#pragma once
// The labels of the devices a command has done: --label FOLDER (a PDF each) or --printer NAME,
// at --label-size. Qt is started only when one is asked for, so the other commands and runs
// never pay for it.
#include "station/events.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace tk7v::cli {

// Any port's thread, once a device has ended: makes its label when its block was read back and
// proven (nothing for any other); what failed, in words, empty when nothing did.
using LabelMaker = std::function<std::string(const std::string& port, const station::DeviceEnded& ended)>;

struct LabelOptions {
    std::string folder, printer, size;
    std::vector<std::string> fields;
    void add(CLI::App* command);
    bool wanted() const { return !folder.empty() || !printer.empty(); }
    // Checks the words and readies the drawing (main thread): the usage error's words, or empty
    // with `maker` set when labels were asked for.
    std::string prepare(LabelMaker& maker) const;
};

} // namespace tk7v::cli
