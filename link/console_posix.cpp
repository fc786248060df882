#include "link/console.h"

#include <unistd.h>

namespace tk7v {

bool PrepareTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

} // namespace tk7v
