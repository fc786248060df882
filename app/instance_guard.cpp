#include "app/instance_guard.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <utility>

namespace tk7v {

namespace {

// Calls `then` once, when the dialog hides (the end of its exec) or goes away.
class DialogEnd : public QObject {
public:
    DialogEnd(QWidget* dialog, std::function<void()> then) : QObject(dialog), then_(std::move(then)) {
        dialog->installEventFilter(this);
    }
    ~DialogEnd() override { end(); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Hide) {
            end();
            deleteLater();
        }
        return false;
    }

private:
    void end() {
        if (const auto then = std::exchange(then_, nullptr)) then();
    }
    std::function<void()> then_;
};

} // namespace

void OpenWhenNoDialogIsOpen(const QString& path, std::function<void(const QString&)> open) {
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog) {
        open(path);
        return;
    }
    // Tried again from the event loop, so the code that ran the dialog finishes first, and a
    // box it opens next is waited for in turn.
    new DialogEnd(dialog, [path, open = std::move(open)] {
        QTimer::singleShot(0, qApp, [path, open] { OpenWhenNoDialogIsOpen(path, open); });
    });
}

void ActivatePreviousInstance(QWidget* window) {
    if (!window) return;
    if (window->isMinimized()) {
        window->showNormal();
        return;
    }
    window->show();
    QWidget* front = QApplication::activeModalWidget();
    if (!front || !front->isVisible() || !front->isEnabled()) front = window;
    front->raise();
    front->activateWindow();
}

QString WithFullStop(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.') return message + '.';
    return message;
}

} // namespace tk7v
