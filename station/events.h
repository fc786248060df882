#pragma once
// What the station tells its front end about each port, as data: the front end words it (the
// command line's progress and result lines, a window's tiles) and decides nothing else.
//
// A port's events come on that port's own thread, one at a time and in order; events of
// different ports may come at once, so a listener serializes what the ports share. A listener
// must not block for long: the port's exchange waits for it.
#include "model/parameter_image.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tk7v::station {

// How a device ended, by how bad it is for the run (the command line's exit statuses).
enum Status : int { kDone = 0, kDeviceFailed = 1, kFileFailed = 3 };

// How one device ended, as the command words it.
struct DeviceEnd {
    DeviceEnd() = default;
    DeviceEnd(std::string text, int status, bool partBlock, bool error = false)
        : text(std::move(text)), status(status), partBlock(partBlock), error(error) {}

    std::string text;       // the result's words; none when empty
    int status = kDone;     // a Status
    bool partBlock = false; // it may hold part of a block
    bool error = false;     // a failure, said as an error rather than as a result
    // For the report: the configuration file, the 512 bytes written or read (none when nothing
    // was), and the fields in which the device differs.
    std::string file;
    std::optional<ParameterImage> bytes;
    std::vector<std::string> differing;
    // The block read back after a write and found to match it: what the device is proven to hold,
    // for whatever is made of it afterwards (a label). None when it was not read back or differed.
    std::optional<ParameterImage> proven;
};

// What a device was given on top of the configuration: the row of a list (its number in the
// table, the header being row 1) and the numbers of a counter, "FIELD=NUMBER" each.
struct Given {
    int row = 0;           // 0: no row
    std::string rowValues; // the row's values as a ledger knows it (RowValues); empty with no row
    std::vector<std::string> numbers;
    bool any() const { return row > 0 || !numbers.empty(); }
};

enum class PortState {
    Working,           // an exchange runs; the text is the link's status, for people
    AwaitingDevice,    // a station waits until a device answers
    AwaitingRemoval,   // a station waits until the device it has done is taken away
    RunOut,            // the list or the counter has nothing left to give: the port takes no more
    RecordsKept,       // the report keeps records it cannot write yet: no device is begun; the text
                       // says why
    LedgerBusy,        // a claim or a record waits for the ledger's or the report's lock, which
                       // another program holds; the text names the file. The port's phase follows
                       // once the wait is over.
    LedgerUnavailable, // the ledger's server cannot be reached: no device is begun; the text says
                       // why, and it is tried again
    Unavailable,       // between devices, the port cannot be opened (another program holds it, this
                       // user may not): the text is the system's reason; it is tried again
};

// Which exchange of a device's work runs: each begins with the device's identification; a
// write's check reads the block back.
// Checking reads what a device that answered holds, to tell one already programmed from a new one.
enum class Phase { Connecting, Writing, Reading, Checking };

struct DeviceEnded {
    DeviceEnd end;
    std::string identification; // the device's own line; empty when it never answered
    Given given;
    bool recorded = true; // false when the report's record of it could not be written
    // The device already held what it was to be given (one programmed before, still attached):
    // nothing was written, claimed, counted or recorded.
    bool held = false;
};

// A port as the station keeps it, for a front end to show: where it stands, the exchange running
// and its share, why it cannot go on, and the last device's end until the next device begins.
struct PortStatus {
    PortState state = PortState::AwaitingDevice;
    bool working = false; // a device's exchanges run (`phase`, `percent`)
    Phase phase = Phase::Connecting;
    int percent = -1;                // of the running read or write; -1 before its first share
    std::string why;                 // the state's text: a reason, a file, a counter's field
    std::optional<DeviceEnded> last; // the last device's end; cleared when the next one begins
};

class Listener {
public:
    virtual ~Listener() = default;
    virtual void state(int port, PortState state, const std::string& text) = 0;
    // An exchange with the device begins (not the probes of a wait, which show nothing but a port
    // that cannot be used).
    virtual void phase(int /*port*/, Phase /*phase*/) {}
    // The running read or write has done `percent` (0..100); follows the state it belongs to.
    virtual void share(int port, int percent) = 0;
    virtual void ended(int port, const DeviceEnded& ended) = 0;
    // The report keeps `kept` records it could not write (0: all are written); `error` says why.
    virtual void records(std::size_t /*kept*/, const std::string& /*error*/) {}
};

} // namespace tk7v::station
