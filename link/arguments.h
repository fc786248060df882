#pragma once
// The command line of a command-line front end as UTF-8 text, whatever the system.
#include <string>
#include <vector>

namespace tk7v {

// The program's arguments (argv[0] included) as UTF-8, for parsers that take argc and argv. On
// Windows they come from the wide command line: main's argv there is in the ANSI code page,
// which turns every character outside it into "?" and garbles Russian names on any other
// system locale. Elsewhere argv is already the terminal's text and is taken as it is.
class Utf8Arguments {
public:
    Utf8Arguments(int argc, char** argv);
    Utf8Arguments(const Utf8Arguments&) = delete;
    Utf8Arguments& operator=(const Utf8Arguments&) = delete;

    int argc() const { return static_cast<int>(text_.size()); }
    char** argv() { return pointers_.data(); }
    const std::vector<std::string>& text() const { return text_; }

private:
    std::vector<std::string> text_;
    std::vector<char*> pointers_; // into text_, ending with a null pointer as argv does
};

} // namespace tk7v
