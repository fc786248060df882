// The enabling rules: which controls a switch makes usable. They touch only the enabled state;
// values stay as they are, so a disabled field still travels in the image.
#include "ui/controls.h"
#include "ui/profile_controls.h"
#include "ui/tform1.h"

#include <QCheckBox>

namespace tk7v {

namespace {

void enable(const TForm1& f, const char* name, bool on) {
    f.control(QString::fromLatin1(name))->setEnabled(on);
}

void enable(const TForm1& f, const LabelledField& c, bool on) {
    enable(f, c.label, on);
    enable(f, c.field, on);
}

bool pafChosen(const TForm1& f, const ProfileControls& p) {
    return f.control<TRadioGroup>(QString::fromLatin1(p.sendPaf))->itemIndex() == 1;
}

} // namespace

// Each profile's check box also gates the other's: a profile can be switched off only while the
// other one is on, so one of them always is.
void TForm1::profileRule(const ProfileControls& p, const ProfileControls& other) {
    const bool on = control<QCheckBox>(QString::fromLatin1(p.active))->isChecked();
    enable(*this, other.active, on);
    enable(*this, p.group, on);
    for (const LabelledField& phone : p.phones)
        enable(*this, phone, on);
    enable(*this, p.sendPaf, on);
    enable(*this, p.formatP, on && pafChosen(*this, p));
    for (const LabelledField& c : p.right)
        enable(*this, c, on);
}

// The station format P means something only with PAF; this rule looks at the format alone.
void TForm1::formatRule(const ProfileControls& p) {
    enable(*this, p.formatP, pafChosen(*this, p));
}

void TForm1::CS1_activeClick() {
    profileRule(kProfiles[0], kProfiles[1]);
}

void TForm1::CS2_activeClick() {
    profileRule(kProfiles[1], kProfiles[0]);
}

void TForm1::CS1_send_pafClick() {
    formatRule(kProfiles[0]);
}

void TForm1::CS2_send_pafClick() {
    formatRule(kProfiles[1]);
}

void TForm1::TS_line_ctrl_onClick() {
    const bool on = control<QCheckBox>("TS_line_ctrl_on")->isChecked();
    for (const char* n :
         {"Label13", "TS_line_ctrl_tm", "GroupBox7", "Label24", "TS_object_id", "Label25", "TS_fmt_radio_t"})
        enable(*this, n, on);
}

void TForm1::RS_filter_onClick() {
    const bool on = control<QCheckBox>("RS_filter_on")->isChecked();
    for (const char* n : {"RS_alarm_on", "RS_arm_disarm_on", "RS_other_on"})
        enable(*this, n, on);
}

} // namespace tk7v
