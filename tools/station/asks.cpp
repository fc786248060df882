#include "asks.h"

#include <QFileDialog>
#include <QMessageBox>

namespace tk7v::station_window {

void QtAsks::error(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, kStationTitle, text);
}

bool QtAsks::confirm(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, kStationTitle, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

QString QtAsks::openFile(QWidget* parent, const QString& title, const QString& dir, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, title, dir, filter);
}

QString QtAsks::saveFile(QWidget* parent, const QString& title, const QString& path, const QString& filter) {
    // The report is appended to: choosing one that exists is no reason to ask about replacing it.
    return QFileDialog::getSaveFileName(parent, title, path, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

} // namespace tk7v::station_window
