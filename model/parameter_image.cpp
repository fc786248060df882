#include "model/parameter_image.h"

#include "model/integer_text.h"
#include "model/phone_codec.h"

#include <exception>
#include <span>

namespace tk7v {

namespace {

using Forced = FieldSpec::Forced;

std::vector<FieldSpec> makeLayout() {
    std::vector<FieldSpec> layout;
    // Both central-station profiles share one shape; only the prefix and the base differ.
    struct Profile {
        const char* names[13];
        std::size_t base;
        Forced active;
    };
    static const Profile profiles[] = {
        {{"CS1_active", "CS1_dial_each_n", "CS1_dial_cycles", "CS1_dial_pause", "CS1_hand_time",
          "CS1_kissoff_time", "CS1_send_repeats", "CS1_send_paf", "CS1_fmt_tel_p", "CS1_phone_1",
          "CS1_phone_2", "CS1_phone_3", "CS1_phone_4"},
         0,
         Forced::On},
        {{"CS2_active", "CS2_dial_each_n", "CS2_dial_cycles", "CS2_dial_pause", "CS2_hand_time",
          "CS2_kissoff_time", "CS2_send_repeats", "CS2_send_paf", "CS2_fmt_tel_p", "CS2_phone_1",
          "CS2_phone_2", "CS2_phone_3", "CS2_phone_4"},
         112,
         Forced::Off},
    };
    for (const Profile& p : profiles) {
        layout.push_back({p.names[0], p.base + 1, FieldKind::Check, p.active});
        for (std::size_t i = 0; i < 6; ++i)
            layout.push_back({p.names[1 + i], p.base + 2 + i, FieldKind::Byte});
        layout.push_back({p.names[7], p.base + 8, FieldKind::Item});
        layout.push_back({p.names[8], p.base + 9, FieldKind::Byte});
        for (std::size_t i = 0; i < 4; ++i)
            layout.push_back({p.names[9 + i], p.base + 16 + 24 * i, FieldKind::Phone});
    }
    const FieldSpec line[] = {
        {"TS_line_ctrl_on", 224, FieldKind::Check}, {"TS_line_ctrl_tm", 225, FieldKind::Byte},
        {"TS_object_id", 226, FieldKind::Word},     {"TS_fmt_radio_t", 228, FieldKind::Word},
        {"TS_tone_dial_on", 230, FieldKind::Item},  {"RS_filter_on", 231, FieldKind::Check},
        {"RS_alarm_on", 232, FieldKind::Check},     {"RS_arm_disarm_on", 233, FieldKind::Check},
        {"RS_other_on", 234, FieldKind::Check},     {"RS_newpaf_on", 235, FieldKind::Item},
        {"RS_packets", 236, FieldKind::Byte},       {"RS_frames", 237, FieldKind::Byte},
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
