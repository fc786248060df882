#pragma once
// Text from outside (a device's line, a server's words, a file's cells) as a terminal or a table
// may show it. A device may send anything in its identification, a file may hold anything: an
// escape sequence shown raw recolours, moves or clears a terminal, retitles its window, or hides
// what comes before it; a line break in a cell makes a line that no record wrote.
#include <string>
#include <string_view>

namespace tk7v::station {

// `utf8` with each control character written out as an escape ("\x1B", "\u009B") and each byte
// that is no part of UTF-8 as "\xFF": what shows is what came, and nothing acts on the screen.
// Line breaks and tabs stay when `keepLines`, for text of several lines this program made around
// what came.
std::string ControlsEscaped(std::string_view utf8, bool keepLines = false);

} // namespace tk7v::station
