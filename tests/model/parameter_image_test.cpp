#include "../common/startup_image.h"
#include "model/parameter_image.h"
#include "model/phone_codec.h"
#include "recording_controls.h"

#include <gtest/gtest.h>

using namespace tk7v;
using tk7v::test::ControlsHolding;
using tk7v::test::Holds;
using tk7v::test::RecordingControls;

namespace {

ParameterImage built(const RecordingControls& c) {
    ParameterImage img;
    EXPECT_TRUE(BuildImage(c, img).ok);
    return img;
}

} // namespace

TEST(ParameterImage, StartupImageByteForByte) {
    const ParameterImage img = built(RecordingControls());
    const ParameterImage expected = test::StartupImage();
    EXPECT_TRUE(StartupImage() == expected);
    for (std::size_t i = 0; i < kImageSize; ++i)
        EXPECT_EQ(img[i], expected[i]) << "offset " << i;
}

TEST(ParameterImage, IntegerFieldsStoreLowBits) {
    const struct {
        const char* control;
        const char* text;
        std::size_t offset;
        std::vector<std::uint8_t> bytes;
        const char* shownBack;
    } cases[] = {
        {"TS_line_ctrl_tm", "300", 225, {0x2C}, "44"},
        {"CS1_dial_pause", " 5", 4, {5}, "5"},
        {"CS1_dial_pause", "+7", 4, {7}, "7"},
        {"CS1_hand_time", "-1", 5, {0xFF}, "255"},
        {"CS1_fmt_tel_p", "$1F", 9, {31}, "31"},
        {"CS2_send_repeats", "x10", 119, {16}, "16"},
        {"TS_fmt_radio_t", "9999", 228, {0x0F, 0x27}, "9999"},
        {"TS_object_id", "-1", 226, {0xFF, 0xFF}, "65535"},
        {"TS_object_id", "70000", 226, {0x70, 0x11}, "4464"},
        {"RS_frames", "$FFFFFFFF", 237, {0xFF}, "255"},
    };
    for (const auto& c : cases) {
        RecordingControls in;
        in.setText(c.control, c.text);
        const ParameterImage img = built(in);
        for (std::size_t i = 0; i < c.bytes.size(); ++i)
            EXPECT_EQ(img[c.offset + i], c.bytes[i]) << c.control << " " << c.text;
        RecordingControls out;
        ASSERT_TRUE(ApplyImage(img, out).ok);
        EXPECT_EQ(out.text(c.control), c.shownBack) << c.control << " " << c.text;
    }
}

TEST(ParameterImage, FailureKeepsEarlierFieldsAndLeavesTheRestFF) {
    RecordingControls c;
    c.setText("CS1_phone_1", "123");
    c.setText("CS2_dial_pause", "1a"); // offset 116
    c.setText("TS_line_ctrl_tm", "44");
    ParameterImage img;
    const CodecResult r = BuildImage(c, img);
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(r.message, "'1a' is not a valid integer value");
    EXPECT_EQ(CodecErrorText(CodecStage::Build, r.message),
              "Ошибка при обработке данных: '1a' не является разрешённым числовым значением.");
    const ParameterImage expected = test::StartupImage();
    for (std::size_t i = 0; i < 116; ++i)
        EXPECT_EQ(img[i], i == 16 ? 1 : i == 17 ? 2 : i == 18 ? 3 : expected[i]) << "offset " << i;
    for (std::size_t i = 116; i < kImageSize; ++i)
        EXPECT_EQ(img[i], 0xFF) << "offset " << i;
}

TEST(ParameterImage, ErrorTexts) {
    RecordingControls c;
    c.setText("CS1_dial_each_n", "");
    ParameterImage img;
    const CodecResult r = BuildImage(c, img);
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(CodecErrorText(CodecStage::Build, r.message),
              "Ошибка при обработке данных: '' не является разрешённым числовым значением.");
    EXPECT_EQ(img[1], 1);
    EXPECT_EQ(img[2], 0xFF);
    // Other failures pass their own text through, with the stage's prefix and a full stop.
    EXPECT_EQ(CodecErrorText(CodecStage::Apply, "Out of memory"),
              "Ошибка при установке данных: Out of memory.");
}

TEST(ParameterImage, AllFFImageApplied) {
    ParameterImage img;
    img.fill(0xFF);
    RecordingControls c;
    ASSERT_TRUE(ApplyImage(img, c).ok);
    for (const std::string& name : ControlsHolding(Holds::Text)) {
        if (name.find("phone") != std::string::npos)
            EXPECT_EQ(c.text(name), "") << name;
        else if (name == "TS_object_id" || name == "TS_fmt_radio_t")
            EXPECT_EQ(c.text(name), "65535") << name;
        else
            EXPECT_EQ(c.text(name), "255") << name;
    }
    for (const std::string& name : ControlsHolding(Holds::Check))
        EXPECT_EQ(c.checked(name), name != "CS2_active") << name;
    for (const std::string& name : ControlsHolding(Holds::Item))
        EXPECT_EQ(c.itemIndex(name), 1) << name;
}

TEST(ParameterImage, AllZeroImageApplied) {
    ParameterImage img{};
    RecordingControls c;
    c.setChecked("CS2_active", true);
    c.setChecked("RS_alarm_on", true);
    ASSERT_TRUE(ApplyImage(img, c).ok);
    for (const std::string& name : ControlsHolding(Holds::Text))
        EXPECT_EQ(c.text(name), name.find("phone") != std::string::npos ? "" : "0") << name;
    for (const std::string& name : ControlsHolding(Holds::Check))
        EXPECT_EQ(c.checked(name), name == "CS1_active") << name;
    for (const std::string& name : ControlsHolding(Holds::Item))
        EXPECT_EQ(c.itemIndex(name), 0) << name;
}

TEST(ParameterImage, ApplySetsSwitchesInRuleOrder) {
    ParameterImage img{};
    RecordingControls c;
    ASSERT_TRUE(ApplyImage(img, c).ok);
    const std::vector<std::string> expected = {"CS1_active",   "CS1_send_paf",    "CS2_active",
                                               "CS2_send_paf", "TS_line_ctrl_on", "TS_tone_dial_on",
                                               "RS_filter_on", "RS_alarm_on",     "RS_arm_disarm_on",
                                               "RS_other_on",  "RS_newpaf_on"};
    EXPECT_EQ(c.sets, expected);
}

TEST(ParameterImage, RoundTripReducesOnlyWhatTheLayoutCannotHold) {
    ParameterImage img;
    for (std::size_t i = 0; i < kImageSize; ++i)
        img[i] = static_cast<std::uint8_t>(i * 7 + 3);
    RecordingControls c;
    ASSERT_TRUE(ApplyImage(img, c).ok);
    ParameterImage again;
    ASSERT_TRUE(BuildImage(c, again).ok);
    EXPECT_EQ(again[1], 1);
    EXPECT_EQ(again[113], 0);
    for (std::size_t i : {8u, 120u, 224u, 230u, 231u, 232u, 233u, 234u, 235u})
        EXPECT_EQ(again[i], img[i] != 0 ? 1 : 0) << i;
    for (std::size_t i : {0u, 10u, 15u, 112u, 122u, 127u, 238u, 511u})
        EXPECT_EQ(again[i], 0xFF) << i;
    for (std::size_t i : {2u, 7u, 9u, 114u, 121u, 225u, 226u, 227u, 228u, 229u, 236u, 237u})
        EXPECT_EQ(again[i], img[i]) << i;
}

TEST(PhoneCodec, EncodeAndDecode) {
    const struct {
        const char* text;
        std::vector<std::uint8_t> codes;
        const char* back;
    } cases[] = {
        {"8 (012) 34-56", {8, 0x0A, 1, 2, 3, 4, 5, 6}, "80123456"},
        {",,", {0x2C, 0x2C}, ",,"},
        {"0", {0x0A}, "0"},
        {"+7 abc", {7}, "7"},
        {"", {}, ""},
        // A full slot keeps all 24 symbols; from the 25th on they are dropped.
        {"123456789012345678901234",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 0x0A, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x0A, 1, 2, 3, 4},
         "123456789012345678901234"},
        {"1234567890123456789012345678",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 0x0A, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x0A, 1, 2, 3, 4},
         "123456789012345678901234"},
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, kPhoneSlotSize> slot;
        slot.fill(0xEE);
        EncodePhone(c.text, slot);
        for (std::size_t i = 0; i < kPhoneSlotSize; ++i)
            EXPECT_EQ(slot[i], i < c.codes.size() ? c.codes[i] : 0) << c.text << " @" << i;
        EXPECT_EQ(DecodePhone(slot), c.back);
    }
}

TEST(PhoneCodec, SlotBoundaries) {
    std::array<std::uint8_t, 3 * kPhoneSlotSize> three;
    three.fill(0x77);
    // A text longer than a slot never writes past it.
    EncodePhone(std::string(40, '5'),
                std::span<std::uint8_t, kPhoneSlotSize>(three.data() + kPhoneSlotSize, kPhoneSlotSize));
    EXPECT_EQ(three[kPhoneSlotSize - 1], 0x77);
    EXPECT_EQ(three[2 * kPhoneSlotSize], 0x77);
    // 24 codes and no zero: 24 symbols, nothing from the next slot.
    std::array<std::uint8_t, 2 * kPhoneSlotSize> two;
    std::fill(two.begin(), two.begin() + kPhoneSlotSize, 0x01);
    std::fill(two.begin() + kPhoneSlotSize, two.end(), 0x02);
    EXPECT_EQ(DecodePhone(std::span<const std::uint8_t, kPhoneSlotSize>(two.data(), kPhoneSlotSize)),
              std::string(24, '1'));
    std::array<std::uint8_t, kPhoneSlotSize> ff;
    ff.fill(0xFF);
    EXPECT_EQ(DecodePhone(ff), "");
    std::array<std::uint8_t, kPhoneSlotSize> zeroFirst;
    zeroFirst.fill(0x05);
    zeroFirst[0] = 0;
    EXPECT_EQ(DecodePhone(zeroFirst), "");
}

TEST(PhoneCodec, CodesThatMeanNothingAreSkippedNotTakenForTheEnd) {
    const struct {
        std::vector<std::uint8_t> codes;
        const char* number;
    } cases[] = {
        {{8, 0x0B, 0x0A, 0xFF, 5}, "805"},
        {{0x2C, 0x30, 0x2C, 0x7F, 0x09}, ",,9"},
        {{0xFF, 0xEE, 1, 0, 2}, "1"}, // a zero ends it
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, kPhoneSlotSize> slot{};
        std::copy(c.codes.begin(), c.codes.end(), slot.begin());
        EXPECT_EQ(DecodePhone(slot), c.number);
    }
}
