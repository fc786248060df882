// The station window's tiles: one per port the system lists, in the port lists' order, laid out
// to the window's width, and whether each takes part.
#include "station_window.h"

#include "window_common.h"

#include "link/port_names.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
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
    // In the order of the port lists (COM2 before COM10), whenever the port appeared.
    const auto at = std::upper_bound(
        tiles_.begin(), tiles_.end(), utf8(port),
        [](const std::string& name, PortTile* other) { return PortNameLess(name, utf8(other->port())); });
    tiles_.insert(at, t);
    columns_ = 0; // lay out again
    layOutTiles();
    return t;
}

void StationWindow::layOutTiles() {
    const int columns = std::max(
        1, (tilesBox_->parentWidget() ? tilesBox_->parentWidget()->width() : width()) / (kTileWidth + 8));
    if (columns == columns_) return;
    columns_ = columns;
    for (PortTile* t : tiles_)
        tilesGrid_->removeWidget(t);
    int shown = 0;
    for (PortTile* t : tiles_) {
        if (t->isHidden()) continue;
        tilesGrid_->addWidget(t, shown / columns, shown % columns);
        ++shown;
    }
    for (int r = 0; r < tilesGrid_->rowCount(); ++r)
        tilesGrid_->setRowStretch(r, 0);
    for (int c = 0; c < columns; ++c)
        tilesGrid_->setColumnStretch(c, 1);
    tilesGrid_->setRowStretch((shown + columns - 1) / columns, 1);
}

void StationWindow::foldTiles() {
    // A port that is gone and takes no part (another adapter, another program's virtual port)
    // has nothing to say: it gives its room to the ports that work. It comes back with the port.
    bool changed = false;
    for (PortTile* t : tiles_) {
        const bool shown = t->present() || t->takePart()->isChecked();
        if (shown == t->isHidden()) {
            t->setHidden(!shown);
            changed = true;
        }
    }
    if (changed) columns_ = 0; // lay out again
}

void StationWindow::refreshPorts() {
    const std::vector<std::string> present = env_.listPorts();
    const auto listed = [&](const QString& p) {
        return std::find(present.begin(), present.end(), utf8(p)) != present.end();
    };
    // A port named by its path and not in the list (a pseudo-terminal, a link a udev rule made
    // outside /dev) is there while its path is.
    for (PortTile* t : tiles_)
        t->setPresent(listed(t->port()) || (QDir::isAbsolutePath(t->port()) && QFileInfo::exists(t->port())));
    for (const std::string& name : present)
        if (!tile(fromUtf8(name))) {
            // An adapter plugged in while the window is open is there to be used; ports named on
            // the command line are the only ones taking part, though.
            PortTile* t = addTile(fromUtf8(name), !portsGiven_);
            if (running() && t->takePart()->isChecked()) takePart(t, true);
        }
    foldTiles();
    if (width() > 0) layOutTiles();
}

void StationWindow::takePart(PortTile* t, bool take) {
    if (!take && !t->present()) {
        foldTiles();
        layOutTiles();
    }
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
        // The station's word on it from now on: never the last run's "остановлено" while its
        // first wait (a server that does not answer) has not said anything yet.
        showPort(index);
    } else {
        station_->remove(index);
        if (!station_->status(index).working)
            t->setState(QStringLiteral("не участвует"), PortTile::Tone::Idle);
    }
}

} // namespace tk7v::station_window
