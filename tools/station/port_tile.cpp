#include "port_tile.h"

#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

namespace tk7v::station_window {

namespace {

// The state's letters against the window's: read from a metre away, while sixteen tiles leave
// the record table its eight rows at 1366x768.
constexpr double kStateScale = 1.55;

struct Colours {
    const char* background;
    const char* text;
};

Colours coloursOf(PortTile::Tone tone) {
    switch (tone) {
    case PortTile::Tone::Idle:
        return {"#eeeeee", "#555555"};
    case PortTile::Tone::Waiting:
        return {"#e3eefa", "#1f4e79"};
    case PortTile::Tone::Busy:
        return {"#fff1c2", "#7a5400"};
    case PortTile::Tone::Done:
        return {"#d4f2d2", "#1b5e20"};
    case PortTile::Tone::Failed:
        return {"#fbd5d5", "#9b1c1c"};
    case PortTile::Tone::Remove:
        return {"#dcd7f5", "#3a2d8f"};
    case PortTile::Tone::Absent:
        break;
    }
    return {"#d9d9d9", "#8a8a8a"};
}

} // namespace

PortTile::PortTile(const QString& port, QWidget* parent) : QFrame(parent), port_(port) {
    // The tile draws its own rounded panel (paintEvent) and colours its labels by palette: a style
    // sheet would re-polish the whole tile at each change of colour, several times a device on
    // sixteen ports, which cost the station more than all its ports' exchanges.
    setFrameShape(QFrame::NoFrame);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 4, 10, 6);
    column->setSpacing(2);
    take_ = new QCheckBox(port, this);
    take_->setToolTip(QStringLiteral("Порт участвует в программировании"));
    QFont name = take_->font();
    name.setBold(true);
    name.setPointSizeF(name.pointSizeF() * 1.15);
    take_->setFont(name);
    state_ = new QLabel(this);
    QFont big = state_->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * kStateScale);
    state_->setFont(big);
    result_ = new QLabel(this);
    QFont medium = result_->font();
    medium.setBold(true);
    medium.setPointSizeF(medium.pointSizeF() * 1.15);
    result_->setFont(medium);
    result_->setWordWrap(true);
    detail_ = new QLabel(this);
    // The device, the number given and the time at the window's own size, to be read from a
    // metre away: a tenth smaller, Tahoma at 96 dpi lost its thin letters (i, l, r).
    detail_->setWordWrap(true);
    note_ = new QLabel(this);
    note_->setWordWrap(true);
    QFont small = note_->font();
    small.setItalic(true);
    note_->setFont(small);
    note_->hide();
    column->addWidget(take_);
    column->addWidget(state_);
    column->addWidget(result_);
    column->addWidget(detail_);
    column->addWidget(note_);
    labelNote_ = new QLabel(this);
    labelNote_->setWordWrap(true);
    QPalette warn = labelNote_->palette();
    warn.setColor(QPalette::WindowText, QColor("#9b1c1c"));
    labelNote_->setPalette(warn);
    labelNote_->hide();
    column->addWidget(labelNote_);
    column->addStretch(1);
    setMinimumWidth(300);
    setMinimumHeight(sizeHint().height());
    setState(QStringLiteral("—"), Tone::Idle);
}

void PortTile::setState(const QString& text, Tone tone) {
    stateText_ = text;
    tone_ = tone;
    if (present_) state_->setText(text);
    paintTone();
}

void PortTile::setResult(const QString& text, const QString& detail, bool ok) {
    result_->setText(text);
    // A failure's reason is read from across the bench, as the state is.
    QFont f = state_->font();
    f.setPointSizeF(f.pointSizeF() * (ok ? 1.15 : 1.35) / kStateScale);
    result_->setFont(f);
    QPalette p = result_->palette();
    p.setColor(QPalette::WindowText, QColor(ok ? "#1b5e20" : "#9b1c1c"));
    result_->setPalette(p);
    detailText_ = detail;
    recordWaits_ = false;
    detail_->setText(detail);
}

void PortTile::clearResult() {
    result_->clear();
    detailText_.clear();
    recordWaits_ = false;
    detail_->clear();
}

void PortTile::setRecordWaits(bool waits) {
    if (waits == recordWaits_ || detailText_.isEmpty()) return;
    recordWaits_ = waits;
    detail_->setText(waits ? detailText_ + QStringLiteral(" · запись ждёт сохранения") : detailText_);
}

void PortTile::setNote(const QString& text) {
    note_->setText(text);
    note_->setVisible(!text.isEmpty());
}

void PortTile::setLabelNote(const QString& text) {
    labelNote_->setText(text);
    labelNote_->setVisible(!text.isEmpty());
}

QString PortTile::labelNoteText() const { return labelNote_->text(); }

void PortTile::setPresent(bool present) {
    if (present == present_) return;
    present_ = present;
    state_->setText(present ? stateText_ : QStringLiteral("порт отключён"));
    paintTone();
}

void PortTile::flash() {
    flashing_ = true;
    paintTone();
    QTimer::singleShot(600, this, [this] {
        flashing_ = false;
        paintTone();
    });
}

QString PortTile::stateText() const {
    return state_->text();
}

QString PortTile::detailText() const {
    return detail_->text();
}

QString PortTile::resultText() const {
    return result_->text();
}

void PortTile::paintTone() {
    const Tone shown = present_ ? tone_ : Tone::Absent;
    if (painted_ && *painted_ == std::make_pair(shown, flashing_)) return;
    painted_ = std::make_pair(shown, flashing_);
    const Colours c = coloursOf(shown);
    for (QLabel* label : {state_, detail_, note_}) {
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, QColor(c.text));
        label->setPalette(p);
    }
    update();
}

void PortTile::paintEvent(QPaintEvent*) {
    const Colours c = coloursOf(painted_ ? painted_->first : Tone::Idle);
    const int border = flashing_ ? 4 : 1;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(flashing_ ? c.text : "#a0a0a0"), border));
    painter.setBrush(QColor(c.background));
    const qreal inset = border / 2.0;
    painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 6, 6);
}

} // namespace tk7v::station_window
