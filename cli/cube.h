// .cube lookup-table files (the Adobe and Resolve text form) and their resampling onto the grid
// of the PictureLut3DQRX filter.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qrx::cli {

// A malformed or unreadable .cube file. what() is "FILE:LINE: fault" (or "FILE: fault" when the
// fault is not on one line); line() is 0 then.
class CubeError : public std::runtime_error {
  public:
    CubeError(const std::string& file, int line, const std::string& fault);
    int line() const { return line_; }

  private:
    int line_;
};

struct Cube {
    std::string title;
    // Exactly one of the two sizes is set (the other is 0).
    int size3D = 0; // points per axis of a 3D table, 2 to 256
    int size1D = 0; // entries of a 1D table, 2 to 65536
    std::array<double, 3> domainMin{0.0, 0.0, 0.0};
    std::array<double, 3> domainMax{1.0, 1.0, 1.0};
    // Output red, green and blue of each point; for a 3D table red changes fastest, then green,
    // then blue: point (r, g, b) is data[(b * size + g) * size + r].
    std::vector<std::array<double, 3>> data;

    bool is3D() const { return size3D > 0; }
};

// Reads the text of a .cube file; name is the file name used in messages. Accepts '#' comments
// (whole lines or after the values), blank lines, CRLF line ends, a leading UTF-8 byte-order mark,
// TITLE "...", LUT_3D_SIZE, LUT_1D_SIZE, DOMAIN_MIN, DOMAIN_MAX and LUT_1D_INPUT_RANGE /
// LUT_3D_INPUT_RANGE (two numbers: the same domain on every axis). Keywords may come in any
// order before the first data line; a size must precede the data. Throws CubeError.
Cube parseCube(std::string_view text, const std::string& name);

// Reads and parses a file; throws CubeError (also when the file cannot be read).
Cube readCube(const std::filesystem::path& path);

// Nodes per axis of the filter's table, and the last node Run uses.
inline constexpr int kLutNodes = 18;
inline constexpr int kLutLastNode = 15;

// Index of entry (r, g, b, x) in a table of lutTable().
inline constexpr size_t lutIndex(int r, int g, int b, int x) {
    return ((size_t(r) * kLutNodes + size_t(g)) * kLutNodes + size_t(b)) * 3 + size_t(x);
}

// The filter's table for a 3D cube: 18 x 18 x 18 x 3 doubles, r-major. Node k (0 to 15) of an axis
// stands for the component value 17 k, the input k / 15, located within the file's input domain
// (inputs outside it take its nearest end); the cube is sampled there by trilinear interpolation (a
// 16-point cube lands exactly on its points). Outputs v become v * 255, unrounded. Nodes 16 and 17
// repeat node 15 on every axis.
std::vector<double> lutTable(const Cube& cube);

// The three 256-byte tables (red, green, blue) of a 1D cube: entry i samples the file's table at
// the input i / 255, located within its input domain, by linear interpolation; output v becomes v *
// 255, clamped to 0 to 255 and rounded to the nearest byte.
std::array<std::array<uint8_t, 256>, 3> curveTables(const Cube& cube);

} // namespace qrx::cli
