#include "app/instance_guard.h"

#include <QApplication>
#include <QWidget>

namespace tk7v {

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
