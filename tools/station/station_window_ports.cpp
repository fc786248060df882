// The station window's tiles: one per port the system lists, laid out to the window's width, and
// whether each takes part.
#include "station_window.h"

#include "window_common.h"

#include <QCheckBox>
#include <QGridLayout>

#include <algorithm>

namespace tk7v::station_window {

PortTile* StationWindow::tile(const QString& port) const {
    for (PortTile* t : tiles_)
        if (t->port() == port) return t;
    return nullptr;
}

PortTile* StationWindow::addTile(const QString& port, bool take) {
    auto* t = new PortTile(port, tilesBox_);
    t->takePart()->setChecked(take);
    t->setState(take ? QStringLiteral("не запущено") : QStringLiteral("не участвует"), PortTile::Tone::Idle);
    connect(t->takePart(), &QCheckBox::toggled, this, [this, t](bool on) { takePart(t, on); });
    tiles_.push_back(t);
    columns_ = 0; // lay out again
    layOutTiles();
    return t;
}

void StationWindow::layOutTiles() {
    const int columns = std::max(
        1, (tilesBox_->parentWidget() ? tilesBox_->parentWidget()->width() : width()) / (kTileWidth + 8));
    if (columns == columns_) return;
    columns_ = columns;
    for (int i = 0; i < tiles_.size(); ++i) {
        tilesGrid_->removeWidget(tiles_[i]);
        tilesGrid_->addWidget(tiles_[i], i / columns, i % columns);
    }
    for (int c = 0; c < columns; ++c)
        tilesGrid_->setColumnStretch(c, 1);
    tilesGrid_->setRowStretch(static_cast<int>((tiles_.size() + columns - 1) / columns), 1);
}

void StationWindow::refreshPorts() {
    const std::vector<std::string> present = env_.listPorts();
    const auto listed = [&](const QString& p) {
        return std::find(present.begin(), present.end(), utf8(p)) != present.end();
    };
    for (PortTile* t : tiles_)
        t->setPresent(listed(t->port()));
    for (const std::string& name : present)
        if (!tile(fromUtf8(name))) {
            // An adapter plugged in while the window is open is there to be used; ports named on
            // the command line are the only ones taking part, though.
            PortTile* t = addTile(fromUtf8(name), !portsGiven_);
            if (running() && t->takePart()->isChecked()) takePart(t, true);
        }
    if (width() > 0) layOutTiles();
}

void StationWindow::takePart(PortTile* t, bool take) {
    if (!station_ || stopping_) {
        t->setState(take ? QStringLiteral("не запущено") : QStringLiteral("не участвует"),
                    PortTile::Tone::Idle);
        return;
    }
    const std::string name = utf8(t->port());
    auto at = std::find(names_.begin(), names_.end(), name);
    if (at == names_.end()) at = names_.insert(names_.end(), name);
    const int index = static_cast<int>(at - names_.begin());
    if (take) {
        station_->add(name, index);
    } else {
        station_->remove(index);
        if (!station_->status(index).working)
            t->setState(QStringLiteral("не участвует"), PortTile::Tone::Idle);
    }
}

} // namespace tk7v::station_window
