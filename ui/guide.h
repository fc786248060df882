#pragma once
// The user guide installed with the program, which F1 in the window opens in the system's
// browser.
#include <QString>

namespace tk7v {

// The guide's page for a program in `programDir`: beside it (the Windows setup and the zip put it
// there), else in the documentation folder of the installation the program is part of (Debian's
// /usr/share/doc/tk7v); empty when none is installed, as in a build tree.
QString InstalledGuide(const QString& programDir);

} // namespace tk7v
