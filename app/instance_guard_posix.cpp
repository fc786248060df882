#include "app/instance_guard.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
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

struct InstanceGuard::Impl {
    QString path(const char* suffix) const {
        return folder + '/' + QString::fromLatin1(kInstanceGuid) + QString::fromLatin1(suffix);
    }
    QString folder;
    std::unique_ptr<QLockFile> lock;
    std::unique_ptr<QLocalServer> server;
};

InstanceGuard::InstanceGuard(QString folder) : d_(std::make_unique<Impl>()) {
    d_->folder = folder.isEmpty() ? defaultFolder() : std::move(folder);
}

InstanceGuard::~InstanceGuard() {
    if (d_->server) d_->server->close();
}

void InstanceGuard::publish(QWidget*) {}

bool InstanceGuard::lock() {
    d_->lock = std::make_unique<QLockFile>(d_->path(".lock"));
    // A lock is stale only when its owner is gone, never because of its age.
    d_->lock->setStaleLockTime(0);
    if (d_->lock->tryLock(0)) return true;
    d_->lock.reset();
    return false;
}

void InstanceGuard::askFirstToComeForward() {
    QLocalSocket socket;
    socket.connectToServer(d_->path(".socket"));
    if (socket.waitForConnected(2000)) {
        socket.write("activate\n");
        socket.waitForBytesWritten(2000);
        socket.waitForReadyRead(2000); // the first instance answers once it has come forward
    }
}

void InstanceGuard::listenFor(std::function<QWidget*()> window) {
    const QString socketPath = d_->path(".socket");
    QLocalServer::removeServer(socketPath);
    d_->server = std::make_unique<QLocalServer>();
    d_->server->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(d_->server.get(), &QLocalServer::newConnection, d_->server.get(), [this, window] {
        while (QLocalSocket* s = d_->server->nextPendingConnection()) {
            QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            QObject::connect(s, &QLocalSocket::readyRead, s, [s, window] {
                if (!s->readAll().contains("activate")) return;
                ActivatePreviousInstance(window());
                s->write("ok\n");
                s->flush();
            });
        }
    });
    d_->server->listen(socketPath);
}

} // namespace tk7v
