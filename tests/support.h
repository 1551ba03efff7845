// Shared test support: hosts in every configuration, reproducible pictures, audited calls.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "qrx/host.h"
#include "sdk/services.h"

namespace qrxtest {

// A named host configuration that tests run over, and whether its pictures have an alpha channel.
struct HostCase {
    std::string name;
    qrx::HostConfig config;
    bool alpha = false;
};
inline void PrintTo(const HostCase& c, std::ostream* os) {
    *os << c.name;
}

// Desktop in every plain layout, with padded rows, with a refused bitmap lock (copy path), an
// older desktop host, console and web.
std::vector<HostCase> plainHostCases();
// Every host kind and every pixel layout: the list above, then configurations for pictures with an
// alpha channel (desktop alpha layouts 1 and 2, console, web).
std::vector<HostCase> everyHost();

// The default host configuration but for its kind.
qrx::HostConfig ofKind(qrx::HostKind kind);

// The current host's answer for a service, cast as the plugin casts it.
template <HostService S> HostServicePointer<S> service() {
    return reinterpret_cast<HostServicePointer<S>>(qrx::Host::resolver()(HostServiceName(S)));
}

// A host with its own fresh copy of the plugin loaded.
std::unique_ptr<qrx::Host> loadHost(const qrx::HostConfig& config = {});

// A reproducible picture: gradients, exact grays and random colours; alpha varies when hasAlpha.
qrx::Image patternImage(int width, int height, bool hasAlpha, unsigned seed = 1);

// Calls a method and checks the audit: the only new reference is the result's, no description
// lock is held, no string data is outstanding, and the host saw no violation.
qrx::CallResult auditedCall(qrx::Host& host, const qrx::Ref& self, const std::string& name,
                            std::vector<qrx::Value> args);
qrx::CallResult auditedAssign(qrx::Host& host, const qrx::Ref& self, const std::string& name,
                              std::vector<qrx::Value> args, qrx::Value value);
qrx::CallResult auditedGlobal(qrx::Host& host, const std::string& name,
                              std::vector<qrx::Value> args);

// Expects the audit to be clean of locks, string data and violations.
void expectQuiet(const qrx::Host& host);

std::string caseName(const testing::TestParamInfo<HostCase>& info);

// Arguments a caller would plausibly pass, by declared type: small numbers, a flag set (so that
// the scroll methods take their wrapping paths), a colour, strings of the given bytes, a fresh
// pattern picture of the given size, a patterned memory block, and an instance of a plugin class
// for an object parameter (nil for the host's own classes).
struct Samples {
    std::string stringBytes = "qrx";
    uint32_t stringEncoding = kREALTextEncodingUTF8;
    int width = 8, height = 6;
    unsigned seed = 1;
};
qrx::Value sample(qrx::Host& host, const qrx::Type& type, Samples& s);

// Runs a shell command and returns what it wrote to standard output.
std::string commandOutput(const std::string& command);

} // namespace qrxtest
