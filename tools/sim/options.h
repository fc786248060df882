#pragma once
// The simulator's command line: what it is asked to be, and its usage text.
#include "faults.h"

#include <string>

namespace tk7v::sim {

struct Options {
    Options() { faults.ident = "TK7V v2.6 (simulator)"; }

    Faults faults;
    std::string memoryFile;
    std::string saveFile;
    std::string linkPath;
    std::string logFile;
    std::string timingFile;
    bool logTimes = false;
    bool bench = false;
    bool plugged = false;
    long baud = 0;
};

// Reads the arguments into `o`. False, with the reason and the usage on standard error, for
// arguments it cannot take; --help prints the usage and ends the program.
bool ParseArgs(int argc, char** argv, Options& o);

} // namespace tk7v::sim
