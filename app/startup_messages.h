#pragma once
// Qt ends a program that can open no display with an English fatal message and a core dump.
// Until the application is made, Qt's messages are held back; a fatal one (the only way that
// making it fails) becomes one Russian line, `noDisplay`, and exit status 1. Made, the held
// messages go on.
//
// Threads: the program's main thread, before and while its QApplication is made.
#include <QList>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace tk7v {

class StartupMessages {
public:
    // `noDisplay` must outlive this object (a string literal).
    explicit StartupMessages(const char* noDisplay)
        : previous_(qInstallMessageHandler(&StartupMessages::hold)) {
        noDisplay_ = noDisplay;
    }
    ~StartupMessages() {
        qInstallMessageHandler(previous_);
        for (const Held& m : held_)
            qt_message_output(m.type, QMessageLogContext(), m.text);
        held_.clear();
    }
    StartupMessages(const StartupMessages&) = delete;
    StartupMessages& operator=(const StartupMessages&) = delete;

private:
    struct Held {
        QtMsgType type;
        QString text;
    };
    static void hold(QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtFatalMsg) {
            std::fputs(noDisplay_, stderr);
            std::fflush(stderr);
            std::_Exit(1);
        }
        held_.push_back({type, text});
    }
    static inline QList<Held> held_;
    static inline const char* noDisplay_ = "";
    QtMessageHandler previous_;
};

} // namespace tk7v
