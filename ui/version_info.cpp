#include "ui/version_info.h"

#include "link/system_dialogs.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace tk7v {

QString GetVersionValue(const QString& path, const QString& valueName) {
    // Where the system keeps a version resource (Windows), it is the one read.
    if (const auto value = VersionResourceValue(QDir::toNativeSeparators(path).toUtf8().toStdString(),
                                                valueName.toStdString()))
        return QString::fromStdString(*value);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("UNKNOWN");
    const qint64 size = file.size();
    const uchar* data = size > 0 ? file.map(0, size) : nullptr;
    QByteArray copy;
    QByteArrayView bytes;
    if (data) {
        bytes = QByteArrayView(reinterpret_cast<const char*>(data), size);
    } else {
        copy = file.readAll();
        bytes = copy;
    }
    // The block: a marker, then NUL-separated "name=value" entries, then an empty entry.
    // Spelled backwards here, so that this constant is never mistaken for the block itself.
    static const QByteArray marker = [] {
        QByteArray m("\0OFNINOISREV-V7KT\0", 18);
        std::reverse(m.begin(), m.end());
        return m;
    }();
    const qsizetype at = QByteArrayView(bytes).indexOf(marker);
    if (at < 0) return QStringLiteral("UNKNOWN");
    const QByteArray wanted = valueName.toUtf8() + '=';
    for (qsizetype p = at + marker.size(); p < bytes.size();) {
        qsizetype end = bytes.indexOf('\0', p);
        if (end < 0) end = bytes.size();
        const QByteArrayView entry = bytes.sliced(p, end - p);
        if (entry.isEmpty()) break;
        if (entry.startsWith(wanted)) return QString::fromUtf8(entry.sliced(wanted.size()));
        p = end + 1;
    }
    return QString();
}

} // namespace tk7v
