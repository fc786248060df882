#include "plan.h"

namespace tk7v::station {

namespace {

using Severity = PlanIssue::Severity;

struct Checking {
    CheckedPlan out;
    bool failed = false;
    void error(std::string text, bool usage = true) {
        out.issues.push_back({Severity::Error, std::move(text), usage});
        failed = true;
    }
    // The row's values on `image`: every value must be held exactly, since one row's slip would
    // go to a device unseen among many.
    bool row(const ValuesRow& r, const std::string& table, ParameterImage& image) {
        bool refused = false;
        for (std::string& line : RowIssues(r, table, image, true, refused))
            out.issues.push_back({Severity::Error, std::move(line), true});
        failed = failed || refused;
        return !refused;
    }
};

constexpr const char* kUntouched = "Ни одно устройство не затронуто.";

} // namespace

CheckedPlan CheckPlan(const PlanRequest& request) {
    Checking c;
    Plan plan;
    plan.images = request.images;
    plan.report = request.report;
    plan.ledger = request.ledger.empty() ? request.report : request.ledger;
    const auto same = [&](const std::string& inTable, const std::string& port) {
        return request.samePort ? request.samePort(inTable, port) : inTable == port;
    };

    if (!request.valuesName.empty()) {
        const std::string& name = request.valuesName;
        const ValuesTable table = ReadValuesTable(request.valuesText);
        if (!table.error.empty()) {
            c.error(name + ": " + table.error);
            return c.out;
        }
        if (!table.list && request.listOnly) {
            c.error(name + ": в таблице есть столбец port. Станция даёт каждому устройству следующую строку "
                           "списка: уберите столбец port.");
            return c.out;
        }
        if (!table.list && request.loop && !request.sameValues && request.number.empty()) {
            c.error(name + ": с --loop строка порта достанется каждому устройству этого порта; чтобы у "
                           "каждого было своё, уберите столбец port (список: каждому следующая строка) или "
                           "задайте --number ПОЛЕ=ПЕРВЫЙ[-ПОСЛЕДНИЙ]; если так и нужно — --same-values");
            return c.out;
        }
        if (table.list) {
            plan.listName = name.substr(name.find_last_of("/\\") + 1);
            if (table.rows.empty()) {
                c.error(name + ": в списке нет ни одной строки");
                return c.out;
            }
            // A row is given once by its values: a second row with the same ones could never be.
            if (const std::string twice = RepeatedRows(table.rows); !twice.empty()) {
                c.error(name + ": " + twice + " задают одни и те же значения: каждая строка списка "
                               "выдаётся одному устройству, оставьте одну");
                return c.out;
            }
            // Any device may take any row: each is tried on every port's configuration.
            for (const ValuesRow& row : table.rows)
                for (ParameterImage image : plan.images)
                    if (!c.row(row, name, image)) break;
            plan.list = table.rows;
        } else {
            std::vector<bool> covered(plan.images.size(), false);
            for (const ValuesRow& row : table.rows) {
                std::size_t i = 0;
                while (i < request.ports.size() && !same(row.port, request.ports[i]))
                    ++i;
                const std::string where = name + ", строка " + std::to_string(row.row);
                if (i >= request.ports.size() || i >= plan.images.size()) {
                    c.error(where + ": порт " + row.port + " не указан в команде");
                    return c.out;
                }
                if (covered[i]) {
                    c.error(where + ": второй раз порт " + row.port);
                    return c.out;
                }
                covered[i] = true;
                c.row(row, name, plan.images[i]);
            }
            for (std::size_t i = 0; i < covered.size() && !c.failed; ++i)
                if (!covered[i]) {
                    c.error(name + ": нет строки для порта " + request.ports[i]);
                    return c.out;
                }
        }
        if (c.failed) {
            c.out.issues.push_back({Severity::Error, kUntouched, true});
            return c.out;
        }
    }

    if (!request.number.empty()) {
        std::string error;
        for (const ParameterImage& image : plan.images)
            if (!(plan.counter = ParseCounter(request.number, image, error))) {
                c.error(error);
                return c.out;
            }
    }
    if (plan.numbered() && plan.ledger.empty()) {
        c.error("со списком или --number нужен --report или --ledger: учёт хранит, что уже выдано, и не "
                "даёт выдать это второй раз");
        return c.out;
    }
    c.out.plan = std::move(plan);
    return c.out;
}

} // namespace tk7v::station
