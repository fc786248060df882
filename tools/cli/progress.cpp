#include "progress.h"

#include "link/console.h"
#include "station/shown_text.h"

#include <algorithm>
#include <cstdio>

namespace tk7v::cli {

namespace {

bool writeAll(std::FILE* file, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
}

bool continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

} // namespace

Streams Streams::Standard() {
    Streams s;
    s.out = [](std::string_view text) { return writeAll(stdout, text); };
    s.err = [](std::string_view text) { return writeAll(stderr, text); };
    s.outTerminal = PrepareTerminal(StdStream::Output);
    s.errTerminal = PrepareTerminal(StdStream::Error);
    s.columns = [] { return TerminalColumns(StdStream::Error); };
    return s;
}

Progress::Progress(Streams streams, bool quiet) : streams_(std::move(streams)), quiet_(quiet) {}

void Progress::start(std::vector<std::string> ports) {
    std::lock_guard lock(mutex_);
    lines_.clear();
    for (auto& p : ports) {
        Line& l = lines_.emplace_back();
        l.port = station::ControlsEscaped(p);
    }
}

// Every text shown passes here: device lines, a server's words and file names are shown with their
// control characters escaped, so that none acts on the terminal; this program's own sequences (the
// redrawn lines) are added after.
void Progress::update(int line, const std::string& said) {
    const std::string text = station::ControlsEscaped(said);
    std::lock_guard lock(mutex_);
    Line& l = lines_.at(static_cast<std::size_t>(line));
    if (l.text == text) return;
    l.text = text;
    l.active = true;
    if (quiet_) return;
    if (inPlace()) return redraw();
    // A text no share followed was no step: the stage is over.
    if (!l.pending.empty()) {
        flush(l);
        l.inStage = false;
    }
    if (l.inStage)
        l.pending = text;
    else
        writeErr(l.port + ": " + text + "\n");
}

void Progress::share(int line, int percent) {
    std::lock_guard lock(mutex_);
    Line& l = lines_.at(static_cast<std::size_t>(line));
    const int quarter = percent / 25;
    if (!l.inStage) {
        // The text just shown was the stage's first step.
        l.inStage = true;
        l.quarter = quarter;
        return;
    }
    if (l.pending.empty()) return;
    // The whole (100%) is left to the stage's last word, which follows at once.
    if (quarter > l.quarter && quarter < 4) flush(l);
    l.quarter = std::max(l.quarter, quarter);
    l.pending.clear();
}

void Progress::flush(Line& l) {
    if (!l.pending.empty()) writeErr(l.port + ": " + l.pending + "\n");
    l.pending.clear();
}

void Progress::bell() {
    std::lock_guard lock(mutex_);
    if (streams_.errTerminal) writeErr("\a");
}

void Progress::finish(int line, const std::string& said, bool error) {
    const std::string text = station::ControlsEscaped(said);
    std::lock_guard lock(mutex_);
    Line& l = lines_.at(static_cast<std::size_t>(line));
    l.active = false;
    flush(l);
    l.inStage = false; // what the port says next (a station's wait) is no step of this device's
    const bool toError = error || resultsToError_;
    // The result goes above the progress lines when both share the terminal.
    const bool sameTerminal = toError || streams_.outTerminal;
    if (inPlace() && sameTerminal) erase();
    if (!text.empty()) {
        const std::string result = l.port + ": " + text + "\n";
        toError ? writeErr(result) : writeOut(result);
    }
    if (inPlace()) redraw();
}

void Progress::print(const std::string& said) {
    const std::string text = station::ControlsEscaped(said, true);
    std::lock_guard lock(mutex_);
    const bool sameTerminal = resultsToError_ || streams_.outTerminal;
    if (inPlace() && sameTerminal) erase();
    resultsToError_ ? writeErr(text + "\n") : writeOut(text + "\n");
    if (inPlace() && sameTerminal) redraw();
}

void Progress::note(const std::string& said) {
    const std::string text = station::ControlsEscaped(said, true);
    std::lock_guard lock(mutex_);
    if (inPlace()) erase();
    writeErr(text + "\n");
    if (inPlace()) redraw();
}

void Progress::resultsToError(bool on) {
    std::lock_guard lock(mutex_);
    resultsToError_ = on;
}

bool Progress::outputFailed() const {
    std::lock_guard lock(mutex_);
    return outputFailed_;
}

void Progress::writeOut(const std::string& text) {
    if (!streams_.out(text)) outputFailed_ = true;
}

void Progress::writeErr(const std::string& text) {
    streams_.err(text); // nowhere left to say that this failed
}

void Progress::erase() {
    if (drawn_ == 0) return;
    writeErr("\033[" + std::to_string(drawn_) + "A\r\033[J");
    drawn_ = 0;
}

void Progress::redraw() {
    std::string screen;
    if (drawn_ > 0) screen += "\033[" + std::to_string(drawn_) + "A";
    screen += "\r";
    int drawn = 0;
    for (const Line& l : lines_) {
        if (!l.active) continue;
        screen += "\033[K" + cut(l.port + ": " + l.text) + "\n";
        ++drawn;
    }
    screen += "\033[J";
    drawn_ = drawn;
    writeErr(screen);
}

// A line that fits the terminal, by characters (a Cyrillic letter takes one column and two
// bytes), one column short of the edge so that no terminal wraps it.
std::string Progress::cut(const std::string& text) const {
    const int columns = streams_.columns ? streams_.columns() : 0;
    const std::size_t room = static_cast<std::size_t>(columns > 1 ? columns - 1 : 79);
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (continuation(static_cast<unsigned char>(text[i]))) continue;
        if (++characters == room) {
            // Room for this one character: is it the last?
            std::size_t end = i + 1;
            while (end < text.size() && continuation(static_cast<unsigned char>(text[end])))
                ++end;
            return end == text.size() ? text : text.substr(0, i) + "…";
        }
    }
    return text;
}

} // namespace tk7v::cli
