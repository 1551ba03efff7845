// Helpers for the command-line tests: a scratch directory, files, and running the built qrx.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace qrxclitest {

inline const std::string kSamples = std::string(QRX_SOURCE_DIR) + "/samples/";
inline const std::string kSample = kSamples + "sample.png";

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

inline std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct RunResult {
    int code = -1;
    std::string out, err;
};

// Runs a shell command line, its output and errors caught; {qrx} stands for the built qrx with
// --plugin naming the test plugin.
inline RunResult runShell(std::string cmd) {
    const std::string qrx = shellQuote(QRX_TEST_CLI) + " --plugin " + shellQuote(QRX_TEST_PLUGIN);
    for (size_t p; (p = cmd.find("{qrx}")) != std::string::npos;)
        cmd.replace(p, 5, qrx);
    ScratchDir dir;
    const std::string out = (dir / "out").string(), err = (dir / "err").string();
    int status =
        std::system(("(" + cmd + "\n) >" + shellQuote(out) + " 2>" + shellQuote(err)).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
}

// Runs the built qrx with the given arguments, each passed as one word.
inline RunResult runQrx(const std::vector<std::string>& args) {
    std::string cmd = "{qrx}";
    for (const std::string& a : args)
        cmd += " " + shellQuote(a);
    return runShell(cmd);
}

} // namespace qrxclitest
