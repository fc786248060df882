#pragma once
// One running configurator per user, named after the program's instance GUID. On Windows it is
// the named shared memory block holding the first instance's window handle; a second instance
// hands its file to that window in a WM_COPYDATA message and brings the window forward itself
// (instance_guard_win32.cpp). Elsewhere the first instance holds a lock file and listens on a
// local socket in a folder only the user can reach (the runtime folder); a second one sends it
// the file, if any, and asks it over the socket to come forward (instance_guard_posix.cpp).
// A file double-clicked while the window is open must not be lost: the second start exists only
// to carry it over.
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QWidget;

namespace tk7v {

inline constexpr const char* kInstanceGuid = "3909D6A8-7B2F-4F02-8C80-BA5A45E87843";

class InstanceGuard {
public:
    // folder: where the lock and the socket live (by default the user's runtime folder, or
    // another folder only the user can reach; with none, the program runs unguarded).
    explicit InstanceGuard(QString folder = {});
    ~InstanceGuard();

    // Taken before anything that needs a display; needs a QCoreApplication. True when this is
    // the first instance.
    bool lock();
    // First instance: whenever a later one asks, the window `window()` names (if any) comes
    // forward (ActivatePreviousInstance), on this thread; a file it hands over (an absolute path)
    // then goes to `open`, on this thread too, once no modal dialog of the program is open.
    void listenFor(std::function<QWidget*()> window, std::function<void(const QString&)> open = {});
    // First instance, once its window exists: later instances find this window.
    void publish(QWidget* window);
    // Later instance: hands the first one `file` (the path as given: it is made absolute here,
    // since the first one's working folder is another), if not empty, has its window come
    // forward, and waits (briefly) until it has.
    void askFirstToComeForward(const QString& file = {});

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// POSIX: the first of `candidates` that is a folder only this user can reach (made with mode 700
// if missing; an existing one must be the user's own folder, not a link, with no access for
// group or others), or empty. A folder another user made could otherwise let that user hold
// the lock (every start would end as if a copy ran) or answer on the socket.
QString PrivateFolder(const QStringList& candidates);

// Brings a window forward: restored if minimised, else shown and raised; a modal dialog of the
// program comes forward instead of the window it belongs to.
void ActivatePreviousInstance(QWidget* window);

// Runs `open(path)` on the window thread as soon as no modal dialog of the program is open: a
// file handed over while the user answers a box (or picks a file in the Open dialog) waits for
// the answer rather than loading under it, as the Open button cannot be pressed meanwhile.
void OpenWhenNoDialogIsOpen(const QString& path, std::function<void(const QString&)> open);

// The text of the box of last resort: a full stop is added unless the text ends in one (or in
// another character that sorts at or below it, such as "!").
QString WithFullStop(const QString& message);

} // namespace tk7v
