#pragma once
// The commands of tk7v-cli, one file each. Each adds itself to the parser with its options and
// hands back what to run once the command line is parsed; main wires them.
#include "progress.h"

#include <CLI/CLI.hpp>

#include <functional>

namespace tk7v::cli {

// Exit status, as the manual lists it. A signal that ends the run gives 128 + its number.
enum Exit { kOk = 0, kDeviceFailed = 1, kUsage = 2, kFileFailed = 3 };

// What the commands share once the command line is parsed.
struct Context {
    Progress& out;
    bool quiet = false;
};

struct Command {
    CLI::App* app;
    std::function<int(Context&)> run; // the exit status
};

Command AddPortsCommand(CLI::App& program);
Command AddIdentifyCommand(CLI::App& program);
Command AddReadCommand(CLI::App& program);
Command AddWriteCommand(CLI::App& program);
Command AddVerifyCommand(CLI::App& program);
Command AddShowCommand(CLI::App& program);
Command AddDiffCommand(CLI::App& program);
Command AddSetCommand(CLI::App& program);
Command AddNewCommand(CLI::App& program);
Command AddFieldsCommand(CLI::App& program);
Command AddLedgerCommand(CLI::App& program);
#ifdef TK7V_HAVE_LABELS
Command AddLabelCommand(CLI::App& program);
#endif

} // namespace tk7v::cli
