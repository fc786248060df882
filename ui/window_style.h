#pragma once
// How the window looks beyond where its controls stand: the button pictures, the window icon and
// the hot-tracking tabs.
#include <QIcon>

class QTabBar;

namespace tk7v {

// The four states of the connect toggle: up, disabled, and down (while connected).
QIcon ConnectButtonIcon();
// A picture button's icon: the picture, and its grey outline while disabled.
QIcon PictureButtonIcon(const QString& picture);
// The window's own icon, 16 and 32 pixels.
QIcon WindowIcon();
// Draws the tab under the mouse in the hot-tracking colour.
void UseHotTracking(QTabBar* tabs);

} // namespace tk7v
