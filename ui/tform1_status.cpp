// The status bar's one line of text, and its hint.
#include "ui/tform1.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>

namespace tk7v {

void TForm1::setStatusText(const QString& text, bool copyToHint) {
    if (!figureStep_ && pictureAnimationRunning()) pngTimer_->stop();
    statusLabel_->setText(text);
    if (copyToHint) StatusBar1->setToolTip(text);
    emit statusChanged(text);
}

void TForm1::PostStatus(const QString& text) {
    setStatusText(text, true);
}

QString TForm1::statusText() const {
    return statusLabel_->text();
}

} // namespace tk7v
