// Configuration files: save (BitBtn1) and load (BitBtn2).
#include "link/config_read.h"
#include "model/config_file.h"
#include "model/file_texts.h"
#include "ui/tform1.h"

#include <QFileInfo>
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
    // What the window shows now is what the file gets: a read may deliver the device's block
    // while the dialogs below are open.
    const ParameterImage shown = *ParameterImage_;
    const QString path = dialogs_->saveFile(this, saveDialog1());
    if (path.isEmpty()) return;
    const QFileInfo existing(path);
    if (existing.exists()) {
        const auto answer =
            dialogs_->question(this, T(texts::kReplaceQuestion) + existing.fileName() + QStringLiteral("?"));
        if (answer != Dialogs::Answer::Yes) return;
    }
    switch (SaveConfigFile(Utf8Path(path.toStdString()), shown).status) {
    case SaveResult::Status::Written:
        break;
    case SaveResult::Status::Exists:
    case SaveResult::Status::OpenFailed:
        dialogs_->error(this, T(texts::kOpenFailed));
        return;
    case SaveResult::Status::WriteFailed:
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
    loadFile(chosen);
}

void TForm1::OpenFile(const QString& chosen) {
    const HintAtEnd hint{StatusBar1, *this};
    setStatusText(QString(), false);
    loadFile(chosen);
}

void TForm1::loadFile(const QString& chosen) {
    const QString path = QFileInfo(chosen).absoluteFilePath();
    const QFileInfo info(path);
    if (!info.exists()) {
        setStatusText(T(texts::kNotFoundStatus), false);
        dialogs_->error(this, T(texts::kNotFound));
        return;
    }
    const ConfigRead read = ReadConfigOpened(Utf8Path(path.toStdString()));
    if (read.status == ConfigRead::Status::NotFound) { // gone since the dialog
        setStatusText(T(texts::kNotFoundStatus), false);
        dialogs_->error(this, T(texts::kNotFound));
        return;
    }
    if (read.status == ConfigRead::Status::WrongSize) {
        setStatusText(T(texts::kWrongSizeStatus), false);
        dialogs_->error(this, QString::fromStdString(ReadFailureText(read)));
        return;
    }
    bool failed = false;
    if (read.status != ConfigRead::Status::Loaded || !TakeConfigFile(read.contents, *ParameterImage_)) {
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
