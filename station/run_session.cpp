#include "run_session.h"

#include "server_ledger.h"
#include "waiting_records.h"

#include "link/user_folders.h"

#include "model/config_file.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

namespace tk7v::station {

namespace {

bool endsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// A report or a ledger's file, its folder made first when asked; null with `problem` set.
std::unique_ptr<Report> openFile(const std::string& path, bool makeFolder, SessionProblem::Kind kind,
                                 SessionProblem& problem) {
    if (makeFolder) {
        std::error_code ignored; // a folder that cannot be made is told by the open that follows
        std::filesystem::create_directories(Utf8Path(path).parent_path(), ignored);
    }
    std::string why;
    bool held = false;
    std::unique_ptr<Report> file = Report::open(path, why, &held);
    if (!file) problem = {kind, why, held};
    return file;
}

} // namespace

bool RunSession::open(const Plan& plan, const Options& options, SessionProblem& problem) {
    problem = {};
    const bool reportKept = reportWaiting() > 0;
    if (reportKept && plan.report != report_->name()) {
        problem = {SessionProblem::Kind::KeptReport, "Записи прошлого запуска ещё не записаны в отчёт " +
                                                         report_->name() +
                                                         ": выберите его снова, чтобы они были дописаны."};
        return false;
    }
    // Records a server did not take are stored by the next run on the same server and list only:
    // another list's run would keep its rows under this one's name.
    const bool serverKept = serverWaiting() > 0;
    if (serverKept && (plan.ledger != ledger_->name() || plan.listName != list_)) {
        problem = {SessionProblem::Kind::KeptServer,
                   "Записи прошлого запуска ещё не переданы на сервер учёта номеров " + ledger_->name() +
                       ": запустите станцию с тем же учётом и списком, чтобы они были переданы."};
        return false;
    }
    if (!reportKept) {
        report_.reset();
        if (!plan.report.empty() &&
            !(report_ = openFile(plan.report, options.makeFolders, SessionProblem::Kind::Report, problem)))
            return false;
    }
    if (!serverKept) {
        ledger_.reset();
        list_ = plan.listName;
        std::string why;
        waitingFile_.clear();
        takenOver_ = 0;
        if (IsServerAddress(plan.ledger)) {
            // Nothing is connected yet: the ports' own threads reach the server.
            if (!(ledger_ = OpenLedger(plan.ledger, plan.listName, options.timeout, why))) {
                problem = {SessionProblem::Kind::Address, why};
                return false;
            }
            if (!options.waitingFolder.empty()) {
                waitingFile_ = WaitingRecordsFile(options.waitingFolder, plan.ledger, plan.listName);
                std::vector<ReportRecord> waiting;
                if (!ReadWaitingRecords(waitingFile_, plan.ledger, plan.listName, waiting, why)) {
                    problem = {SessionProblem::Kind::KeptServer, why};
                    return false;
                }
                ledger_->keepRecords(waiting);
                takenOver_ = waiting.size();
            }
        } else if (!plan.ledger.empty() && plan.ledger != plan.report) {
            std::vector<std::filesystem::path> earlier = DayReportsBeside(plan.report);
            const std::filesystem::path report = Utf8Path(plan.report);
            std::error_code ignored;
            if (!plan.report.empty() && std::filesystem::is_regular_file(report, ignored) &&
                std::find(earlier.begin(), earlier.end(), report) == earlier.end())
                earlier.push_back(report);
            if (options.makeFolders)
                std::filesystem::create_directories(Utf8Path(plan.ledger).parent_path(), ignored);
            if (const std::string failed = SeedLedger(plan.ledger, earlier); !failed.empty()) {
                problem = {SessionProblem::Kind::Ledger, failed};
                return false;
            }
            if (!(ledger_ =
                      openFile(plan.ledger, options.makeFolders, SessionProblem::Kind::Ledger, problem)))
                return false;
        }
    }
    numbering_ = std::make_unique<Numbering>(plan.list, plan.counter);
    return true;
}

std::string RunSession::passedOverText() const {
    const auto* file = dynamic_cast<const Report*>(ledger());
    return file ? PassedOverText(file->name(), file->passedOver()) : std::string();
}

void RunSession::settle() {
    if (reportWaiting() == 0) report_.reset();
    if (serverWaiting() == 0) ledger_.reset();
}

ReportTo RunSession::reportTo(const std::string& command, bool holdWhileKept, bool recognise) const {
    ReportTo to{report_.get(), command, numbering_ && numbering_->active() ? numbering_.get() : nullptr,
                holdWhileKept};
    to.ledger = ledger();
    to.recognise = recognise;
    return to;
}

std::string RunSession::flushReport(const LockWait& wait) {
    return report_ ? report_->flush(wait) : std::string();
}

std::string RunSession::keepWaiting(std::filesystem::path& file) const {
    file = waitingFile_;
    if (waitingFile_.empty() || !ledger_) return {};
    return SaveWaitingRecords(waitingFile_, ledger_->name(), list_, ledger_->keptRecords());
}

std::string DefaultLedger() {
    return PathUtf8(DocumentsFolder() / Utf8Path("Учёт номеров ТК-7В.csv"));
}

std::vector<std::filesystem::path> DayReportsBeside(const std::string& report) {
    static const std::string prefix = "Станция ТК-7В ", suffix = ".csv";
    std::vector<std::filesystem::path> days;
    if (report.empty()) return days;
    std::error_code failed;
    for (const auto& entry : std::filesystem::directory_iterator(Utf8Path(report).parent_path(), failed)) {
        const std::string name = PathUtf8(entry.path().filename());
        const bool day = name.size() == prefix.size() + 10 + suffix.size() && name.starts_with(prefix) &&
                         endsWith(name, suffix) && name[prefix.size() + 4] == '-' &&
                         name[prefix.size() + 7] == '-';
        std::error_code ignored;
        if (day && entry.is_regular_file(ignored)) days.push_back(entry.path());
    }
    std::sort(days.begin(), days.end());
    return days;
}

std::string SeedLedger(const std::string& ledger, const std::vector<std::filesystem::path>& reports) {
    const std::filesystem::path to = Utf8Path(ledger);
    std::error_code ignored;
    if (std::filesystem::exists(to, ignored)) return {};
    const std::string kind = ledger.substr(
        ledger.find_last_of('.') == std::string::npos ? ledger.size() : ledger.find_last_of('.'));
    std::string all;
    for (const std::filesystem::path& day : reports) {
        if (kind.empty() || !endsWith(PathUtf8(day), kind)) continue;
        std::error_code failed;
        const bool readable = std::filesystem::is_regular_file(day, failed);
        std::ifstream in(day, std::ios::binary);
        if (!readable || !in.is_open())
            return PathUtf8(day) + ": отчёт не читается" + (failed ? ": " + failed.message() : "");
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) return PathUtf8(day) + ": отчёт не читается";
        // Each CSV report begins with its headings; the ledger keeps the first one's.
        if (!all.empty() && kind == ".csv") {
            const auto eol = bytes.find('\n');
            bytes.erase(0, eol == std::string::npos ? bytes.size() : eol + 1);
        }
        // A report cut short mid-line (a full disk, a crash) must not glue the next one's first
        // record to its last.
        if (!all.empty() && all.back() != '\n') all += "\r\n";
        all += bytes;
    }
    if (all.empty()) return {};
    return WriteWholeFile(to, all);
}

} // namespace tk7v::station
