#pragma once
// A station run's setup, checked once for every front end: the configuration each port's device
// gets, the list or port table, the counter, where claims and records go. Either a plan that can
// run, or the issues that stop it, each with its severity; the command line prints them and
// turns them into its exit status, the window shows them in its box. Nothing is sent to a device
// before a plan is whole, so a value no device can hold exactly is refused for all of them.
#include "numbering.h"
#include "values_table.h"

#include "model/parameter_image.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tk7v::station {

struct PlanRequest {
    // What each port's device gets, in the order of `ports`; one image serves every port (the
    // window's ports come and go, so it names none).
    std::vector<std::string> ports;
    std::vector<ParameterImage> images;
    // A values table: its name for messages and its bytes; none when the name is empty.
    std::string valuesName;
    std::string valuesText;
    std::string number;      // FIELD=FIRST[-LAST]; empty: no counter
    bool loop = false;       // a station, which gives one port many devices
    bool sameValues = false; // with `loop`, a port table's row goes to each device of its port
    bool listOnly = false;   // a port table is refused (the window, whose ports come and go)
    // Where the numbers given out are kept, and the records of the devices. The ledger is the
    // report when not given.
    std::string report, ledger;
    // Whether the table's port names the command's port: null compares them as they stand.
    std::function<bool(const std::string& inTable, const std::string& port)> samePort;
};

struct PlanIssue {
    enum class Severity { Warning, Error };
    Severity severity = Severity::Error;
    std::string text;
    bool usage = false; // an error in what was asked (the command line's usage status), not a file's
};

struct Plan {
    std::vector<ParameterImage> images; // per port, with a port table's rows applied
    std::vector<ValuesRow> list;        // a list's rows, each checked against every image
    std::optional<Counter> counter;
    std::string report, ledger; // the ledger's path is the report's when none was given
    std::string listName;       // the list's file name, which a server's ledger keeps its rows under
    bool numbered() const { return !list.empty() || counter.has_value(); }
};

struct CheckedPlan {
    std::optional<Plan> plan; // none when an issue is an error
    std::vector<PlanIssue> issues;
    bool refused() const { return !plan; }
};

CheckedPlan CheckPlan(const PlanRequest& request);

} // namespace tk7v::station
