#pragma once
// Records a server's ledger had not taken when a program that keeps nothing between its runs (the
// command line) ended: kept in a file of the user's, one per server and list, until the next run
// on the same server and list stores them. A window keeps them in its session instead.
#include "ledger.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tk7v::station {

// The file in `folder` that keeps the records waiting for `server` under `list`.
std::filesystem::path WaitingRecordsFile(const std::filesystem::path& folder, const std::string& server,
                                         const std::string& list);

// Replaces what `file` keeps with `records` (none: the file is removed); written beside it and
// renamed, so that it is there whole or not at all. The failure, empty when none.
std::string SaveWaitingRecords(const std::filesystem::path& file, const std::string& server,
                               const std::string& list, const std::vector<ReportRecord>& records);

// The records `file` keeps for `server` and `list`, oldest first; none when there is no file.
// Lines that do not parse, or are another server's, are passed over. False with `error` when the
// file is there and cannot be read.
bool ReadWaitingRecords(const std::filesystem::path& file, const std::string& server, const std::string& list,
                        std::vector<ReportRecord>& records, std::string& error);

} // namespace tk7v::station
