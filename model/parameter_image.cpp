#include "model/parameter_image.h"

#include "model/integer_text.h"
#include "model/phone_codec.h"

#include <deque>
#include <exception>
#include <span>
#include <stdexcept>

namespace tk7v {

namespace {

using Forced = FieldSpec::Forced;

std::vector<FieldSpec> makeLayout() {
    using K = FieldKind;
    std::vector<FieldSpec> layout;
    // The names and composed captions outlive the table: they are kept here once (a deque never
    // moves its elements).
    static std::deque<std::string> names;
    const auto keep = [](const std::string& n) -> std::string_view { return names.emplace_back(n); };
    // An integer field: its caption is its text followed by its range, as the window's label
    // shows it, so the range is written down once.
    const auto integer = [&](const std::string& control, std::size_t offset, K kind, const char* text,
                             FieldRange range, const char* initial, int limit, bool hidden) {
        const std::string caption =
            std::string(text) + " (" + std::to_string(range.low) + "-" + std::to_string(range.high) + ")";
        return FieldSpec{keep(control), offset, kind, Forced::No, keep(caption),
                         initial,       limit,  {},   hidden,     range};
    };
    // Both central-station profiles share one shape; only the prefix, the base, the active
    // state and one start-up value differ. The second profile's page is never shown.
    struct Profile {
        const char* prefix;
        std::size_t base;
        Forced active;
        const char* activeCaption;
        const char* kissoff;
    };
    static const Profile profiles[] = {
        {"CS1_", 0, Forced::On, "Активировать профиль ЦС №1", "1"},
        {"CS2_", 112, Forced::Off, "Активировать профиль ЦС №2", "3"},
    };
    for (const Profile& p : profiles) {
        const std::string x = p.prefix;
        const bool page = p.active == Forced::Off; // the hidden page
        layout.push_back({keep(x + "active"),
                          p.base + 1,
                          K::Check,
                          p.active,
                          p.activeCaption,
                          p.active == Forced::On ? "1" : "0",
                          0,
                          {},
                          page,
                          {}});
        const struct {
            const char* field;
            const char* caption;
            FieldRange range;
            int limit;
            const char* initial;
        } bytes[] = {
            {"dial_each_n", "Число наборов номера", {1, 9}, 1, "1"},
            {"dial_cycles", "Число циклов перед паузой", {1, 9}, 1, "1"},
            {"dial_pause", "Пауза, мин.", {0, 10}, 2, "3"},
            {"hand_time", "Ожидать HANDSHAKE, сек.", {5, 30}, 2, "10"},
            {"kissoff_time", "Ожидать KISSOFF, сек.", {1, 9}, 1, p.kissoff},
            {"send_repeats", "Число повторных передач", {0, 9}, 1, "0"},
        };
        for (std::size_t i = 0; i < 6; ++i)
            layout.push_back(integer(x + bytes[i].field, p.base + 2 + i, K::Byte, bytes[i].caption,
                                     bytes[i].range, bytes[i].initial, bytes[i].limit, page));
        layout.push_back({keep(x + "send_paf"),
                          p.base + 8,
                          K::Item,
                          Forced::No,
                          "Формат передачи",
                          "0",
                          0,
                          {"Contact ID", "PAF"},
                          true,
                          {}});
        layout.push_back(
            integer(x + "fmt_tel_p", p.base + 9, K::Byte, "Формат станции P", {0, 255}, "0", 3, true));
        static const char* const phones[] = {"Телефон №1", "Телефон №2", "Телефон №3", "Телефон №4"};
        for (std::size_t i = 0; i < 4; ++i)
            layout.push_back({keep(x + "phone_" + std::to_string(i + 1)),
                              p.base + 16 + kPhoneSlotSize * i,
                              K::Phone,
                              Forced::No,
                              phones[i],
                              "",
                              23,
                              {},
                              page,
                              {}});
    }
    const auto check = [&](const char* control, std::size_t offset, const char* caption) {
        return FieldSpec{control, offset, K::Check, Forced::No, caption, "0", 0, {}, true, {}};
    };
    const auto item = [&](const char* control, std::size_t offset, const char* caption, const char* first,
                          const char* second) {
        return FieldSpec{control, offset, K::Item, Forced::No, caption, "0", 0, {first, second}, false, {}};
    };
    const FieldSpec line[] = {
        check("TS_line_ctrl_on", 224, "Включить контроль"),
        integer("TS_line_ctrl_tm", 225, K::Byte, "Период контроля, мин.", {1, 255}, "30", 3, true),
        integer("TS_object_id", 226, K::Word, "Номер объекта", {0, 8191}, "0", 4, true),
        integer("TS_fmt_radio_t", 228, K::Word, "Формат станции T", {0, 9999}, "0", 4, true),
        item("TS_tone_dial_on", 230, "Набор номера", "Импульс", "Тон"),
        check("RS_filter_on", 231, "Включить фильтрацию"),
        check("RS_alarm_on", 232, "Тревожные события"),
        check("RS_arm_disarm_on", 233, "События постановки/снятия"),
        check("RS_other_on", 234, "Остальные события"),
        item("RS_newpaf_on", 235, "Протокол", "PAF", "NEWPAF"),
        integer("RS_packets", 236, K::Byte, "Число пачек", {1, 10}, "3", 2, true),
        integer("RS_frames", 237, K::Byte, "Число кадров в пачке", {1, 10}, "5", 2, true),
    };
    layout.insert(layout.end(), std::begin(line), std::end(line));
    return layout;
}

std::span<std::uint8_t, kPhoneSlotSize> slotOf(ParameterImage& image, std::size_t offset) {
    return std::span<std::uint8_t, kPhoneSlotSize>(image.data() + offset, kPhoneSlotSize);
}

std::span<const std::uint8_t, kPhoneSlotSize> slotOf(const ParameterImage& image, std::size_t offset) {
    return std::span<const std::uint8_t, kPhoneSlotSize>(image.data() + offset, kPhoneSlotSize);
}

} // namespace

const std::vector<FieldSpec>& ImageLayout() {
    static const std::vector<FieldSpec> layout = makeLayout();
    return layout;
}

const FieldSpec* FindField(std::string_view control) {
    for (const FieldSpec& f : ImageLayout())
        if (f.control == control) return &f;
    return nullptr;
}

FieldValues::FieldValues() {
    for (const FieldSpec& f : ImageLayout()) {
        if (f.kind == FieldKind::Check || f.kind == FieldKind::Item)
            states_[std::string(f.control)] = f.initial == "1" ? 1 : 0;
        else
            texts_[std::string(f.control)] = std::string(f.initial);
    }
}

namespace {

template <class Map> auto& entry(Map& map, std::string_view control) {
    const auto it = map.find(control);
    if (it == map.end()) throw std::out_of_range("no control " + std::string(control));
    return it->second;
}

} // namespace

std::string FieldValues::text(std::string_view c) const {
    return entry(texts_, c);
}
void FieldValues::setText(std::string_view c, const std::string& t) {
    entry(texts_, c) = t;
}
bool FieldValues::checked(std::string_view c) const {
    return entry(states_, c) != 0;
}
void FieldValues::setChecked(std::string_view c, bool on) {
    entry(states_, c) = on ? 1 : 0;
}
int FieldValues::itemIndex(std::string_view c) const {
    return entry(states_, c);
}
void FieldValues::setItemIndex(std::string_view c, int i) {
    entry(states_, c) = i;
}

ParameterImage StartupImage() {
    ParameterImage image;
    BuildImage(FieldValues(), image);
    return image;
}

CodecResult BuildImage(const ControlAccess& controls, ParameterImage& image) {
    image.fill(0xFF);
    try {
        for (const FieldSpec& f : ImageLayout()) {
            switch (f.kind) {
            case FieldKind::Check:
                image[f.offset] = controls.checked(f.control) ? 1 : 0;
                break;
            case FieldKind::Item:
                image[f.offset] = static_cast<std::uint8_t>(controls.itemIndex(f.control));
                break;
            case FieldKind::Phone:
                EncodePhone(controls.text(f.control), slotOf(image, f.offset));
                break;
            case FieldKind::Byte:
            case FieldKind::Word: {
                const std::string text = controls.text(f.control);
                const auto value = ParseInteger(text);
                if (!value) return {false, "'" + text + "' is not a valid integer value"};
                const auto bits = static_cast<std::uint32_t>(*value);
                image[f.offset] = static_cast<std::uint8_t>(bits & 0xFF);
                if (f.kind == FieldKind::Word)
                    image[f.offset + 1] = static_cast<std::uint8_t>((bits >> 8) & 0xFF);
                break;
            }
            }
        }
    } catch (const std::exception& e) {
        return {false, e.what()};
    }
    return {};
}

CodecResult ApplyImage(const ParameterImage& image, ControlAccess& controls) {
    try {
        for (const FieldSpec& f : ImageLayout()) {
            const std::uint8_t b = image[f.offset];
            switch (f.kind) {
            case FieldKind::Check:
                controls.setChecked(f.control, f.forced == Forced::No ? b != 0 : f.forced == Forced::On);
                break;
            case FieldKind::Item:
                controls.setItemIndex(f.control, b != 0 ? 1 : 0);
                break;
            case FieldKind::Phone:
                controls.setText(f.control, DecodePhone(slotOf(image, f.offset)));
                break;
            case FieldKind::Byte:
                controls.setText(f.control, std::to_string(b));
                break;
            case FieldKind::Word:
                controls.setText(f.control, std::to_string(b | (image[f.offset + 1] << 8)));
                break;
            }
        }
    } catch (const std::exception& e) {
        return {false, e.what()};
    }
    return {};
}

std::string CodecErrorText(CodecStage stage, const std::string& failure) {
    static const std::string phrase = "is not a valid integer value";
    std::string text = failure;
    if (const auto at = text.find(phrase); at != std::string::npos)
        text = text.substr(0, at) + "не является разрешённым числовым значением";
    const char* prefix =
        stage == CodecStage::Build ? "Ошибка при обработке данных: " : "Ошибка при установке данных: ";
    return prefix + text + ".";
}

} // namespace tk7v
