#pragma once
// The controls of the two central-station profile pages, by name. Both pages have one shape, so
// the layout builds each from this table and the enabling rules walk the same rows.
namespace tk7v {

struct LabelledField {
    const char* label;
    const char* field;
};

struct ProfileControls {
    const char* page;
    const char* tab;
    const char* active; // the check box that switches the profile on
    const char* group;  // the box around the fields
    const char* bevel;
    LabelledField phones[4];
    const char* sendPaf;   // the transmission format: Contact ID or PAF
    LabelledField formatP; // used only with PAF
    // The right column: dialling attempts, cycles, pause, HANDSHAKE and KISSOFF waits, repeats.
    LabelledField right[6];
};

inline constexpr ProfileControls kProfiles[2] = {
    {"TabSheet1",
     "ЦС №&1",
     "CS1_active",
     "GroupBox3",
     "Bevel3",
     {{"Label1", "CS1_phone_1"},
      {"Label3", "CS1_phone_2"},
      {"Label4", "CS1_phone_3"},
      {"Label10", "CS1_phone_4"}},
     "CS1_send_paf",
     {"Label26", "CS1_fmt_tel_p"},
     {{"Label2", "CS1_dial_each_n"},
      {"Label7", "CS1_dial_cycles"},
      {"Label5", "CS1_dial_pause"},
      {"Label11", "CS1_hand_time"},
      {"Label9", "CS1_kissoff_time"},
      {"Label8", "CS1_send_repeats"}}},
    {"TabSheet2",
     "ЦС №&2",
     "CS2_active",
     "GroupBox2",
     "Bevel4",
     {{"Label6", "CS2_phone_1"},
      {"Label14", "CS2_phone_2"},
      {"Label15", "CS2_phone_3"},
      {"Label21", "CS2_phone_4"}},
     "CS2_send_paf",
     {"Label27", "CS2_fmt_tel_p"},
     {{"Label12", "CS2_dial_each_n"},
      {"Label17", "CS2_dial_cycles"},
      {"Label16", "CS2_dial_pause"},
      {"Label22", "CS2_hand_time"},
      {"Label20", "CS2_kissoff_time"},
      {"Label18", "CS2_send_repeats"}}},
};

} // namespace tk7v
