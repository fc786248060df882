#include "link/arguments.h"

namespace tk7v {

Utf8Arguments::Utf8Arguments(int argc, char** argv) : text_(argv, argv + argc) {
    for (std::string& a : text_)
        pointers_.push_back(a.data());
    pointers_.push_back(nullptr);
}

} // namespace tk7v
