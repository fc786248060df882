#include "model/field_rules.h"

#include "model/integer_text.h"

#include <algorithm>
#include <cstdio>

namespace tk7v {

namespace {

std::string hex(const ParameterImage& image, std::size_t offset, std::size_t width) {
    std::string out;
    for (std::size_t i = 0; i < width; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%s%02X", i ? " " : "", image[offset + i]);
        out += b;
    }
    return out;
}

std::optional<bool> yesOrNo(const std::string& value) {
    for (const char* yes : {"1", "да", "true", "on"})
        if (value == yes) return true;
    for (const char* no : {"0", "нет", "false", "off"})
        if (value == no) return false;
    return std::nullopt;
}

std::string rangeText(const FieldSpec& f) {
    return std::to_string(f.range->low) + "-" + std::to_string(f.range->high);
}

std::string named(const FieldSpec& f) {
    return std::string(f.control) + " («" + std::string(f.caption) + "»)";
}

} // namespace

std::size_t Utf8Characters(std::string_view utf8) {
    return static_cast<std::size_t>(
        std::count_if(utf8.begin(), utf8.end(), [](unsigned char c) { return (c & 0xC0) != 0x80; }));
}

std::vector<FieldView> ViewFields(const ParameterImage& image) {
    FieldValues values;
    ApplyImage(image, values); // no value of an image fails to apply
    std::vector<FieldView> out;
    for (const FieldSpec& f : ImageLayout()) {
        FieldView v{&f, {}, false};
        switch (f.kind) {
        case FieldKind::Check:
            v.on = values.checked(f.control);
            v.text = v.on ? "да" : "нет";
            break;
        case FieldKind::Item:
            v.text = std::string(f.items[static_cast<std::size_t>(values.itemIndex(f.control))]);
            break;
        default:
            v.text = values.text(f.control);
        }
        out.push_back(std::move(v));
    }
    return out;
}

std::string ShownName(std::string_view control) {
    const FieldSpec* f = FindField(control);
    if (!f || f->caption.empty()) return std::string(control);
    std::string caption(f->caption);
    if (f->range) caption.erase(caption.rfind(" ("));
    for (const char* page : {"CS1_", "CS2_"})
        if (control.starts_with(page) && caption.find("ЦС №") == std::string::npos)
            return std::string("ЦС №") + page[2] + ": " + caption;
    return caption;
}

std::vector<Difference> DiffFields(const ParameterImage& first, const ParameterImage& second) {
    const auto a = ViewFields(first);
    const auto b = ViewFields(second);
    std::vector<Difference> out;
    std::array<bool, kParameterLength> held{};
    for (std::size_t i = 0; i < a.size(); ++i) {
        const FieldSpec& f = *a[i].field;
        const std::size_t width = FieldWidth(f.kind);
        const auto from = static_cast<std::ptrdiff_t>(f.offset);
        std::fill_n(held.begin() + from, width, true);
        if (std::equal(first.begin() + from, first.begin() + from + static_cast<std::ptrdiff_t>(width),
                       second.begin() + from))
            continue;
        Difference d{std::string(f.control), std::string(f.caption), a[i].text, b[i].text};
        if (d.first == d.second) {
            d.first += " (" + hex(first, f.offset, width) + ")";
            d.second += " (" + hex(second, f.offset, width) + ")";
        }
        out.push_back(std::move(d));
    }
    for (std::size_t i = 0; i < kParameterLength; ++i)
        if (!held[i] && first[i] != second[i])
            out.push_back({"байт " + std::to_string(i), {}, hex(first, i, 1), hex(second, i, 1)});
    return out;
}

ParameterImage AsTheWindowBuildsIt(const ParameterImage& parameters) {
    ParameterImage image;
    image.fill(0xFF);
    std::copy_n(parameters.begin(), kParameterLength, image.begin());
    FieldValues values;
    ApplyImage(image, values);
    BuildImage(values, image); // the values came from bytes, so every one converts
    return image;
}

std::string IssueText(const FieldIssue& issue) {
    using K = FieldIssue::Kind;
    const std::string quoted = "'" + issue.value + "'";
    switch (issue.kind) {
    case K::NotAnAssignment:
        return "'" + issue.assignment + "': ожидается ИМЯ=ЗНАЧЕНИЕ";
    case K::UnknownField:
        return "Неизвестное поле: " + issue.assignment.substr(0, issue.assignment.find('=')) +
               " (имена полей: tk7v-cli show ФАЙЛ)";
    default:
        break;
    }
    const FieldSpec& f = *issue.field;
    const std::string name(f.control);
    switch (issue.kind) {
    case K::Fixed:
        return name + ": окно программы не даёт изменить это поле, после загрузки оно всегда «" +
               (f.forced == FieldSpec::Forced::On ? "да" : "нет") + "»";
    case K::NotInteger:
        return named(f) + ": " + quoted +
               " не является разрешённым числовым значением; ожидается целое число " + rangeText(f);
    case K::TooLong:
        return named(f) + ": " + quoted + " длиннее " + std::to_string(f.limit) +
               " симв. (больше поле окна не вмещает)";
    case K::NotYesOrNo:
        return named(f) + ": " + quoted + " — ожидается 1 или 0 (да или нет)";
    case K::NotAnItem:
        return named(f) + ": " + quoted + " — ожидается " + std::string(f.items[0]) + " или " +
               std::string(f.items[1]) + " (0 или 1)";
    case K::OutOfRange:
        return named(f) + ": " + issue.value + " вне диапазона " + rangeText(f) + "; в поле записывается " +
               issue.stored;
    case K::NotAPhone:
        return named(f) + ": " + quoted +
               " — в номере телефона допустимы цифры и запятые (пробелы, скобки и дефисы пропускаются); в "
               "поле записывается «" +
               issue.stored + "»";
    default:
        return {};
    }
}

std::vector<FieldIssue> SetFields(ParameterImage& image, std::span<const std::string> assignments,
                                  bool strict) {
    using K = FieldIssue::Kind;
    FieldValues values;
    ApplyImage(image, values);
    std::vector<FieldIssue> issues;
    bool refused = false;
    for (const std::string& a : assignments) {
        const std::size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : a.substr(eq + 1);
        const FieldSpec* f = eq == std::string::npos ? nullptr : FindField(name);
        const auto issue = [&](K kind, std::string stored = {}) {
            issues.push_back({kind, a, f, value, std::move(stored)});
            refused = refused || !issues.back().warning() || strict;
        };
        if (eq == std::string::npos) {
            issue(K::NotAnAssignment);
            continue;
        }
        if (!f) {
            issue(K::UnknownField);
            continue;
        }
        switch (f->kind) {
        case FieldKind::Check: {
            const auto on = yesOrNo(value);
            if (!on)
                issue(K::NotYesOrNo);
            else if (f->forced != FieldSpec::Forced::No && *on != (f->forced == FieldSpec::Forced::On))
                issue(K::Fixed);
            else
                values.setChecked(f->control, *on);
            break;
        }
        case FieldKind::Item:
            if (value == "0" || value == f->items[0])
                values.setItemIndex(f->control, 0);
            else if (value == "1" || value == f->items[1])
                values.setItemIndex(f->control, 1);
            else
                issue(K::NotAnItem);
            break;
        case FieldKind::Phone:
            if (Utf8Characters(value) > static_cast<std::size_t>(f->limit)) {
                issue(K::TooLong);
                break;
            }
            values.setText(f->control, value);
            // The device keeps digits and commas; a letter typed for a digit ("495O123") would be
            // dropped without a word and the number dialled would be another.
            if (value.find_first_not_of("0123456789, ()-") != std::string::npos) {
                std::string kept;
                for (const char c : value)
                    if ((c >= '0' && c <= '9') || c == ',') kept += c;
                issue(K::NotAPhone, kept);
            }
            break;
        case FieldKind::Byte:
        case FieldKind::Word: {
            if (Utf8Characters(value) > static_cast<std::size_t>(f->limit)) {
                issue(K::TooLong);
                break;
            }
            const auto number = ParseInteger(value);
            if (!number) {
                issue(K::NotInteger);
                break;
            }
            values.setText(f->control, value);
            if (*number < f->range->low || *number > f->range->high) {
                const auto bits = static_cast<std::uint32_t>(*number);
                issue(K::OutOfRange,
                      std::to_string(f->kind == FieldKind::Word ? bits & 0xFFFF : bits & 0xFF));
            }
            break;
        }
        }
    }
    if (refused) return issues;
    ParameterImage built;
    if (BuildImage(values, built).ok) image = built; // every integer was checked above
    return issues;
}

} // namespace tk7v
