#include "device_run.h"

#include "sha256.h"

#include "model/field_rules.h"

#include <chrono>

namespace tk7v::station {

namespace {

// The report's word for how a device ended.
std::string outcomeOf(const PortJob& job, PortJob::Result r) {
    switch (r) {
    case PortJob::Result::Done:
        return "done";
    case PortJob::Result::Interrupted:
        return "interrupted";
    case PortJob::Result::NoAnswer:
        return "no answer";
    case PortJob::Result::Held:
        return "held";
    case PortJob::Result::Failed:
        break;
    }
    return job.verifyFailed() ? "differs" : "error";
}

std::string runOutText(const std::string& of) {
    return (of.empty() ? std::string("строки списка кончились") : "номера " + of + " кончились") +
           ", устройство не записано";
}

// A wait for the ledger's or the report's lock on this port: a stop ends it at once, and the
// port says so once it lasts.
LockWait lockWaitOf(PortJob& job, Listener& listener, const std::string& file) {
    LockWait wait;
    wait.stopped = [&job] { return job.interrupted(); };
    wait.busy = [&job, &listener, file] { listener.state(job.index(), PortState::LedgerBusy, file); };
    wait.unreachable = [&job, &listener](const std::string& why) {
        listener.state(job.index(), PortState::LedgerUnavailable, why);
    };
    return wait;
}

} // namespace

DeviceEnded RunOne(PortJob& job, const DeviceWork& work, const DeviceReport& report, RunShared& shared,
                   Listener& listener, bool* untouched, bool recognise) {
    const ReportTo& to = shared.to;
    const auto start = std::chrono::system_clock::now();
    Given given;
    bool ranOut = false; // nothing was left for it: the device is left as it came
    Ledger* ledger = to.ledgerOf();
    if (to.numbering && ledger) {
        job.beforeWrite([&](ParameterImage& image) -> std::string {
            ReportRecord claim;
            claim.port = job.port();
            claim.identification = job.identification();
            claim.command = to.command;
            claim.start = start;
            claim.end = std::chrono::system_clock::now();
            const Numbering::Claim c =
                to.numbering->claim(*ledger, claim, image, lockWaitOf(job, listener, ledger->name()));
            switch (c.outcome) {
            case Numbering::Claim::Outcome::Given:
                given = c.given;
                if (c.last) shared.endNumbering(c.runOut);
                return {};
            case Numbering::Claim::Outcome::RunOut:
                ranOut = true;
                shared.endNumbering(c.runOut);
                return runOutText(c.runOut);
            case Numbering::Claim::Outcome::Failed:
                break;
            }
            return c.error;
        });
    }
    const auto same = [](const ParameterImage& device, const ParameterImage& image) {
        return DiffFields(device, image).empty();
    };
    if (to.numbering && ledger) {
        // A device is known by what it holds: one holding values this ledger gave out keeps them
        // (it was numbered before: plugged back, a write cut short, left through a stop), and is
        // left alone when it holds the rest of its configuration too. Values count only as the
        // ledger holds them given: one it cannot read leaves the device to the claim, which then
        // fails as well.
        job.identity(to.numbering->identityRanges(),
                     [&](const ParameterImage& device, ParameterImage& image) {
                         std::optional<Given> held;
                         std::string error;
                         if (!ledger->look([&](const GivenSoFar& soFar) { held = to.numbering->held(device, soFar); },
                                           error, lockWaitOf(job, listener, ledger->name())) ||
                             !held)
                             return false;
                         given = *held;
                         to.numbering->apply(given, image);
                         return true;
                     });
        job.recognise(same);
    } else if (recognise) {
        job.recognise(same);
    }
    const PortJob::Result r = work(job);
    job.beforeWrite({}); // they hold this device's locals
    job.identity({}, {});
    job.recognise({});
    DeviceEnded ended{report(job, r), job.identification(), given, true};
    ended.held = r == PortJob::Result::Held;
    DeviceEnd& end = ended.end;
    if (untouched) *untouched = (r == PortJob::Result::Interrupted && !job.wroteSomething()) || ranOut;
    Ledger* records = ledger && ledger->keepsRecords() ? ledger : nullptr;
    // A device left alone is recorded only with the values it holds: the ledger then names the
    // device that holds them, whatever its earlier records said (a read-back cut short).
    if ((ended.held && !given.any()) || (!to.report && !records) || (untouched && *untouched && !given.any()))
        return ended;
    ReportRecord record{job.port(),
                        job.identification(),
                        to.command,
                        end.file,
                        {},
                        start,
                        std::chrono::system_clock::now(),
                        outcomeOf(job, r),
                        r == PortJob::Result::Done ? std::string() : end.text,
                        end.differing,
                        given};
    // The report names the fields for programs and gives their captions for people.
    for (std::size_t i = 0; i < end.differing.size(); ++i)
        record.message +=
            (i ? "; " : " (") + ShownName(end.differing[i]) + (i + 1 == end.differing.size() ? ")" : "");
    if (end.bytes) record.sha256 = Sha256Hex(*end.bytes);
    // The day's report, and a server's ledger, which keeps every station's records as well: each
    // keeps a record it could not store, and stores it in its turn.
    std::string failed;
    const std::size_t wereKept = shared.pendingRecords();
    if (to.report) failed = to.report->add(record, lockWaitOf(job, listener, to.report->name()));
    if (records) {
        const std::string notStored = records->record(record, lockWaitOf(job, listener, records->name()));
        if (failed.empty()) failed = notStored;
    }
    if (!failed.empty()) {
        ended.recorded = false;
        listener.records(shared.pendingRecords(), failed);
    } else if (wereKept > 0) {
        listener.records(0, {});
    }
    return ended;
}

DeviceEnd FailedEnd(const PortJob& job, PortJob::Result result, bool mayHoldPart) {
    DeviceEnd end{{}, kDeviceFailed, mayHoldPart, true};
    switch (result) {
    case PortJob::Result::Done:
    case PortJob::Result::Held:
        end.status = kDone;
        end.error = false;
        break;
    case PortJob::Result::Interrupted:
        end.text = "прервано";
        break;
    case PortJob::Result::NoAnswer: // "не отвечает (the step)"
    case PortJob::Result::Failed: {
        // The sentences end with a full stop; the note on the block follows after it. Only the
        // system's own words need saying that they are an error: ours say what failed.
        std::string error = job.error();
        while (!error.empty() && (error.back() == '.' || error.back() == ' ' || error.back() == '\n'))
            error.pop_back();
        end.text = job.errorInSystemWords() ? "ошибка: " + error : error;
        break;
    }
    }
    if (mayHoldPart)
        end.text +=
            job.unplugged() ? ": может хранить часть блока" : "; устройство может хранить часть блока";
    return end;
}

DeviceEnd WriteEnd(const PortJob& job, PortJob::Result result, bool verify, const std::string& file) {
    DeviceEnd end;
    if (result == PortJob::Result::Done) {
        end = {verify ? "записано и проверено" : "записано", kDone, false};
    } else if (result == PortJob::Result::Held) {
        end = {"уже записано, не тронуто", kDone, false};
    } else if (job.verifyFailed()) {
        for (const Difference& d : DiffFields(job.block(), job.written()))
            end.differing.push_back(d.name);
        end.text =
            "записано, но проверка не пройдена, различается полей: " + std::to_string(end.differing.size());
        end.status = kDeviceFailed;
        end.error = true;
    } else {
        // A write cut short, by a stop or a fault, may have left part of the block.
        end = FailedEnd(job, result, job.wroteSomething());
    }
    end.file = file;
    if (job.wroteSomething()) end.bytes = job.written();
    if (result == PortJob::Result::Done && verify) end.proven = job.block();
    return end;
}

} // namespace tk7v::station
