#pragma once
// The model's own plain controls for driving the conversions in tests, noting the order in which
// check boxes and radio groups are set: the window's enabling rules run in that order.
#include "model/parameter_image.h"

#include <string>
#include <vector>

namespace tk7v::test {

class RecordingControls : public FieldValues {
public:
    void setChecked(std::string_view c, bool on) override {
        FieldValues::setChecked(c, on);
        sets.emplace_back(c);
    }
    void setItemIndex(std::string_view c, int i) override {
        FieldValues::setItemIndex(c, i);
        sets.emplace_back(c);
    }
    std::vector<std::string> sets;
};

enum class Holds { Text, Check, Item };

// The controls of the layout table that hold a text, a check or an item index.
inline std::vector<std::string> ControlsHolding(Holds what) {
    std::vector<std::string> names;
    for (const FieldSpec& f : ImageLayout()) {
        const Holds holds = f.kind == FieldKind::Check  ? Holds::Check
                            : f.kind == FieldKind::Item ? Holds::Item
                                                        : Holds::Text;
        if (holds == what) names.emplace_back(f.control);
    }
    return names;
}

// Whether two sets of controls hold the same values in every field.
inline bool SameValues(const ControlAccess& a, const ControlAccess& b) {
    for (const std::string& c : ControlsHolding(Holds::Text))
        if (a.text(c) != b.text(c)) return false;
    for (const std::string& c : ControlsHolding(Holds::Check))
        if (a.checked(c) != b.checked(c)) return false;
    for (const std::string& c : ControlsHolding(Holds::Item))
        if (a.itemIndex(c) != b.itemIndex(c)) return false;
    return true;
}

} // namespace tk7v::test
