#pragma once
// One line per port on standard output. On a terminal the lines are redrawn in place as the
// exchanges go on; otherwise each change is one plain line, so a log reads step by step.
#include <mutex>
#include <string>
#include <vector>

namespace tk7v::cli {

class Progress {
public:
    Progress(std::vector<std::string> ports, bool quiet);
    // Any thread: the line of port `line` now says `text`.
    void update(int line, const std::string& text);
    // Any thread: the share done (0 to 100) of the read or write on port `line`.
    void share(int line, int percent);
    // The last words, one line per port, after every job has ended.
    void summary(int line, const std::string& text);
    // Plain output that must not be torn by a redraw.
    void print(const std::string& text);

private:
    void redraw();

    std::mutex mutex_;
    std::vector<std::string> ports_, lines_;
    bool terminal_;
    bool quiet_;
    bool drawn_ = false;
};

} // namespace tk7v::cli
