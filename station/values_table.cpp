#include "values_table.h"

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
// quotes (a header of one column has neither, and either will do).
unsigned char separatorOf(const std::string& text) {
    int semicolons = 0, commas = 0;
    bool quoted = false;
    for (char c : text) {
        if (c == '\n' || c == '\r') break;
        if (c == '"') quoted = !quoted;
        if (!quoted && c == ';') ++semicolons;
        if (!quoted && c == ',') ++commas;
    }
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

} // namespace

ValuesTable ReadValuesTable(const std::string& bytes) {
    ValuesTable out;
    std::string text = bytes;
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);

    Cells cells;
    csv_parser parser;
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) != 0) {
        out.error = "таблица значений не прочитана: нет памяти";
        return out;
    }
    csv_set_delim(&parser, separatorOf(text));
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
    for (std::size_t c = 0; c < header.size(); ++c) {
        if (isPortColumn(header[c])) {
            portColumn = static_cast<int>(c);
        } else if (!(fields[c] = fieldOf(header[c]))) {
            out.error = "таблица значений: столбец «" + header[c] +
                        "» не назван ни именем поля, ни подписью, которая есть только у одного поля";
            return out;
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

} // namespace tk7v::station
