#include "config_json.h"

#include "model/config_file.h"
#include "model/field_rules.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iterator>

namespace tk7v::station {

using nlohmann::json;

namespace {

// The value as `set` takes it, or empty with `why` set.
std::string valueText(const FieldSpec& f, const json& v, std::string& why) {
    switch (v.type()) {
    case json::value_t::string:
        return v.get<std::string>();
    case json::value_t::boolean:
        if (f.kind == FieldKind::Check) return v.get<bool>() ? "1" : "0";
        break;
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
        if (f.kind != FieldKind::Check && f.kind != FieldKind::Phone) return v.dump();
        break;
    default:
        break;
    }
    why = std::string(f.control) + ": значение " + v.dump() + " не подходит — ожидается " +
          (f.kind == FieldKind::Check   ? "true или false"
           : f.kind == FieldKind::Phone ? "строка с номером"
           : f.kind == FieldKind::Item
               ? "\"" + std::string(f.items[0]) + "\" или \"" + std::string(f.items[1]) + "\""
               : "целое число или строка");
    return {};
}

} // namespace

std::string ConfigJson(const ParameterImage& image) {
    json out = json::object();
    for (const FieldView& v : ViewFields(image)) {
        json value = v.text;
        if (v.field->kind == FieldKind::Check) value = v.on;
        out[std::string(v.field->control)] = {
            {"caption", std::string(v.field->caption)}, {"value", value}, {"hidden", v.field->hidden}};
    }
    return out.dump(2);
}

JsonAssignments AssignmentsFromJson(const std::string& text, const ParameterImage& current) {
    JsonAssignments out;
    const json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        out.error = "ожидается объект JSON, как его выводит show --json";
        return out;
    }
    const std::vector<FieldView> views = ViewFields(current);
    for (const auto& [name, entry] : doc.items()) {
        const FieldSpec* f = FindField(name);
        if (!f) {
            out.error = "Неизвестное поле: " + name;
            return out;
        }
        const json* v = &entry;
        if (entry.is_object()) {
            if (!entry.contains("value")) {
                out.error = name + ": нет \"value\"";
                return out;
            }
            v = &entry["value"];
        }
        std::string why;
        const std::string value = valueText(*f, *v, why);
        if (!why.empty()) {
            out.error = why;
            return out;
        }
        // The check boxes the window sets itself after every load can never hold another value:
        // show prints them, and they come back unchanged or not at all. Every other field,
        // hidden ones included, is taken as set takes it, so that a configuration kept as text
        // gives back the same bytes.
        if (f->forced != FieldSpec::Forced::No) {
            const auto view =
                std::find_if(views.begin(), views.end(), [&](const FieldView& w) { return w.field == f; });
            const std::string now = f->kind == FieldKind::Check ? (view->on ? "1" : "0") : view->text;
            if (value != now && !(f->kind == FieldKind::Check && value == view->text)) {
                out.error = name + ": поле, которое окно не даёт изменить (в файле " + view->text + ")";
                return out;
            }
            continue;
        }
        out.assignments.push_back(name + "=" + value);
    }
    return out;
}

} // namespace tk7v::station
