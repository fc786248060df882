// The window's caption: the program's version, and the configuration file last loaded or saved.
#include "ui/tform1.h"
#include "ui/version_info.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace tk7v {

void TForm1::UpdateCaption(const std::optional<QString>& document) {
    const QString program = QCoreApplication::applicationFilePath();
    QString caption =
        QStringLiteral("Конфигуратор ТК-7В v") + GetVersionValue(program, QStringLiteral("FileVersion"));
    if (document) {
        const QString full = QFileInfo(*document).absoluteFilePath();
        const auto folderOf = [](const QString& path) {
            return path.left(path.lastIndexOf('/') + 1).toLower();
        };
        const bool besideProgram = folderOf(full) == folderOf(program);
        caption += QStringLiteral(" - ") + (besideProgram ? QFileInfo(full).fileName() : full);
    }
    setWindowTitle(caption);
}

} // namespace tk7v
