// The subcommands of qrx. Each adds itself to the application and runs when chosen.
#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <optional>
#include <string>

#include "host_setup.h"

namespace qrx::cli {

// Where a command writes, and the exit code it ends with.
struct Context {
    std::ostream& out;
    std::ostream& err;
    HostOptions host;
    int exitCode = 0;
};

struct ListOptions {
    bool json = false;
};

struct CallOptions {
    std::string call;
    std::optional<std::string> on;
    std::optional<std::string> output;
    bool json = false;
};

CLI::App* addListCommand(CLI::App& app, Context& ctx, ListOptions& opts);
CLI::App* addCallCommand(CLI::App& app, Context& ctx, CallOptions& opts);

// Running a command; failures are thrown as ExitError.
int runList(Context& ctx, const ListOptions& opts);
int runCall(Context& ctx, const CallOptions& opts);

} // namespace qrx::cli
