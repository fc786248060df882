#include "fields.h"

#include <cstdio>

namespace tk7v::cli {

namespace {

std::size_t widthOf(FieldKind kind) {
    switch (kind) {
    case FieldKind::Word:
        return 2;
    case FieldKind::Phone:
        return 24;
    default:
        return 1;
    }
}

std::string hex(const ParameterImage& image, std::size_t offset, std::size_t width) {
    std::string out;
    for (std::size_t i = 0; i < width; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%s%02X", i ? " " : "", image[offset + i]);
        out += b;
    }
    return out;
}

// Counts characters, not bytes, as the window's length limits do.
std::size_t characters(const std::string& utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8)
        n += (c & 0xC0) != 0x80;
    return n;
}

} // namespace

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

std::vector<Difference> DiffFields(const ParameterImage& first, const ParameterImage& second) {
    const auto a = ViewFields(first);
    const auto b = ViewFields(second);
    std::vector<Difference> out;
    std::array<bool, kParameterLength> held{};
    for (std::size_t i = 0; i < a.size(); ++i) {
        const FieldSpec& f = *a[i].field;
        const std::size_t width = widthOf(f.kind);
        std::fill_n(held.begin() + static_cast<long>(f.offset), width, true);
        if (std::equal(first.begin() + static_cast<long>(f.offset),
                       first.begin() + static_cast<long>(f.offset + width),
                       second.begin() + static_cast<long>(f.offset)))
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

std::string SetFields(ParameterImage& image, const std::vector<std::string>& assignments) {
    FieldValues values;
    ApplyImage(image, values);
    for (const std::string& a : assignments) {
        const std::size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        const FieldSpec* f = eq == std::string::npos ? nullptr : FindField(name);
        if (eq == std::string::npos) return "Ожидается ИМЯ=ЗНАЧЕНИЕ: " + a;
        if (!f) return "Неизвестное поле: " + name;
        const std::string value = a.substr(eq + 1);
        switch (f->kind) {
        case FieldKind::Check:
            if (value == "1" || value == "да" || value == "true" || value == "on")
                values.setChecked(name, true);
            else if (value == "0" || value == "нет" || value == "false" || value == "off")
                values.setChecked(name, false);
            else
                return name + ": '" + value + "' — ожидается 1 или 0 (да или нет)";
            break;
        case FieldKind::Item:
            if (value == "0" || value == f->items[0])
                values.setItemIndex(name, 0);
            else if (value == "1" || value == f->items[1])
                values.setItemIndex(name, 1);
            else
                return name + ": '" + value + "' — ожидается " + std::string(f->items[0]) + " или " +
                       std::string(f->items[1]);
            break;
        default:
            if (characters(value) > static_cast<std::size_t>(f->limit))
                return name + ": '" + value + "' длиннее " + std::to_string(f->limit) + " симв.";
            values.setText(name, value);
        }
    }
    ParameterImage built;
    const CodecResult r = BuildImage(values, built);
    if (!r.ok) return CodecErrorText(CodecStage::Build, r.message);
    image = built;
    return {};
}

} // namespace tk7v::cli
