#include "values_table.h"

#include "link/device_text.h"
#include "model/field_rules.h"
#include "model/parameter_image.h"

#include <csv.h>

#include <algorithm>
#include <optional>

namespace tk7v::station {

namespace {

struct Cells {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> current;
};

void onCell(void* s, std::size_t len, void* data) {
    auto* cells = static_cast<Cells*>(data);
    cells->current.emplace_back(s ? static_cast<const char*>(s) : "", s ? len : 0);
}

void onRowEnd(int, void* data) {
    auto* cells = static_cast<Cells*>(data);
    cells->rows.push_back(std::move(cells->current));
    cells->current.clear();
}

// The separator a spreadsheet chose: whichever of ";" and "," the header has more of outside
// quotes. A header of one column has neither: ";" then, since the commas of a phone number
// ("8,,4951234567") are part of its value, and no value a field takes holds a ";".
unsigned char separatorOfHeader(const std::string& text) {
    int semicolons = 0, commas = 0;
    bool quoted = false;
    for (char c : text) {
        if (c == '\n' || c == '\r') break;
        if (c == '"') quoted = !quoted;
        if (!quoted && c == ';') ++semicolons;
        if (!quoted && c == ',') ++commas;
    }
    if (semicolons == 0 && commas == 0) return ';';
    return semicolons > commas ? ';' : ',';
}

bool isPortColumn(const std::string& h) {
    for (const char* name : {"port", "Port", "PORT", "порт", "Порт", "ПОРТ"})
        if (h == name) return true;
    return false;
}

// The field a column names: its control's name, or a caption no other field shares.
std::optional<std::string> fieldOf(const std::string& h) {
    if (FindField(h)) return h;
    const FieldSpec* found = nullptr;
    for (const FieldSpec& f : ImageLayout()) {
        if (f.caption != h) continue;
        if (found) return std::nullopt;
        found = &f;
    }
    if (found) return std::string(found->control);
    return std::nullopt;
}

// Well-formed UTF-8: every lead byte followed by its continuation bytes, no overlong forms, no
// surrogates, nothing beyond U+10FFFF.
bool isUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t n = 0;
        unsigned min = 0, cp = 0;
        if ((b & 0xE0) == 0xC0)
            n = 1, min = 0x80, cp = b & 0x1Fu;
        else if ((b & 0xF0) == 0xE0)
            n = 2, min = 0x800, cp = b & 0x0Fu;
        else if ((b & 0xF8) == 0xF0)
            n = 3, min = 0x10000, cp = b & 0x07u;
        else
            return false;
        if (s.size() - i <= n) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = cp << 6 | (c & 0x3Fu);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

} // namespace

std::string SpreadsheetTextAsUtf8(const std::string& bytes) {
    // A byte-order mark or text that is valid UTF-8 is UTF-8; anything else is what Excel's
    // "CSV (разделители — точка с запятой)" writes on a Russian Windows, Windows-1251, the code
    // page of the device itself.
    if (bytes.starts_with("\xEF\xBB\xBF")) return bytes.substr(3);
    return isUtf8(bytes) ? bytes : DeviceTextToUtf8(bytes);
}

char CsvSeparator(const std::string& text) {
    return static_cast<char>(separatorOfHeader(text));
}

ValuesTable ReadValuesTable(const std::string& bytes) {
    ValuesTable out;
    const std::string text = SpreadsheetTextAsUtf8(bytes);

    Cells cells;
    csv_parser parser;
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) != 0) {
        out.error = "таблица значений не прочитана: нет памяти";
        return out;
    }
    csv_set_delim(&parser, separatorOfHeader(text));
    const bool parsed =
        csv_parse(&parser, text.data(), text.size(), onCell, onRowEnd, &cells) == text.size() &&
        csv_fini(&parser, onCell, onRowEnd, &cells) == 0;
    const std::string why = parsed ? "" : csv_strerror(csv_error(&parser));
    csv_free(&parser);
    if (!parsed) {
        out.error =
            "таблица значений не прочитана (строка " + std::to_string(cells.rows.size() + 1) + "): " + why;
        return out;
    }
    if (cells.rows.empty()) {
        out.error = "таблица значений пуста: нужна строка заголовка";
        return out;
    }

    const std::vector<std::string>& header = cells.rows.front();
    int portColumn = -1;
    std::vector<std::optional<std::string>> fields(header.size());
    // Two columns for one thing leave the reader to guess which one is meant: refused, naming both.
    const auto twice = [&](std::size_t first, std::size_t second) {
        out.error = "таблица значений: столбцы «" + header[first] + "» и «" + header[second] +
                    "» задают одно и то же" + (fields[second] ? " поле " + *fields[second] : " — порт");
    };
    for (std::size_t c = 0; c < header.size(); ++c) {
        if (isPortColumn(header[c])) {
            if (portColumn >= 0) {
                twice(static_cast<std::size_t>(portColumn), c);
                return out;
            }
            portColumn = static_cast<int>(c);
        } else if (!(fields[c] = fieldOf(header[c]))) {
            out.error = "таблица значений: столбец «" + header[c] +
                        "» не назван ни именем поля, ни подписью, которая есть только у одного поля";
            return out;
        } else {
            for (std::size_t earlier = 0; earlier < c; ++earlier)
                if (fields[earlier] == fields[c]) {
                    twice(earlier, c);
                    return out;
                }
        }
    }
    out.list = portColumn < 0;
    for (std::size_t r = 1; r < cells.rows.size(); ++r) {
        const auto& cellsOfRow = cells.rows[r];
        if (std::all_of(cellsOfRow.begin(), cellsOfRow.end(), [](const std::string& c) { return c.empty(); }))
            continue; // a blank line at the end of a sheet
        ValuesRow row;
        row.row = static_cast<int>(r + 1);
        if (cellsOfRow.size() > header.size()) {
            out.error =
                "таблица значений, строка " + std::to_string(row.row) + ": ячеек больше, чем столбцов";
            return out;
        }
        for (std::size_t c = 0; c < cellsOfRow.size(); ++c) {
            if (static_cast<int>(c) == portColumn)
                row.port = cellsOfRow[c];
            else if (!cellsOfRow[c].empty())
                row.assignments.push_back(*fields[c] + "=" + cellsOfRow[c]);
        }
        if (!out.list && row.port.empty()) {
            out.error = "таблица значений, строка " + std::to_string(row.row) + ": не указан порт";
            return out;
        }
        out.rows.push_back(std::move(row));
    }
    return out;
}

std::vector<std::string> RowIssues(const ValuesRow& row, const std::string& table, ParameterImage& image,
                                   bool strict, bool& refused) {
    std::vector<std::string> lines;
    refused = false;
    const std::string where = table + ", строка " + std::to_string(row.row) + ": ";
    for (const FieldIssue& issue : SetFields(image, row.assignments, strict)) {
        const bool warning = issue.warning() && !strict;
        refused = refused || !warning;
        lines.push_back(where + (warning ? "предупреждение: " : "") + IssueText(issue));
    }
    return lines;
}

} // namespace tk7v::station
