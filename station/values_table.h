#pragma once
// A table of per-device values, as a spreadsheet saves it: a header row with one column per field
// (by name, or by its caption where that is unique) and a "port" column, then one row per port.
// Without a port column the table is a list: each device takes the next row no device has
// taken. UTF-8 with or without a byte-order mark, "," or ";" between cells (a Russian
// spreadsheet writes ";"), CRLF or LF line ends, quoted cells with separators or quotes inside.
#include <string>
#include <vector>

namespace tk7v::station {

struct ValuesRow {
    int row = 0; // the table's row, the header being row 1
    std::string port;
    // "NAME=VALUE" for every cell that holds something; an empty cell keeps the template's value.
    std::vector<std::string> assignments;
};

struct ValuesTable {
    std::vector<ValuesRow> rows;
    bool list = false; // no port column
    std::string error; // what is wrong with the table as a whole, naming the row or column
};

ValuesTable ReadValuesTable(const std::string& bytes);

} // namespace tk7v::station
