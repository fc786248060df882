#pragma once
// A table of per-device values, as a spreadsheet saves it: a header row with one column per field
// (by name, or by its caption where that is unique) and a "port" column, then one row per port.
// Without a port column the table is a list: each device takes the next row no device has
// taken. UTF-8 with or without a byte-order mark, "," or ";" between cells (a Russian
// spreadsheet writes ";"), CRLF or LF line ends, quoted cells with separators or quotes inside.
#include "model/parameter_image.h"

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

// A CSV file as a spreadsheet may have saved it again (UTF-8 with or without its byte-order mark,
// or Windows-1251, as a Russian Excel writes), as UTF-8 without the mark; its lines stay as they
// were.
std::string SpreadsheetTextAsUtf8(const std::string& bytes);
// The separator the first line of a CSV text uses, ";" or ",": whichever it holds more of
// outside quotes (";" when it holds neither).
char CsvSeparator(const std::string& text);

// The row's values put on `image` by the rules of setting a field by name: each issue a line,
// "TABLE, строка N: [предупреждение: ]what"; `refused` when one of them refuses the row (with
// `strict`, a value out of range too). The image changes only when none does.
std::vector<std::string> RowIssues(const ValuesRow& row, const std::string& table, ParameterImage& image,
                                   bool strict, bool& refused);

} // namespace tk7v::station
