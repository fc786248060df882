// What a label says, from the proven block: plain C++, no Qt.
#include "label.h"

#include "model/field_rules.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace tk7v::labels {

namespace {

std::tm LocalTime(std::chrono::system_clock::time_point when) {
    static std::mutex m; // localtime shares a static buffer
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::lock_guard lock(m);
    return *std::localtime(&t);
}

std::string Date(std::chrono::system_clock::time_point when) {
    const std::tm tm = LocalTime(when);
    char text[48];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
    return text;
}

std::string Code(const std::string& number, const std::string& sha256) {
    return number + " " + sha256.substr(0, std::min(kCodeShaDigits, sha256.size()));
}

// The given row and numbers, all but the label's own number, which stands above them.
void AddGiven(LabelContent& c, const station::Given& given,
              const std::function<std::string(const std::string& field, const std::string& value)>& valueOf) {
    if (given.row > 0) c.lines.push_back({"Строка списка", std::to_string(given.row)});
    for (const std::string& n : given.numbers) {
        const std::size_t eq = n.find('=');
        if (eq == std::string::npos) continue;
        const std::string field = n.substr(0, eq);
        if (field == kNumberField) continue;
        c.lines.push_back({ShownName(field), valueOf(field, n.substr(eq + 1))});
    }
}

} // namespace

bool ParseLabelSize(std::string_view text, LabelSize& size) {
    std::size_t at = text.find_first_of("xX*");
    std::size_t after = at + 1;
    if (const std::size_t times = text.find("×"); times != std::string_view::npos) {
        at = times;
        after = times + std::string_view("×").size();
    }
    if (at == std::string_view::npos) return false;
    const auto number = [](std::string_view t, double& v) {
        const auto [end, failed] = std::from_chars(t.data(), t.data() + t.size(), v);
        return !t.empty() && failed == std::errc() && end == t.data() + t.size();
    };
    LabelSize s;
    if (!number(text.substr(0, at), s.width) || !number(text.substr(after), s.height)) return false;
    const auto fits = [](double mm) { return mm >= 15 && mm <= 300; };
    if (!fits(s.width) || !fits(s.height)) return false;
    size = s;
    return true;
}

std::string LabelSizeText(const LabelSize& size) {
    const auto mm = [](double v) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", v);
        return std::string(text);
    };
    return mm(size.width) + "×" + mm(size.height);
}

std::vector<std::string> DefaultLabelFields() { return {"CS1_phone_1"}; }

LabelContent LabelOf(const ParameterImage& proven, const std::string& sha256, const station::Given& given,
                     const std::vector<std::string>& fields, std::chrono::system_clock::time_point when,
                     const std::string& station) {
    const std::vector<FieldView> view = ViewFields(proven);
    const auto shown = [&](std::string_view field) -> const FieldView* {
        const auto v = std::find_if(view.begin(), view.end(), [&](const FieldView& f) { return f.field->control == field; });
        return v == view.end() ? nullptr : &*v;
    };
    LabelContent c;
    if (const FieldView* n = shown(kNumberField)) c.number = n->text;
    // The block's values, not the plan's: what the device holds is what the label says.
    AddGiven(c, given, [&](const std::string& field, const std::string& planned) {
        const FieldView* v = shown(field);
        return v ? v->text : planned;
    });
    for (const std::string& field : fields) {
        const FieldView* v = shown(field);
        if (!v || field == kNumberField) continue;
        c.lines.push_back({ShownName(field), v->text});
    }
    c.date = Date(when);
    c.station = station;
    c.code = Code(c.number, sha256);
    return c;
}

LabelContent LabelOfRecord(const std::string& number, const std::string& sha256, const station::Given& given,
                           const std::string& when, const std::string& station) {
    LabelContent c;
    c.number = number;
    AddGiven(c, given, [](const std::string&, const std::string& value) { return value; });
    // The record's ISO time, 2026-12-07T14:16:31+03:00: its date as the label writes dates.
    if (when.size() >= 10 && when[4] == '-' && when[7] == '-')
        c.date = when.substr(8, 2) + "." + when.substr(5, 2) + "." + when.substr(0, 4);
    c.station = station;
    c.code = Code(number, sha256);
    return c;
}

std::string LabelFileName(const LabelContent& content, const std::string& port,
                          std::chrono::system_clock::time_point when) {
    const std::tm tm = LocalTime(when);
    char time[80];
    std::snprintf(time, sizeof time, "%04d-%02d-%02d %02d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    // A port's name may be a path (/dev/ttyUSB0, \\.\COM10): its last part names it.
    std::string portName = port.substr(std::min(port.size(), port.find_last_of("/\\") + 1));
    std::string name = (content.number.empty() ? std::string("без номера") : content.number) + " " + portName +
                       " " + time;
    for (char& ch : name)
        if (std::string_view("/\\:*?\"<>|").find(ch) != std::string_view::npos || (unsigned char)ch < 0x20) ch = '_';
    return name + ".pdf";
}

} // namespace tk7v::labels
