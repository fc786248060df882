#include "app/instance_guard.h"

#include <QApplication>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QWidget>

#include <unistd.h>

namespace tk7v {

namespace {

QString defaultFolder() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath() + QStringLiteral("/tk7v-%1").arg(::getuid());
    QDir().mkpath(dir);
    return dir;
}

} // namespace

InstanceGuard::InstanceGuard(QString folder)
    : folder_(folder.isEmpty() ? defaultFolder() : std::move(folder)) {}

InstanceGuard::~InstanceGuard() {
    if (server_) server_->close();
}

QString InstanceGuard::path(const char* suffix) const {
    return folder_ + '/' + QString::fromLatin1(kInstanceGuid) + QString::fromLatin1(suffix);
}

bool InstanceGuard::lock() {
    lock_ = std::make_unique<QLockFile>(path(".lock"));
    // A lock is stale only when its owner is gone, never because of its age.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) return true;
    lock_.reset();
    return false;
}

void InstanceGuard::askFirstToComeForward() {
    QLocalSocket socket;
    socket.connectToServer(path(".socket"));
    if (socket.waitForConnected(2000)) {
        socket.write("activate\n");
        socket.waitForBytesWritten(2000);
        socket.waitForReadyRead(2000); // the first instance answers once it has come forward
    }
}

void InstanceGuard::listenFor(std::function<QWidget*()> window) {
    const QString socketPath = path(".socket");
    QLocalServer::removeServer(socketPath);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this, window] {
        while (QLocalSocket* s = server_->nextPendingConnection()) {
            QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            QObject::connect(s, &QLocalSocket::readyRead, s, [s, window] {
                if (!s->readAll().contains("activate")) return;
                ActivatePreviousInstance(window());
                s->write("ok\n");
                s->flush();
            });
        }
    });
    server_->listen(socketPath);
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
