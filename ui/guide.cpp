#include "ui/guide.h"

#include <QDir>
#include <QFileInfo>

namespace tk7v {

QString InstalledGuide(const QString& programDir) {
    const QDir dir(programDir);
    for (const QString& relative :
         {QStringLiteral("guide.html"), QStringLiteral(TK7V_DOC_FROM_PROGRAM "/guide.html")}) {
        const QFileInfo page(dir.filePath(relative));
        if (page.isFile()) return page.canonicalFilePath();
    }
    return {};
}

} // namespace tk7v
