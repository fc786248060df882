#include "asks.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace tk7v::station_window {

void QtAsks::error(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, kStationTitle, text);
}

bool QtAsks::confirm(QWidget* parent, const QString& text) {
    // The buttons are named here: Qt's own translations are not installed with the Windows
    // program (nor always on Linux), and an English Yes/No would stand in a Russian question.
    QMessageBox box(QMessageBox::Question, kStationTitle, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&Нет"));
    return box.exec() == QMessageBox::Yes;
}

QString QtAsks::openFile(QWidget* parent, const QString& title, const QString& dir, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, title, dir, filter);
}

QString QtAsks::saveFile(QWidget* parent, const QString& title, const QString& path, const QString& filter) {
    // The report is appended to: choosing one that exists is no reason to ask about replacing it.
    return QFileDialog::getSaveFileName(parent, title, path, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QString QtAsks::folder(QWidget* parent, const QString& title, const QString& dir) {
    return QFileDialog::getExistingDirectory(parent, title, dir);
}

} // namespace tk7v::station_window
