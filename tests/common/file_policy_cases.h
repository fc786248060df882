#pragma once
// The rules for replacing a configuration file, as one table of cases that every front end runs
// through its own save: the model's SaveConfigFile, the window's save button, tk7v-cli's -o.
// Each front end says how its save ended; the table checks that and what is left on disk.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tk7v::test {

enum class SaveOutcome { Written, OpenFailed, WriteFailed };

inline const char* OutcomeName(SaveOutcome o) {
    return o == SaveOutcome::Written      ? "written"
           : o == SaveOutcome::OpenFailed ? "open failed"
                                          : "write failed";
}

// The front end's save of `path`, answering yes to any replace question.
using SaveThrough = std::function<SaveOutcome(const std::filesystem::path& path)>;

// Runs every case in a folder of its own under `root`; the failures, empty when all behaved.
// `fresh` is what a successful save writes.
inline std::vector<std::string> CheckFilePolicy(const std::filesystem::path& root, const std::string& fresh,
                                                const SaveThrough& save) {
    namespace fs = std::filesystem;
    const std::string old(512, 'A'), earlier(512, 'Z');
    enum Setup { Plain, Fifo, MissingFolder, LongName, Symlink, SizeLimit, ReadOnly };
    const struct {
        const char* name;
        Setup setup;
        bool existing;     // the chosen name holds `old` before
        bool backupBefore; // its ".BAK" holds `earlier` before
        SaveOutcome outcome;
        bool replaced;    // the chosen name then holds `fresh`, else `old` (or nothing)
        char backupAfter; // 'A' old, 'Z' earlier, 0 none
    } cases[] = {
        {"new file", Plain, false, false, SaveOutcome::Written, true, 0},
        {"replace keeps a backup", Plain, true, false, SaveOutcome::Written, true, 'A'},
        {"an earlier backup stays", Plain, true, true, SaveOutcome::Written, true, 'Z'},
        {"no plain file", Fifo, true, false, SaveOutcome::OpenFailed, false, 0},
        {"no folder", MissingFolder, false, false, SaveOutcome::OpenFailed, false, 0},
        // No name beside it is free to take (the name is as long as a name can be): in place.
        {"in place, new", LongName, false, false, SaveOutcome::Written, true, 0},
        {"in place, replaced", LongName, true, false, SaveOutcome::Written, true, 'A'},
        {"through a link", Symlink, true, false, SaveOutcome::Written, true, 'A'},
        // The disk fills after 100 bytes: the old content stays whole, no part file is left.
        {"cut short", SizeLimit, true, true, SaveOutcome::WriteFailed, false, 'Z'},
        {"cut short, backup cut short too", SizeLimit, true, false, SaveOutcome::WriteFailed, false, 0},
        {"cut short, new", SizeLimit, false, false, SaveOutcome::WriteFailed, false, 0},
        // A file marked read-only is refused before anything is made (root writes it anyway, so
        // these two run as an ordinary user).
        {"read-only", ReadOnly, true, false, SaveOutcome::OpenFailed, false, 0},
        {"read-only, an earlier backup", ReadOnly, true, true, SaveOutcome::OpenFailed, false, 'Z'},
    };
    const auto slurp = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return in ? std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())
                  : std::string("(none)");
    };
    const auto put = [](const fs::path& p, const std::string& bytes) {
        std::ofstream(p, std::ios::binary) << bytes;
    };
    std::vector<std::string> failures;
    int n = 0;
    for (const auto& c : cases) {
        if (c.setup == ReadOnly && ::geteuid() == 0) continue;
        const fs::path dir = root / ("case" + std::to_string(n++));
        fs::create_directories(dir);
        fs::path chosen = dir / "settings.cfg", backup = dir / "settings.BAK", file = chosen;
        if (c.setup == LongName) {
            chosen = dir / (std::string(250, 'x') + ".cfg");
            backup = dir / (std::string(250, 'x') + ".BAK");
            file = chosen;
        }
        if (c.setup == MissingFolder) chosen = file = dir / "missing" / "settings.cfg";
        if (c.setup == Symlink) {
            fs::create_directories(dir / "real");
            file = dir / "real" / "target.cfg";
            fs::create_symlink(file, chosen);
        }
        if (c.setup == Fifo)
            ::mkfifo(chosen.c_str(), 0600);
        else if (c.existing)
            put(file, old);
        if (c.backupBefore) put(backup, earlier);
        if (c.setup == ReadOnly) fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);

        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        auto previous = SIG_DFL;
        if (c.setup == SizeLimit) {
            previous = std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = saved;
            small.rlim_cur = 100;
            ::setrlimit(RLIMIT_FSIZE, &small);
        }
        const SaveOutcome got = save(chosen);
        if (c.setup == SizeLimit) {
            ::setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, previous);
        }

        std::string why;
        if (got != c.outcome)
            why += std::string(" ended ") + OutcomeName(got) + ", not " + OutcomeName(c.outcome);
        const std::string after = c.setup == Fifo ? std::string() : slurp(file); // a fifo would block
        const std::string want = c.replaced                      ? fresh
                                 : c.existing && c.setup != Fifo ? old
                                                                 : std::string("(none)");
        if (c.setup != Fifo && after != want) why += " the file holds " + after.substr(0, 16) + "...";
        const std::string backupNow = slurp(backup);
        const std::string backupWant = c.backupAfter == 'A'   ? old
                                       : c.backupAfter == 'Z' ? earlier
                                                              : std::string("(none)");
        if (backupNow != backupWant) why += " the backup holds " + backupNow.substr(0, 16) + "...";
        if (c.setup == Symlink && !fs::is_symlink(chosen)) why += " the link was replaced";
        std::size_t files = 0;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            files += !e.is_directory();
        const std::size_t filesWant =
            (want != "(none)" || c.setup == Fifo) + (backupWant != "(none)") + (c.setup == Symlink);
        if (files != filesWant)
            why += " " + std::to_string(files) + " files left, not " + std::to_string(filesWant);
        if (!why.empty()) failures.push_back(std::string(c.name) + ":" + why);
        fs::remove_all(dir);
    }
    return failures;
}

} // namespace tk7v::test
