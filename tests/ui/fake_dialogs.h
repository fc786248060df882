#pragma once
// Dialogs that answer at once and record what the window asked.
#include "ui/dialogs.h"

#include <QStringList>
#include <functional>

namespace tk7v::test {

class FakeDialogs : public Dialogs {
public:
    QStringList errors;
    QStringList questions;
    QList<FileDialogRequest> fileDialogs;
    Answer answer = Answer::Yes;
    QString fileToReturn;
    std::function<void()> onError; // runs inside the error box (the box is "open" meanwhile)
    std::function<bool(PortConfig&)> onPortSettings;
    std::function<void()> onFileChosen; // runs as a file dialog closes, before the window goes on

    void error(QWidget*, const QString& text) override {
        errors << text;
        if (onError) onError();
    }
    Answer question(QWidget*, const QString& text) override {
        questions << text;
        return answer;
    }
    QString openFile(QWidget*, const FileDialogRequest& request) override {
        fileDialogs << request;
        if (onFileChosen) onFileChosen();
        return fileToReturn;
    }
    QString saveFile(QWidget*, const FileDialogRequest& request) override {
        fileDialogs << request;
        if (onFileChosen) onFileChosen();
        return fileToReturn;
    }
    bool portSettings(QWidget*, const QString&, PortConfig& config) override {
        return onPortSettings ? onPortSettings(config) : false;
    }
};

} // namespace tk7v::test
