#pragma once
// Controls as a map, holding the window's start-up values, for driving the conversions in tests.
#include "model/parameter_image.h"

#include <map>
#include <string>
#include <vector>

namespace tk7v::test {

class MapControls : public ControlAccess {
public:
    MapControls() {
        for (const char* p : {"CS1_", "CS2_"}) {
            const std::string s = p;
            texts[s + "dial_each_n"] = "1";
            texts[s + "dial_cycles"] = "1";
            texts[s + "dial_pause"] = "3";
            texts[s + "hand_time"] = "10";
            texts[s + "kissoff_time"] = s == "CS1_" ? "1" : "3";
            texts[s + "send_repeats"] = "0";
            texts[s + "fmt_tel_p"] = "0";
            for (int i = 1; i <= 4; ++i)
                texts[s + "phone_" + std::to_string(i)] = "";
            items[s + "send_paf"] = 0;
        }
        checks = {{"CS1_active", true},    {"CS2_active", false},  {"TS_line_ctrl_on", false},
                  {"RS_filter_on", false}, {"RS_alarm_on", false}, {"RS_arm_disarm_on", false},
                  {"RS_other_on", false}};
        texts["TS_line_ctrl_tm"] = "30";
        texts["TS_object_id"] = "0";
        texts["TS_fmt_radio_t"] = "0";
        texts["RS_packets"] = "3";
        texts["RS_frames"] = "5";
        items["TS_tone_dial_on"] = 0;
        items["RS_newpaf_on"] = 0;
    }

    std::string text(std::string_view c) const override { return texts.at(std::string(c)); }
    void setText(std::string_view c, const std::string& t) override { texts.at(std::string(c)) = t; }
    bool checked(std::string_view c) const override { return checks.at(std::string(c)); }
    void setChecked(std::string_view c, bool on) override {
        checks.at(std::string(c)) = on;
        sets.push_back(std::string(c));
    }
    int itemIndex(std::string_view c) const override { return items.at(std::string(c)); }
    void setItemIndex(std::string_view c, int i) override {
        items.at(std::string(c)) = i;
        sets.push_back(std::string(c));
    }

    std::map<std::string, std::string> texts;
    std::map<std::string, bool> checks;
    std::map<std::string, int> items;
    std::vector<std::string> sets; // check boxes and radio groups in the order they were set
};

} // namespace tk7v::test
