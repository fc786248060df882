#include "model/field_rules.h"

#include <gtest/gtest.h>

using namespace tk7v;
using K = FieldIssue::Kind;

namespace {

std::string shown(const ParameterImage& image, std::string_view control) {
    for (const FieldView& v : ViewFields(image))
        if (v.field->control == control) return v.text;
    return "?";
}

} // namespace

TEST(FieldRules, SetAsTheWindowWouldOrSayWhy) {
    const struct {
        std::vector<std::string> assignments;
        bool strict;
        std::vector<K> issues;
        const char* field;   // shown afterwards ...
        const char* value;   // ... with this text (the start-up value when refused)
        const char* message; // a piece of the first issue's text
    } cases[] = {
        {{"CS1_hand_time=25"}, false, {}, "CS1_hand_time", "25", nullptr},
        {{"TS_line_ctrl_tm=$1E"}, false, {}, "TS_line_ctrl_tm", "30", nullptr},
        {{"TS_tone_dial_on=Тон"}, false, {}, "TS_tone_dial_on", "Тон", nullptr},
        {{"RS_newpaf_on=1"}, false, {}, "RS_newpaf_on", "NEWPAF", nullptr},
        {{"RS_filter_on=да"}, false, {}, "RS_filter_on", "да", nullptr},
        {{"CS1_phone_1=8 (495) 123-45-67"}, false, {}, "CS1_phone_1", "84951234567", nullptr},
        {{"CS1_active=да"}, false, {}, "CS1_active", "да", nullptr}, // what it is anyway
        // The top of a range is in it.
        {{"CS1_dial_each_n=9", "TS_object_id=8191"}, true, {}, "TS_object_id", "8191", nullptr},
        // Out of range: stored as the window stores it, and said.
        {{"TS_line_ctrl_tm=300"},
         false,
         {K::OutOfRange},
         "TS_line_ctrl_tm",
         "44",
         "вне диапазона 1-255; в поле записывается 44"},
        {{"TS_object_id=9000"},
         false,
         {K::OutOfRange},
         "TS_object_id",
         "9000",
         "TS_object_id («Номер объекта (0-8191)»): 9000"},
        {{"TS_object_id=-1"}, false, {K::OutOfRange}, "TS_object_id", "65535", "записывается 65535"},
        {{"TS_object_id=-1"}, true, {K::OutOfRange}, "TS_object_id", "0", "вне диапазона 0-8191"},
        // A letter typed for a digit: the window keeps the digits and commas, and it is said; what
        // hands one value to many devices refuses it.
        {{"CS1_phone_1=495O123"}, false, {K::NotAPhone}, "CS1_phone_1", "495123", "записывается «495123»"},
        {{"CS1_phone_1=8,,495O123"}, true, {K::NotAPhone}, "CS1_phone_1", "", "'8,,495O123'"},
        // A number written the international way: the device dials what it is given, and "+" is
        // none of its digits.
        {{"CS1_phone_1=+74951234567"}, false, {K::NotAPhone}, "CS1_phone_1", "74951234567", "«74951234567»"},
        {{"CS1_phone_1=+74951234567"}, true, {K::NotAPhone}, "CS1_phone_1", "", "'+74951234567'"},
        // Refused: nothing changes, the valid assignment beside it included.
        {{"CS1_hand_time=20", "CS1_active=нет"},
         false,
         {K::Fixed},
         "CS1_hand_time",
         "10",
         "CS1_active: окно программы не даёт"},
        {{"CS2_active=1"}, false, {K::Fixed}, "CS2_active", "нет", "всегда «нет»"},
        {{"CS1_dial_each_n=a"},
         false,
         {K::NotInteger},
         "CS1_dial_each_n",
         "1",
         "CS1_dial_each_n («Число наборов номера (1-9)»): 'a' не является разрешённым числовым значением; "
         "ожидается целое число 1-9"},
        {{"CS1_dial_each_n="}, false, {K::NotInteger}, "CS1_dial_each_n", "1", "''"},
        {{"CS1_hand_time=123"}, false, {K::TooLong}, "CS1_hand_time", "10", "длиннее 2"},
        {{"CS1_phone_1=123456789012345678901234"}, false, {K::TooLong}, "CS1_phone_1", "", "длиннее 23"},
        {{"CS1_active=может"}, false, {K::NotYesOrNo}, "CS1_active", "да", "ожидается 1 или 0"},
        {{"TS_tone_dial_on=2"},
         false,
         {K::NotAnItem},
         "TS_tone_dial_on",
         "Импульс",
         "ожидается Импульс или Тон"},
        {{"NO_SUCH=1"}, false, {K::UnknownField}, "CS1_hand_time", "10", "Неизвестное поле: NO_SUCH"},
        {{"CS1_hand_time"}, false, {K::NotAnAssignment}, "CS1_hand_time", "10", "ожидается ИМЯ=ЗНАЧЕНИЕ"},
        // Every issue is found, not only the first.
        {{"A=1", "CS1_hand_time=x", "TS_object_id=9000"},
         false,
         {K::UnknownField, K::NotInteger, K::OutOfRange},
         "TS_object_id",
         "0",
         "A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.assignments[0] + (c.strict ? " strict" : ""));
        ParameterImage image = StartupImage();
        const auto issues = SetFields(image, c.assignments, c.strict);
        std::vector<K> kinds;
        for (const FieldIssue& i : issues)
            kinds.push_back(i.kind);
        EXPECT_EQ(kinds, c.issues);
        EXPECT_EQ(shown(image, c.field), c.value);
        if (c.message) {
            ASSERT_FALSE(issues.empty());
            EXPECT_NE(IssueText(issues[0]).find(c.message), std::string::npos) << IssueText(issues[0]);
        }
    }
}

TEST(FieldRules, IntegerCaptionsCarryTheirRange) {
    for (const FieldSpec& f : ImageLayout()) {
        const bool integer = f.kind == FieldKind::Byte || f.kind == FieldKind::Word;
        EXPECT_EQ(f.range.has_value(), integer) << f.control;
        if (!integer) continue;
        const std::string end =
            " (" + std::to_string(f.range->low) + "-" + std::to_string(f.range->high) + ")";
        EXPECT_TRUE(std::string(f.caption).ends_with(end)) << f.caption;
        // The range fits the field, so an in-range value is stored as typed.
        EXPECT_LT(f.range->high, f.kind == FieldKind::Byte ? 256 : 65536) << f.control;
    }
}

// The operator reads fields by the window's words: the two stations' pages share captions, so
// theirs are told apart by the page.
TEST(FieldRules, ShownNamesAreTheWindowsWords) {
    const struct {
        const char *name, *shown;
    } cases[] = {
        {"CS1_phone_4", "ЦС №1: Телефон №4"},
        {"CS2_dial_pause", "ЦС №2: Пауза, мин."},
        {"CS1_active", "Активировать профиль ЦС №1"},
        {"TS_object_id", "Номер объекта"},
        {"байт 240", "байт 240"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShownName(c.name), c.shown);
}

TEST(FieldRules, DiffNamesFieldsAndShowsBytesWhereTheTextsAgree) {
    ParameterImage a = StartupImage(), b = a;
    b[230] = 1; // TS_tone_dial_on: Тон
    a[231] = 1; // RS_filter_on: "да" either way, so the bytes are shown
    b[231] = 2;
    b[a.size() - 1] = 0; // beyond the parameters: never compared
    b[12] = 0x00;        // a spare byte
    const auto diffs = DiffFields(a, b);
    ASSERT_EQ(diffs.size(), 3u);
    EXPECT_EQ(diffs[0].name, "TS_tone_dial_on");
    EXPECT_EQ(diffs[0].first, "Импульс");
    EXPECT_EQ(diffs[0].second, "Тон");
    EXPECT_EQ(diffs[1].name, "RS_filter_on");
    EXPECT_EQ(diffs[1].first, "да (01)");
    EXPECT_EQ(diffs[1].second, "да (02)");
    EXPECT_EQ(diffs[2].name, "байт 12");
    EXPECT_EQ(diffs[2].second, "00");
}
