#pragma once
// A bench: the port stays while devices are plugged and unplugged at the cable's end, as where the
// USB adapter stays and devices are changed. At most one device is plugged; devices are numbered
// 1, 2, … in the order they were first plugged, and one unplugged keeps its memory (a device keeps
// its configuration without power) until it is plugged again. One thread at a time; the plugged
// device is the bench's, shared with whoever carries its bytes while it is plugged.
#include "device.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tk7v::sim {

class Bench {
public:
    // The outcome of a change: the line that acknowledges it ("plugged N", "unplugged N"), or
    // "error" with the reason in `why`.
    struct Ack {
        std::string line;
        std::string why;
    };

    // Every device starts with `initial` and answers as `faults` says (which must outlive the
    // bench). With a `savePattern`, device N's memory is kept in the file it names with "{n}" as N.
    Bench(const Memory& initial, const Faults& faults, std::string savePattern = {});

    // The plugged device, or none.
    const std::shared_ptr<Device>& device() const { return device_; }
    // Counts the devices plugged and unplugged so far: a carrier of bytes starts afresh when it moves.
    int changes() const { return changes_; }
    // The plugged device's number, or the last one's (0 before the first).
    int number() const { return number_; }

    // Plugs device `number` back, or a new one (the next number) for 0.
    Ack plug(int number = 0);
    // The device is gone with all it had not sent.
    Ack unplug();
    // One line of a bench's commands: "plug", "plug N", "unplug"; nothing for an empty line.
    std::optional<Ack> command(std::string text);
    // What device `number` holds now, plugged or not.
    Memory memoryOf(int number) const;
    void save() const;

    // Where plugging and unplugging are recorded ("PLUG N", "UNPLUG N"), when set.
    std::function<void(const std::string&)> note;

private:
    static Ack Refuse(std::string why) { return {"error", std::move(why)}; }
    void record(const std::string& line) const {
        if (note) note(line);
    }

    const Memory initial_;
    const Faults& faults_;
    const std::string savePattern_;
    std::shared_ptr<Device> device_;
    int number_ = 0; // the plugged device's, or the last one's
    int count_ = 0;  // devices made so far
    int changes_ = 0;
    std::map<int, Memory> kept_;
};

} // namespace tk7v::sim
