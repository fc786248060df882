#pragma once
// What a command says, and where. Results (each device's end, show, diff, verify differences)
// go to standard output; errors, warnings and the progress of the exchanges to standard error,
// so a script reading the results never sees a progress line. -q drops the progress only.
//
// Progress is one line per port. On a terminal the lines are redrawn in place, each cut to the
// terminal's width, and a device's line gives way to its result when it ends. Elsewhere (a pipe,
// a log file) a line is written when a device's state changes and, of a read or a write, only
// its first step and the steps that pass a quarter, so a log holds a handful of lines a device.
//
// Every call may come from any thread; lines are never torn.
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tk7v::cli {

// The two streams and what is known about them.
struct Streams {
    std::function<bool(std::string_view)> out; // standard output; false when the write failed
    std::function<bool(std::string_view)> err;
    bool outTerminal = false;
    bool errTerminal = false;
    std::function<int()> columns; // the error terminal's width (0: unknown)

    // The process's own standard output and error.
    static Streams Standard();
};

class Progress {
public:
    Progress(Streams streams, bool quiet);

    // The ports of a batch, one progress line each, numbered from 0 in this order.
    void start(std::vector<std::string> ports);
    // The line of port `line` now says `text` (a status text of the exchange).
    void update(int line, const std::string& text);
    // The running read or write has done `percent` (0..100). Called right after the update()
    // whose text shows that step, which a pipe then shows only at a quarter.
    void share(int line, int percent);
    // The port's device has ended: "PORT: text" as a result, or with `error` as a failure on
    // standard error (nothing when the text is empty); its progress line goes.
    void finish(int line, const std::string& text, bool error = false);

    // A line of the command's output.
    void print(const std::string& text);
    // A line for the user beside the output: an error, a warning, a note.
    void note(const std::string& text);
    // The terminal's bell, where the user sits at a terminal.
    void bell();
    // While standard output carries a configuration's bytes, results go to standard error.
    void resultsToError(bool on);

    // True once a write to standard output has failed (a full disk, a closed pipe).
    bool outputFailed() const;

private:
    struct Line {
        std::string port;
        std::string text;
        bool active = false;
        // For a pipe: in a read or write, a text waits for its share to say whether it is a
        // step (shown at a quarter) or the stage's last word (shown always).
        bool inStage = false;
        std::string pending;
        int quarter = 0; // the last quarter shown
    };
    void flush(Line& l);
    void writeOut(const std::string& text);
    void writeErr(const std::string& text);
    void erase();
    void redraw();
    std::string cut(const std::string& text) const;
    bool inPlace() const { return streams_.errTerminal && !quiet_; }

    Streams streams_;
    bool quiet_;
    bool resultsToError_ = false;
    bool outputFailed_ = false;
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
    int drawn_ = 0; // progress lines now on the terminal
};

} // namespace tk7v::cli
