// Failures at the command-line edge, each with the exit code it ends the tool with.
#pragma once

#include <stdexcept>
#include <string>

namespace qrx::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitCallFailed = 1, // the call raised a host exception or gave nil where a picture was due
    kExitUsage = 2,      // bad usage, unknown method, no fitting overload, unreadable input
};

class ExitError : public std::runtime_error {
  public:
    ExitError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
    int code() const { return code_; }

  private:
    int code_;
};

// Bad usage or unusable input: exit code 2.
class UsageError : public ExitError {
  public:
    explicit UsageError(const std::string& what) : ExitError(kExitUsage, what) {}
};

} // namespace qrx::cli
