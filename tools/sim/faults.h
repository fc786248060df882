#pragma once
// How a simulated ТК-7В answers: its identification and every way it can misbehave. One set serves
// the simulator's options and the tests' in-memory device, so whatever the simulator can play a
// test can ask for too. A device reads it as it goes: a change takes effect at its next command.
#include <string>
#include <vector>

namespace tk7v::sim {

struct Faults {
    std::string ident;                 // the identification line that answers RESET
    std::vector<std::string> preamble; // lines before it
    std::string stale;                 // sent after it, left on the line for the next command
    long turnaroundMs = 0;             // the device's pause before each reply (paced lines only)
    bool silent = false;               // answers nothing
    bool endlessIdent = false;         // after RESET, identification bytes without a line's end
    bool garble = false;               // broken headers before each reply
    bool wild = false;                 // data from outside the block before each read's reply
    bool shortReplies = false;         // a read's reply one byte short first, then the real one
    bool longReplies = false;          // a read's reply five bytes too long
    long rejectWrites = 0;             // the first N writes answered with data instead of "OK"
    long rejectEach = 0;               // each write refused N times in a row, then taken
    long noise = 0;                    // N bytes of noise before each reply
    long muteAfter = -1;               // answers the first N commands, then nothing
    long dieAfter = -1;                // ends after N commands, as a killed device would
    long stuckAt = -1;                 // a memory cell that always holds stuckValue
    long stuckValue = 0;
};

} // namespace tk7v::sim
