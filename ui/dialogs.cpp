#include "ui/dialogs.h"

#include "ui/port_settings_dialog.h"

#include "link/system_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace tk7v {

namespace {

// "Файлы (*.cfg)|*.cfg|Все (*.*)|*.*" as Qt's name filters. Each description is shown as it
// is written, and its pattern does the filtering: Qt takes the patterns from the last
// bracketed part, which the dialog hides. "*.*" means every file, as it does on Windows; on
// other systems it would hide the names without a dot.
QStringList nameFilters(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
        out << parts[i] + QStringLiteral(" (") + pattern + ')';
    }
    return out;
}

QString runFileDialog(QWidget* parent, const FileDialogRequest& request, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent, request.title);
    dialog.setAcceptMode(mode);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setNameFilters(nameFilters(request.filter));
    dialog.setDefaultSuffix(request.defaultExt);
    dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    // The save asks its own replace question, so the dialog must not ask one first.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

} // namespace

void QtDialogs::error(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, kErrorTitle, text, QMessageBox::Ok, parent);
    box.exec();
}

Dialogs::Answer QtDialogs::question(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, kAppTitle, text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
    // Named here too: where Qt's translation could not be had, English buttons would stand under a
    // Russian question.
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&Нет"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("Отмена"));
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

QString QtDialogs::openFile(QWidget* parent, const FileDialogRequest& request) {
    return runFileDialog(parent, request, QFileDialog::AcceptOpen);
}

QString QtDialogs::saveFile(QWidget* parent, const FileDialogRequest& request) {
    return runFileDialog(parent, request, QFileDialog::AcceptSave);
}

bool QtDialogs::portSettings(QWidget* parent, const QString& portName, PortConfig& config) {
    // The system's own dialog where it has one (Windows); ours elsewhere.
    const std::intptr_t owner = parent ? static_cast<std::intptr_t>(parent->window()->winId()) : 0;
    if (const auto confirmed = SystemPortSettingsDialog(portName.toStdString(), owner, config))
        return *confirmed;
    PortSettingsDialog dialog(parent, portName, config);
    if (dialog.exec() != QDialog::Accepted) return false;
    config = dialog.config();
    return true;
}

} // namespace tk7v
