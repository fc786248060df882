#pragma once
// Controls as a map, holding the window's start-up values (taken from the layout table), for
// driving the conversions in tests.
#include "model/parameter_image.h"

#include <map>
#include <string>
#include <vector>

namespace tk7v::test {

class MapControls : public ControlAccess {
public:
    MapControls() {
        for (const FieldSpec& f : ImageLayout()) {
            const std::string name(f.control);
            if (f.kind == FieldKind::Check)
                checks[name] = f.initial == "1";
            else if (f.kind == FieldKind::Item)
                items[name] = f.initial == "1" ? 1 : 0;
            else
                texts[name] = std::string(f.initial);
        }
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
