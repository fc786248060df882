#include "link/arguments.h"

#include "link/wide_text_win32.h"

#include <windows.h>

#include <shellapi.h>

namespace tk7v {

Utf8Arguments::Utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide) {
        for (int i = 0; i < count; ++i)
            text_.push_back(Utf8FromWide(wide[i]));
        ::LocalFree(wide);
    } else {
        text_.assign(argv, argv + argc); // no wide command line to be had: the ANSI one
    }
    for (std::string& a : text_)
        pointers_.push_back(a.data());
    pointers_.push_back(nullptr);
}

} // namespace tk7v
