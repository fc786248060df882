#pragma once
// Qt's own words in Russian: the standard buttons (Да / Нет / Отмена), the file dialogs, the
// edit menu of every field (Отменить, Вырезать, Копировать, …). The translation travels inside
// the program, so the Windows build, which has no Qt beside it, speaks Russian as the Linux one
// does; the system's copy is the fallback.
class QCoreApplication;

namespace tk7v {

// Installs Qt's Russian translation into `app`; false where none could be had.
bool InstallQtRussian(QCoreApplication& app);

} // namespace tk7v
