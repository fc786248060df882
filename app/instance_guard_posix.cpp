#include "app/instance_guard.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace tk7v {

namespace {

// Made here with mode 700, or already a folder (not a link) of this user's that nobody else can
// reach into.
bool isPrivateFolder(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// The user's runtime folder (Qt checks it the same way); where there is none (no
// XDG_RUNTIME_DIR, and /tmp/runtime-NAME made by someone else), a folder of the user's own in
// the shared temporary folder, else one under the home folder.
QString defaultFolder() {
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    QDir().mkpath(cache);
    return PrivateFolder({QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation),
                          QDir::tempPath() + QStringLiteral("/tk7v-%1").arg(::geteuid()),
                          cache + QStringLiteral("/tk7v")});
}

} // namespace

QString PrivateFolder(const QStringList& candidates) {
    for (const QString& folder : candidates)
        if (!folder.isEmpty() && isPrivateFolder(folder)) return folder;
    return {};
}

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
    // With no folder of its own the program runs unguarded rather than not at all.
    if (d_->folder.isEmpty()) return true;
    d_->lock = std::make_unique<QLockFile>(d_->path(".lock"));
    // A lock is stale only when its owner is gone, never because of its age.
    d_->lock->setStaleLockTime(0);
    if (d_->lock->tryLock(0)) return true;
    d_->lock.reset();
    return false;
}

// A request is one line: "activate", or "open " and the file's absolute path in UTF-8,
// percent-encoded, since a file name may hold a line break.
void InstanceGuard::askFirstToComeForward(const QString& file) {
    if (d_->folder.isEmpty()) return;
    QLocalSocket socket;
    socket.connectToServer(d_->path(".socket"));
    if (socket.waitForConnected(2000)) {
        socket.write(file.isEmpty()
                         ? QByteArray("activate\n")
                         : "open " + QFileInfo(file).absoluteFilePath().toUtf8().toPercentEncoding() + '\n');
        socket.waitForBytesWritten(2000);
        socket.waitForReadyRead(2000); // the first instance answers once it has come forward
    }
}

void InstanceGuard::listenFor(std::function<QWidget*()> window, std::function<void(const QString&)> open) {
    if (d_->folder.isEmpty()) return;
    const QString socketPath = d_->path(".socket");
    QLocalServer::removeServer(socketPath);
    d_->server = std::make_unique<QLocalServer>();
    d_->server->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(d_->server.get(), &QLocalServer::newConnection, d_->server.get(), [this, window, open] {
        while (QLocalSocket* s = d_->server->nextPendingConnection()) {
            QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            QObject::connect(s, &QLocalSocket::readyRead, s, [s, window, open] {
                while (s->canReadLine()) {
                    const QByteArray line = s->readLine().chopped(1);
                    const bool file = line.startsWith("open ");
                    if (!file && line != "activate") continue;
                    ActivatePreviousInstance(window());
                    s->write("ok\n");
                    s->flush();
                    // Opened from the event loop: a box the opening shows must not run inside
                    // this socket's handler.
                    if (file && open)
                        QTimer::singleShot(0, qApp,
                                           [open, path = QString::fromUtf8(QByteArray::fromPercentEncoding(
                                                      line.mid(5)))] { OpenWhenNoDialogIsOpen(path, open); });
                }
            });
        }
    });
    d_->server->listen(socketPath);
}

} // namespace tk7v
