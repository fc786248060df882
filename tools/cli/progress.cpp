#include "progress.h"

#include "link/console.h"

#include <cstdio>

namespace tk7v::cli {

Progress::Progress(std::vector<std::string> ports, bool quiet)
    : ports_(std::move(ports)), lines_(ports_.size()), terminal_(PrepareTerminal()), quiet_(quiet) {}

void Progress::update(int line, const std::string& text) {
    std::lock_guard lock(mutex_);
    auto& current = lines_.at(static_cast<std::size_t>(line));
    if (current == text) return;
    current = text;
    if (quiet_) return;
    if (terminal_) return redraw();
    std::printf("%s: %s\n", ports_[static_cast<std::size_t>(line)].c_str(), text.c_str());
    std::fflush(stdout);
}

void Progress::share(int, int) {
    // The texts already carry the share; a plain log prints each of them.
}

void Progress::redraw() {
    // Back to the first of our lines, then each line anew.
    if (drawn_) std::printf("\033[%zuA", lines_.size());
    for (std::size_t i = 0; i < lines_.size(); ++i)
        std::printf("\r\033[K%s: %s\n", ports_[i].c_str(), lines_[i].c_str());
    drawn_ = true;
    std::fflush(stdout);
}

void Progress::summary(int line, const std::string& text) {
    std::lock_guard lock(mutex_);
    std::printf("%s: %s\n", ports_.at(static_cast<std::size_t>(line)).c_str(), text.c_str());
    std::fflush(stdout);
}

void Progress::print(const std::string& text) {
    std::lock_guard lock(mutex_);
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

} // namespace tk7v::cli
