// Helpers for the command-line tests: a scratch directory and running the built qrx.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qrxclitest {

// The bundled sample pictures.
inline const std::string kSample = std::string(QRX_SOURCE_DIR) + "/samples/sample.png";
inline const std::string kSampleAlpha = std::string(QRX_SOURCE_DIR) + "/samples/sample_alpha.png";

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

// Runs the built qrx with the given arguments (each passed as one word), by default with
// --plugin naming the test plugin; env is put before the command (for example "QRX_PLUGIN=x").
inline RunResult runQrx(const std::vector<std::string>& args, bool withPlugin = true,
                        const std::string& env = "") {
    ScratchDir dir;
    std::string cmd = env + (env.empty() ? "" : " ") + shellQuote(QRX_TEST_CLI);
    if (withPlugin) cmd += " --plugin " + shellQuote(QRX_TEST_PLUGIN);
    for (const std::string& a : args)
        cmd += " " + shellQuote(a);
    cmd += " >" + shellQuote((dir / "out").string()) + " 2>" + shellQuote((dir / "err").string());
    int status = std::system(cmd.c_str());
    RunResult r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readFile(dir / "out");
    r.err = readFile(dir / "err");
    return r;
}

} // namespace qrxclitest
