// Helpers for the command-line tests: a scratch directory, files, and running the built qrx.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qrxclitest {

inline const std::string kSamples = std::string(QRX_SOURCE_DIR) + "/samples/";
inline const std::string kSample = kSamples + "sample.png";

inline bool contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

// A fresh directory under the system's temporary directory, removed with everything in it.
struct ScratchDir {
    std::filesystem::path dir = [] {
        std::string name = (std::filesystem::temp_directory_path() / "qrx-cli-XXXXXX").string();
        if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
        return name;
    }();
    ~ScratchDir() { std::filesystem::remove_all(dir); }
    const std::filesystem::path& path() const { return dir; }
    std::filesystem::path operator/(const std::string& name) const { return dir / name; }
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

// \n, \r, \t, \e, \0 and \xHH in a table's text: a line end, a carriage return, a tab, an
// escape, a zero byte and the byte HH.
inline std::string unescape(std::string s) {
    for (size_t p = 0; (p = s.find('\\', p)) != std::string::npos; ++p) {
        const size_t i = std::string("nrte0x").find(s[p + 1]);
        if (i == std::string::npos) continue;
        const char c = i < 5 ? "\n\r\t\033"[i] : char(std::stoi(s.substr(p + 2, 2), nullptr, 16));
        s.replace(p, i < 5 ? 2 : 4, 1, c);
    }
    return s;
}

// The rows of a table, one a line: fields between " | ", at most n, trimmed; a field in
// backquotes keeps its blanks.
inline std::vector<std::vector<std::string>> rowsOf(const std::string& text, size_t n = 99) {
    auto trim = [](std::string f) {
        f.erase(0, f.find_first_not_of(' ')).erase(f.find_last_not_of(' ') + 1);
        return f.size() > 1 && f.front() == '`' && f.back() == '`' ? f.substr(1, f.size() - 2) : f;
    };
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        std::vector<std::string> row;
        line += " ";
        for (size_t bar; row.size() + 1 < n && (bar = line.find(" | ")) != std::string::npos;
             line.erase(0, bar + 3))
            row.push_back(trim(line.substr(0, bar)));
        row.push_back(trim(line));
        rows.push_back(row);
    }
    return rows;
}

inline std::string be32(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

inline std::string pngChunk(const std::string& type, const std::string& data) {
    const std::string body = type + data;
    const auto* p = reinterpret_cast<const Bytef*>(body.data());
    return be32(uint32_t(data.size())) + body + be32(uint32_t(crc32(0, p, uInt(body.size()))));
}

// A PNG of the given header, with `chunks` before its image data, the scanlines `raw` (each with
// its filter byte) compressed.
inline std::string pngFile(const std::string& ihdr, const std::string& raw,
                           const std::string& chunks = "") {
    std::string packed(compressBound(uLong(raw.size())), '\0');
    uLongf n = uLongf(packed.size());
    compress(reinterpret_cast<Bytef*>(packed.data()), &n,
             reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()));
    return std::string("\x89PNG\r\n\x1A\n", 8) + pngChunk("IHDR", ihdr) + chunks +
           pngChunk("IDAT", packed.substr(0, n)) + pngChunk("IEND", "");
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
