// Helpers for the command-line tests: a scratch directory, the input files they write, and
// running the built qrx.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qrxclitest {

// The bundled sample pictures.
inline const std::string kSample = std::string(QRX_SOURCE_DIR) + "/samples/sample.png";
inline const std::string kSampleAlpha = std::string(QRX_SOURCE_DIR) + "/samples/sample_alpha.png";

// A table row prints as its name, so that a failing case reads as the case it is (used by the
// files' own `using qrxclitest::operator<<`).
template <class Row> auto operator<<(std::ostream& os, const Row& row) -> decltype(os << row.name) {
    return os << row.name;
}

inline bool contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

// A fresh directory under the system's temporary directory, removed with everything in it.
class ScratchDir {
  public:
    ScratchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qrx-cli-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // Names of the entries in the directory, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// A number as a .cube file holds it, with every digit of the double.
inline std::string num(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

using Rgb = std::array<double, 3>;

// The text of a 3D cube of n points per axis whose point (r, g, b) holds f at the fractions
// r / (n - 1), g / (n - 1), b / (n - 1), red changing fastest; header lines go before the size.
inline std::string cubeText(int n, const std::function<Rgb(double, double, double)>& f,
                            const std::string& header = "") {
    std::string s = header + "LUT_3D_SIZE " + std::to_string(n) + "\n";
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                Rgb v = f(double(r) / (n - 1), double(g) / (n - 1), double(b) / (n - 1));
                s += num(v[0]) + " " + num(v[1]) + " " + num(v[2]) + "\n";
            }
    return s;
}

inline std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct RunResult {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs a shell command line, its output and errors caught; {qrx} stands for the built qrx with
// --plugin naming the test plugin.
inline RunResult runShell(std::string cmd) {
    const std::string qrx = shellQuote(QRX_TEST_CLI) + " --plugin " + shellQuote(QRX_TEST_PLUGIN);
    for (size_t p; (p = cmd.find("{qrx}")) != std::string::npos;)
        cmd.replace(p, 5, qrx);
    ScratchDir dir;
    cmd = "(" + cmd + ") >" + shellQuote((dir / "out").string()) + " 2>" +
          shellQuote((dir / "err").string());
    int status = std::system(cmd.c_str());
    RunResult r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readFile(dir / "out");
    r.err = readFile(dir / "err");
    return r;
}

// Runs the built qrx with the given arguments (each passed as one word), by default with
// --plugin naming the test plugin; env is put before the command (for example "QRX_PLUGIN=x").
inline RunResult runQrx(const std::vector<std::string>& args, bool withPlugin = true,
                        const std::string& env = "") {
    std::string cmd =
        env + (env.empty() ? "" : " ") + (withPlugin ? "{qrx}" : shellQuote(QRX_TEST_CLI));
    for (const std::string& a : args)
        cmd += " " + shellQuote(a);
    return runShell(cmd);
}

} // namespace qrxclitest
