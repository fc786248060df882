#pragma once
// The seam between the window and everything modal: message boxes, the replace question, the
// file dialogs and the port settings dialog. The program uses QtDialogs; tests install their
// own, which answer at once and record what was asked.
#include "link/port_config.h"

#include <QString>

class QWidget;

namespace tk7v {

inline const QString kAppTitle = QStringLiteral("Конфигуратор ТК-7В");
inline const QString kErrorTitle = QStringLiteral("Конфигуратор ТК-7В: Ошибка");

struct FileDialogRequest {
    QString title;
    QString filter;      // "description|pattern|description|pattern"
    QString defaultExt;  // added to a typed name without one
    QString initialName; // "*.cfg"
    bool mustExist = false;
};

class Dialogs {
public:
    enum class Answer { Yes, No, Cancel };
    virtual ~Dialogs() = default;
    // Modal box titled "Конфигуратор ТК-7В: Ошибка" with the error icon and one OK button.
    virtual void error(QWidget* parent, const QString& text) = 0;
    // The replace question: title "Конфигуратор ТК-7В", warning icon, Yes, No and Cancel.
    virtual Answer question(QWidget* parent, const QString& text) = 0;
    // The chosen file's path, or empty when cancelled.
    virtual QString openFile(QWidget* parent, const FileDialogRequest& request) = 0;
    virtual QString saveFile(QWidget* parent, const FileDialogRequest& request) = 0;
    // The port settings dialog; true when confirmed (config then holds the choice).
    virtual bool portSettings(QWidget* parent, const QString& portName, PortConfig& config) = 0;
};

class QtDialogs : public Dialogs {
public:
    void error(QWidget* parent, const QString& text) override;
    Answer question(QWidget* parent, const QString& text) override;
    QString openFile(QWidget* parent, const FileDialogRequest& request) override;
    QString saveFile(QWidget* parent, const FileDialogRequest& request) override;
    bool portSettings(QWidget* parent, const QString& portName, PortConfig& config) override;
};

} // namespace tk7v
