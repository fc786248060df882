#pragma once
// The command line's words for people: help laid out by characters (Russian text takes two
// bytes a letter, which CLI11's own layout counts as two columns), and every failure to parse
// told in Russian, naming the word that was wrong.
#include <CLI/CLI.hpp>

#include <optional>
#include <string>

namespace tk7v::cli {

// Installs the help layout and its labels on the program's parser; subcommands added afterwards
// inherit them.
void UseRussianHelp(CLI::App& app);

// Parses the command line. Help and the version are printed here (exit status 0); a command line
// that cannot be parsed is explained on standard error (exit status 2). nullopt: go on and run
// the chosen command.
std::optional<int> Parse(CLI::App& app, int argc, char** argv);

// "tk7v-cli write: what is wrong" and where the help is, on standard error; the usage status.
int UsageError(const CLI::App& command, const std::string& what);

} // namespace tk7v::cli
