// Configuration files: save (BitBtn1) and load (BitBtn2).
#include "model/config_file.h"
#include "model/file_texts.h"
#include "ui/tform1.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStatusBar>
#include <QTimer>

namespace tk7v {

namespace {

QString T(const char* text) {
    return QString::fromUtf8(text);
}

const QString kFilter = QStringLiteral("Файлы конфигурации (*.cfg)|*.cfg|Все файлы (*.*)|*.*");

FileDialogRequest saveDialog1() {
    return {QStringLiteral("Сохранение настроек в файл"), kFilter, QStringLiteral("cfg"),
            QStringLiteral("*.cfg"), false};
}

// The open dialog adds no extension: a file named without one must be loadable.
FileDialogRequest openDialog1() {
    return {QStringLiteral("Загрузка настроек из файла"), kFilter, QString(), QStringLiteral("*.cfg"), true};
}

const QString kPngFigure = QStringLiteral("(\"\\_(О.О)_/\")");

enum class WriteResult { Written, OpenFailed, WriteFailed };

// The new file is written beside the old one and takes its place only when complete, so a
// failed or short write never costs the installer the configuration that was there. Where no
// file can be made beside it (a folder the user may not write, holding a file the user may),
// the file is rewritten in place, and put back as it was should that fail.
// Unbuffered, so that a short write (a full disk, a size limit) shows in write()'s count; a
// buffered QSaveFile can report a truncated file as committed.
WriteResult WriteConfigFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (file.write(bytes) == bytes.size() && file.commit()) return WriteResult::Written;
        file.cancelWriting();
        return WriteResult::WriteFailed;
    }
    QFile inPlace(path);
    if (!QFileInfo(path).isFile() || !inPlace.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return WriteResult::OpenFailed;
    const QByteArray old = inPlace.readAll();
    const auto put = [&](const QByteArray& b) {
        return inPlace.seek(0) && inPlace.resize(0) && inPlace.write(b) == b.size() && inPlace.flush();
    };
    if (put(bytes)) return WriteResult::Written;
    put(old);
    return WriteResult::WriteFailed;
}

// Whatever path a file handler takes, the status bar's hint ends up showing its text.
struct HintAtEnd {
    QStatusBar* bar;
    const TForm1& form;
    ~HintAtEnd() { bar->setToolTip(form.statusText()); }
};

} // namespace

void TForm1::BitBtn1Click() {
    // Whatever path the save takes, the hint ends up showing the status text.
    const HintAtEnd hint{StatusBar1, *this};
    setStatusText(QString(), false);
    if (!BuildImage()) return;
    const QString path = dialogs_->saveFile(this, saveDialog1());
    if (path.isEmpty()) return;
    const QFileInfo existing(path);
    if (existing.exists()) {
        const auto answer =
            dialogs_->question(this, T(texts::kReplaceQuestion) + existing.fileName() + QStringLiteral("?"));
        if (answer != Dialogs::Answer::Yes) return;
        // A pipe, a device or a folder is no configuration to replace (and copying a pipe
        // would wait for a writer for ever).
        if (!existing.isFile()) {
            dialogs_->error(this, T(texts::kOpenFailed));
            return;
        }
        // The old file is copied, not renamed: should the write below fail, it is still there
        // under its own name too. An earlier backup of that name stays as it is.
        QFile::copy(path, QString::fromStdString(BackupPathFor(path.toStdString())));
    }
    const QByteArray bytes(reinterpret_cast<const char*>(ParameterImage_->data()), kConfigFileSize);
    switch (WriteConfigFile(path, bytes)) {
    case WriteResult::Written:
        break;
    case WriteResult::OpenFailed:
        dialogs_->error(this, T(texts::kOpenFailed));
        return;
    case WriteResult::WriteFailed:
        dialogs_->error(this, T(texts::kWriteFailed));
        return;
    }
    UpdateCaption(QFileInfo(path).absoluteFilePath());
    setStatusText(T(texts::kSaved), false);
}

void TForm1::BitBtn2Click() {
    const HintAtEnd hint{StatusBar1, *this};
    setStatusText(QString(), false);
    const QString chosen = dialogs_->openFile(this, openDialog1());
    if (chosen.isEmpty()) return;
    const QString path = QFileInfo(chosen).absoluteFilePath();
    const QFileInfo info(path);
    if (!info.exists()) {
        setStatusText(T(texts::kNotFoundStatus), false);
        dialogs_->error(this, T(texts::kNotFound));
        return;
    }
    // Only a plain file is opened: a pipe or a device would hold the window until someone
    // writes into it. Anything else counts as a file whose size cannot be found.
    QFile file(path);
    const qint64 size = info.isFile() && file.open(QIODevice::ReadOnly) ? file.size() : 0;
    if (size != static_cast<qint64>(kConfigFileSize)) {
        setStatusText(T(texts::kWrongSizeStatus), false);
        dialogs_->error(this, QString::fromStdString(texts::WrongSizeText(
                                  static_cast<std::uint64_t>(std::max<qint64>(size, 0)))));
        return;
    }
    bool failed = false;
    const QByteArray contents = file.read(kConfigFileSize);
    const auto* data = reinterpret_cast<const std::uint8_t*>(contents.constData());
    if (!TakeConfigFile({data, static_cast<std::size_t>(contents.size())}, *ParameterImage_)) {
        setStatusText(T(texts::kReadFailedStatus), false);
        dialogs_->error(this, T(texts::kReadFailed));
        failed = true;
    }
    if (!failed && !ApplyImage()) failed = true;
    if (!failed) UpdateCaption(path);
    switch (PictureExtensionOf(path.toStdString())) {
    case PictureExtension::Jpeg:
        setStatusText(T(texts::kJpegRemark), false);
        break;
    case PictureExtension::Png:
        setStatusText(kPngFigure, false);
        startPngFigure();
        break;
    case PictureExtension::None:
        if (!failed) setStatusText(T(texts::kLoaded), false);
        break;
    }
}

// The figure walks right ten times, 16 blanks every 100 ms, then the bar is cleared. A timer
// keeps the window responsive meanwhile; any other status text ends the walk (setStatusText),
// so the figure never shifts someone else's message.
void TForm1::startPngFigure() {
    if (!pngTimer_) {
        pngTimer_ = new QTimer(this);
        pngTimer_->setInterval(100);
        connect(pngTimer_, &QTimer::timeout, this, [this] {
            figureStep_ = true;
            setStatusText(QString(16, ' ') + statusText(), false);
            if (++pngSteps_ == 10) {
                pngTimer_->stop();
                setStatusText(QString(), true);
            }
            figureStep_ = false;
        });
    }
    pngSteps_ = 0;
    pngTimer_->start();
}

bool TForm1::pictureAnimationRunning() const {
    return pngTimer_ && pngTimer_->isActive();
}

} // namespace tk7v
