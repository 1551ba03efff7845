// qrx, the command-line tool: runs the plugin's methods on image files through the host runtime.
#pragma once

#include <iosfwd>

namespace qrx::cli {

// The whole tool: parses the command line, runs the chosen command and returns the exit code.
// Results go to out, messages to err.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace qrx::cli
