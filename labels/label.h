#pragma once
// A device's label: what it shows, read from the block that was read back and proven, and where it
// goes (a PDF in a folder, a printer the system knows). The header is plain C++ so that the command
// line includes it without Qt; the drawing behind it uses Qt's GUI and print modules.
//
// Drawing needs a QGuiApplication: a front end without one calls PrepareLabelDrawing() on its main
// thread first. Any thread may then draw; the drawings are made one at a time.
#include "model/parameter_image.h"
#include "station/events.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tk7v::labels {

// The label's paper, in millimetres, width first.
struct LabelSize {
    double width = 58, height = 40;
    bool operator==(const LabelSize&) const = default;
};
// The thermal rolls most benches use.
inline constexpr LabelSize kCommonSizes[] = {{58, 40}, {40, 30}, {58, 30}};
// "58x40", "58×40", "58*40" or "58.5x40" (millimetres); false for anything else or a size no
// printer takes (under 15 mm or over 300 mm a side).
bool ParseLabelSize(std::string_view text, LabelSize& size);
std::string LabelSizeText(const LabelSize& size); // "58×40"

struct LabelLine {
    std::string caption, value;
};

struct LabelContent {
    std::string number;           // the object's number, the largest text on the label
    std::vector<LabelLine> lines; // what the device was given, then the fields picked
    std::string date, station;
    std::string code; // what the 2D code holds: the number and the start of the block's SHA-256
};

// The field whose value is the label's number.
inline constexpr std::string_view kNumberField = "TS_object_id";
// The fields a label shows when none are picked: the monitoring station's first phone.
std::vector<std::string> DefaultLabelFields();
// How many hex digits of the SHA-256 the code holds: enough to tell two configurations apart.
inline constexpr std::size_t kCodeShaDigits = 16;

// The label of a device whose block `proven` was read back and matched what was written (whose
// SHA-256 is `sha256`): every value as that block holds it, the given row and numbers, then
// `fields` (control names; unknown ones are passed over).
LabelContent LabelOf(const ParameterImage& proven, const std::string& sha256, const station::Given& given,
                     const std::vector<std::string>& fields, std::chrono::system_clock::time_point when,
                     const std::string& station);
// The label of a record that only a ledger keeps: the number, the given values and the SHA-256 as
// the record holds them; no block, so no picked fields.
LabelContent LabelOfRecord(const std::string& number, const std::string& sha256, const station::Given& given,
                           const std::string& when, const std::string& station);

// A file name for the label: "<number> <port> <date> <time>.pdf", with nothing a file system
// refuses.
std::string LabelFileName(const LabelContent& content, const std::string& port,
                          std::chrono::system_clock::time_point when);

// Makes the QGuiApplication that drawing needs when the program has none, drawing off the screen
// (no display needed). Main thread, before any label is drawn; the application lasts until exit.
void PrepareLabelDrawing();

// Draws the label as a one-page PDF at `file`, whole or not at all (beside it first, then renamed).
// The failure in words, empty when none.
std::string SaveLabelPdf(const LabelContent& content, const LabelSize& size, const std::filesystem::path& file);
// Sends the label to the printer the system knows as `printer`. A printer that is not there, is
// stopped or refuses the job gives the system's reason; empty when the job was taken.
std::string PrintLabel(const LabelContent& content, const LabelSize& size, const std::string& printer);
// Why the printer cannot take a label now (not there, stopped, and the system's reason), empty
// when it can.
std::string PrinterProblem(const std::string& printer);

} // namespace tk7v::labels
