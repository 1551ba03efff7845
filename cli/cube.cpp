#include "cube.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

namespace qrx::cli {

namespace {

std::string where(const std::string& file, int line) {
    return line > 0 ? file + ":" + std::to_string(line) : file;
}

std::string shortest(double v) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}

// The line without its comment: everything from a '#' outside double quotes on.
std::string_view withoutComment(std::string_view line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == '#' && !quoted) return line.substr(0, i);
    }
    return line;
}

std::vector<std::string_view> tokens(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

std::optional<double> number(std::string_view tok) {
    if (!tok.empty() && tok.front() == '+') {
        tok.remove_prefix(1);
        if (!tok.empty() && (tok.front() == '+' || tok.front() == '-')) return std::nullopt;
    }
    double v = 0;
    auto [end, ec] = std::from_chars(tok.data(), tok.data() + tok.size(), v);
    if (ec != std::errc() || end != tok.data() + tok.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

bool startsData(std::string_view tok) {
    char c = tok.front();
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

class Parser {
  public:
    Parser(std::string_view text, const std::string& name) : text_(text), name_(name) {}

    Cube run() {
        // A byte-order mark some editors put first.
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
        size_t pos = 0;
        int lineNo = 0;
        while (pos < text_.size()) {
            size_t nl = text_.find('\n', pos);
            std::string_view line =
                text_.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
            pos = nl == std::string_view::npos ? text_.size() : nl + 1;
            ++lineNo;
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            line_ = lineNo;
            handle(withoutComment(line));
        }
        line_ = std::max(lineNo, 1);
        finish();
        return std::move(cube_);
    }

  private:
    [[noreturn]] void fail(const std::string& fault) const { throw CubeError(name_, line_, fault); }

    void handle(std::string_view line) {
        auto toks = tokens(line);
        if (toks.empty()) return;
        if (startsData(toks.front())) return dataLine(toks);
        std::string_view key = toks.front();
        if (dataLines_ > 0) fail("keyword " + std::string(key) + " after the data lines");
        if (key == "TITLE") return title(line);
        if (key == "LUT_3D_SIZE" || key == "LUT_1D_SIZE") return size(key, toks);
        if (key == "DOMAIN_MIN" || key == "DOMAIN_MAX") return domain(key, toks);
        if (key == "LUT_3D_INPUT_RANGE" || key == "LUT_1D_INPUT_RANGE") return range(key, toks);
        fail("unknown keyword '" + std::string(key) + "'");
    }

    void title(std::string_view line) {
        std::string_view rest = line.substr(line.find("TITLE") + 5);
        while (!rest.empty() && isBlank(rest.front()))
            rest.remove_prefix(1);
        while (!rest.empty() && isBlank(rest.back()))
            rest.remove_suffix(1);
        if (!rest.empty() && rest.front() == '"') {
            size_t close = rest.find('"', 1);
            if (close == std::string_view::npos) fail("TITLE: the closing quote is missing");
            rest = rest.substr(1, close - 1);
        }
        cube_.title = std::string(rest);
    }

    std::vector<double> numbers(std::string_view key, const std::vector<std::string_view>& toks,
                                size_t count) {
        if (toks.size() != count + 1)
            fail(std::string(key) + ": expected " + std::to_string(count) + " value" +
                 (count == 1 ? "" : "s") + ", found " + std::to_string(toks.size() - 1));
        std::vector<double> out;
        for (size_t i = 1; i < toks.size(); ++i) {
            auto v = number(toks[i]);
            if (!v) fail(std::string(key) + ": '" + std::string(toks[i]) + "' is not a number");
            out.push_back(*v);
        }
        return out;
    }

    void size(std::string_view key, const std::vector<std::string_view>& toks) {
        if (sizeLine_)
            fail("a second size: " + std::string(key) + " after " + sizeKey_ + " on line " +
                 std::to_string(sizeLine_));
        if (toks.size() != 2)
            fail(std::string(key) + ": expected 1 value, found " + std::to_string(toks.size() - 1));
        std::string_view tok = toks[1];
        long n = 0;
        auto [end, ec] = std::from_chars(tok.data(), tok.data() + tok.size(), n);
        if (ec != std::errc() || end != tok.data() + tok.size())
            fail(std::string(key) + ": '" + std::string(tok) + "' is not a whole number");
        const bool is3D = key == "LUT_3D_SIZE";
        const long high = is3D ? 256 : 65536;
        if (n < 2 || n > high)
            fail(std::string(key) + " " + std::to_string(n) + " is out of range (2 to " +
                 std::to_string(high) + ")");
        (is3D ? cube_.size3D : cube_.size1D) = int(n);
        sizeLine_ = line_;
        sizeKey_ = std::string(key);
        long points = is3D ? n * n * n : n;
        expected_ = size_t(points);
        cube_.data.reserve(expected_);
    }

    void setDomainLine(int& seen, std::string_view key, const char* what) {
        if (seen)
            fail("a second " + std::string(what) + ": " + std::string(key) + " after line " +
                 std::to_string(seen));
        seen = line_;
    }

    void domain(std::string_view key, const std::vector<std::string_view>& toks) {
        const bool min = key == "DOMAIN_MIN";
        setDomainLine(min ? minLine_ : maxLine_, key, min ? "domain minimum" : "domain maximum");
        auto v = numbers(key, toks, 3);
        std::copy(v.begin(), v.end(), (min ? cube_.domainMin : cube_.domainMax).begin());
    }

    void range(std::string_view key, const std::vector<std::string_view>& toks) {
        setDomainLine(minLine_, key, "domain minimum");
        setDomainLine(maxLine_, key, "domain maximum");
        auto v = numbers(key, toks, 2);
        cube_.domainMin.fill(v[0]);
        cube_.domainMax.fill(v[1]);
    }

    void dataLine(const std::vector<std::string_view>& toks) {
        if (!sizeLine_) fail("a data line before LUT_3D_SIZE or LUT_1D_SIZE");
        if (toks.size() != 3)
            fail("expected 3 values on a data line, found " + std::to_string(toks.size()));
        if (dataLines_ == expected_)
            fail("more data lines than the " + std::to_string(expected_) + " " + sizeKey_ + " " +
                 std::to_string(cube_.is3D() ? cube_.size3D : cube_.size1D) + " calls for");
        std::array<double, 3> v{};
        for (size_t i = 0; i < 3; ++i) {
            auto n = number(toks[i]);
            if (!n) fail("'" + std::string(toks[i]) + "' is not a number");
            v[i] = *n;
        }
        cube_.data.push_back(v);
        ++dataLines_;
    }

    void finish() {
        if (!sizeLine_) fail("no LUT_3D_SIZE or LUT_1D_SIZE");
        if (dataLines_ < expected_)
            fail(std::to_string(dataLines_) + " data lines, " + sizeKey_ + " " +
                 std::to_string(cube_.is3D() ? cube_.size3D : cube_.size1D) + " calls for " +
                 std::to_string(expected_));
        static const char* const kAxes[3] = {"red", "green", "blue"};
        for (int a = 0; a < 3; ++a)
            if (!(cube_.domainMin[a] < cube_.domainMax[a])) {
                line_ = std::max(minLine_, maxLine_);
                fail(std::string("the domain minimum must be below the maximum (") + kAxes[a] +
                     ": " + shortest(cube_.domainMin[a]) + " to " + shortest(cube_.domainMax[a]) +
                     ")");
            }
    }

    std::string_view text_;
    const std::string& name_;
    Cube cube_;
    int line_ = 0;
    int sizeLine_ = 0;
    std::string sizeKey_;
    int minLine_ = 0, maxLine_ = 0;
    size_t expected_ = 0;
    size_t dataLines_ = 0;
};

// Where a fraction t (0 to 1) of the domain falls on an axis of n points: the lower point and the
// position above it. Points that t hits exactly give a position of exactly 0.
struct AxisPos {
    int i0, i1;
    double f;
};

AxisPos axisPos(long numerator, long denominator, int n) {
    // t = numerator / denominator; the point position is t (n - 1), computed from integers so an
    // exact hit stays exact.
    long scaled = numerator * long(n - 1);
    int i0 = int(scaled / denominator);
    double f = double(scaled % denominator) / double(denominator);
    if (i0 >= n - 1) return {n - 1, n - 1, 0.0};
    return {i0, i0 + 1, f};
}

// Where the input value numerator / denominator falls on an axis of n points spanning the input
// domain [lo, hi]: inputs outside the domain take its nearest end. The usual domain 0 to 1 keeps
// the integer path, so a point hit exactly stays exact.
AxisPos domainPos(long numerator, long denominator, int n, double lo, double hi) {
    if (lo == 0.0 && hi == 1.0) return axisPos(numerator, denominator, n);
    double t = (double(numerator) / double(denominator) - lo) / (hi - lo);
    t = std::clamp(t, 0.0, 1.0) * double(n - 1);
    int i0 = std::min(int(t), n - 1);
    if (i0 >= n - 1) return {n - 1, n - 1, 0.0};
    return {i0, i0 + 1, t - double(i0)};
}

double lerp(double a, double b, double f) {
    return f == 0.0 ? a : (1.0 - f) * a + f * b;
}

} // namespace

CubeError::CubeError(const std::string& file, int line, const std::string& fault)
    : std::runtime_error(where(file, line) + ": " + fault), line_(line) {}

Cube parseCube(std::string_view text, const std::string& name) {
    return Parser(text, name).run();
}

Cube readCube(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CubeError(path.string(), 0, std::string("cannot read: ") + std::strerror(errno));
    std::string text(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) throw CubeError(path.string(), 0, "cannot read");
    return parseCube(text, path.string());
}

// The node k of the filter stands for the component 17 k, the input value k / 15; the file's
// points span its input domain, so that value is located at (k / 15 - min) / (max - min) of the
// file's axis, and inputs outside the domain take its nearest end, as common .cube readers do.
std::vector<double> lutTable(const Cube& cube) {
    const int n = cube.size3D;
    if (n < 2 || cube.data.size() != size_t(n) * n * n)
        throw std::invalid_argument("lutTable: not a complete 3D cube");
    auto at = [&](int r, int g, int b, int x) {
        return cube.data[(size_t(b) * n + size_t(g)) * n + size_t(r)][size_t(x)];
    };
    std::array<std::array<AxisPos, kLutLastNode + 1>, 3> pos{};
    for (size_t axis = 0; axis < 3; ++axis)
        for (int k = 0; k <= kLutLastNode; ++k)
            pos[axis][size_t(k)] =
                domainPos(k, kLutLastNode, n, cube.domainMin[axis], cube.domainMax[axis]);

    std::vector<double> table(size_t(kLutNodes) * kLutNodes * kLutNodes * 3, 0.0);
    for (int r = 0; r < kLutNodes; ++r)
        for (int g = 0; g < kLutNodes; ++g)
            for (int b = 0; b < kLutNodes; ++b) {
                // Nodes 16 and 17 repeat node 15.
                const AxisPos& pr = pos[0][size_t(std::min(r, kLutLastNode))];
                const AxisPos& pg = pos[1][size_t(std::min(g, kLutLastNode))];
                const AxisPos& pb = pos[2][size_t(std::min(b, kLutLastNode))];
                for (int x = 0; x < 3; ++x) {
                    auto alongR = [&](int gi, int bi) {
                        return lerp(at(pr.i0, gi, bi, x), at(pr.i1, gi, bi, x), pr.f);
                    };
                    auto alongG = [&](int bi) {
                        return lerp(alongR(pg.i0, bi), alongR(pg.i1, bi), pg.f);
                    };
                    double v = lerp(alongG(pb.i0), alongG(pb.i1), pb.f);
                    table[lutIndex(r, g, b, x)] = v * 255.0;
                }
            }
    return table;
}

std::array<std::array<uint8_t, 256>, 3> curveTables(const Cube& cube) {
    const int n = cube.size1D;
    if (n < 2 || cube.data.size() != size_t(n))
        throw std::invalid_argument("curveTables: not a complete 1D table");
    std::array<std::array<uint8_t, 256>, 3> out{};
    for (int i = 0; i < 256; ++i) {
        for (int c = 0; c < 3; ++c) {
            AxisPos p = domainPos(i, 255, n, cube.domainMin[size_t(c)], cube.domainMax[size_t(c)]);
            double v =
                lerp(cube.data[size_t(p.i0)][size_t(c)], cube.data[size_t(p.i1)][size_t(c)], p.f) *
                255.0;
            v = std::clamp(v, 0.0, 255.0);
            out[size_t(c)][size_t(i)] = uint8_t(std::lround(v));
        }
    }
    return out;
}

} // namespace qrx::cli
