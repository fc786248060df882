#include "labels_out.h"

#include "labels/label.h"
#include "link/network.h"
#include "model/config_file.h"
#include "model/parameter_image.h"
#include "station/sha256.h"

#include <chrono>
#include <filesystem>

namespace tk7v::cli {

void LabelOptions::add(CLI::App* command) {
    command
        ->add_option("--label", folder,
                     "наклейка каждого записанного и проверенного устройства —\n"
                     "файлом PDF в эту папку")
        ->type_name("ПАПКА");
    command->add_option("--printer", printer, "наклейка каждого проверенного устройства — на этот принтер")
        ->type_name("ПРИНТЕР");
    command->add_option("--label-size", size, "размер наклейки, мм: 58x40 (так без него), 40x30, 58x30, свой")
        ->type_name("ШxВ");
    command
        ->add_option("--label-field", fields,
                     "поле, значение которого есть на наклейке (можно несколько;\n"
                     "без него — CS1_phone_1, первый телефон ЦС)")
        ->type_name("ПОЛЕ");
}

std::string LabelOptions::prepare(LabelMaker& maker) const {
    labels::LabelSize paper;
    if (!size.empty() && !labels::ParseLabelSize(size, paper))
        return "--label-size: ожидается ШИРИНАxВЫСОТА в миллиметрах, от 15 до 300 (например 58x40)";
    if (!wanted()) return size.empty() && fields.empty() ? std::string() : "--label-size и --label-field — только с --label или --printer";
    for (const std::string& f : fields)
        if (!FindField(f)) return "--label-field: нет поля " + f + " (список полей: tk7v-cli fields)";
    if (!folder.empty()) {
        std::error_code e;
        std::filesystem::create_directories(Utf8Path(folder), e);
        if (!std::filesystem::is_directory(Utf8Path(folder), e)) return "--label: не папка: " + folder;
    }
    labels::PrepareLabelDrawing();
    const std::vector<std::string> shown = fields.empty() ? labels::DefaultLabelFields() : fields;
    const std::string station = ComputerName();
    const std::filesystem::path to = Utf8Path(folder);
    const std::string printerName = printer;
    maker = [paper, shown, station, to, printerName](const std::string& port,
                                                     const station::DeviceEnded& ended) -> std::string {
        if (!ended.end.proven || !ended.end.bytes) return {};
        const auto now = std::chrono::system_clock::now();
        const labels::LabelContent content = labels::LabelOf(
            *ended.end.proven, station::Sha256Hex(*ended.end.bytes), ended.given, shown, now, station);
        std::string failed;
        if (!to.empty()) failed = labels::SaveLabelPdf(content, paper, to / Utf8Path(labels::LabelFileName(content, port, now)));
        if (failed.empty() && !printerName.empty()) {
            failed = labels::PrintLabel(content, paper, printerName);
            if (!failed.empty()) failed = "наклейка не напечатана: " + failed;
        }
        return failed;
    };
    return {};
}

} // namespace tk7v::cli
