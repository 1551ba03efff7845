// How qrx presents itself on the command line: help that fits an 80-column terminal, with the
// host options in a group of their own after the everyday ones, and parse errors that read like
// every other message of the tool.
#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <string>

namespace qrx::cli {

// Every help line fits in this many columns.
constexpr size_t kHelpWidth = 80;

// The option group of --host, --host-version, --layout, --alpha-layout, --legacy-pictures and
// --hide-legacy-library; help shows it after every other group.
inline constexpr const char* kHostOptionsGroup = "Host options";

// Text broken at blanks into lines of at most width columns; lines after the first start with
// indent blanks (counted in the width). Line breaks in the text are kept. A word longer than a
// line stands alone on its line.
std::string wrapText(const std::string& text, size_t width, size_t indent = 0);

// Gives app the help formatter; subcommands added afterwards inherit it.
void useQrxHelp(CLI::App& app);

// The message for a command line the parser refused, starting "qrx: " and ending with the help
// to read (the innermost command that was being parsed): an unknown command or option at the
// top level is named as such.
std::string parseErrorMessage(const CLI::App& app, const CLI::ParseError& e);

} // namespace qrx::cli
