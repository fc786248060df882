#pragma once
// The program's version as its own file carries it. A build embeds a small version block in the
// executable (see version_block.cpp); GetVersionValue reads it back from the file on disk, so
// the caption shows the version of the file that runs.
#include <QString>

namespace tk7v {

// The value (for example "FileVersion") from the version block of the file at path.
// "UNKNOWN" when the file cannot be read or holds no version block; the empty text when the
// block has no such value.
QString GetVersionValue(const QString& path, const QString& valueName);

} // namespace tk7v
