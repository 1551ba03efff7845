// What the filter commands (lut3d, sepia) share: their argument forms, and running a filter object
// on a picture file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "commands.h"
#include "host_pictures.h"
#include "qrx/host.h"

namespace qrx::cli {

// "MINX,MINY,MAXX,MAXY": four 32-bit integers. Throws UsageError naming the option.
std::array<int32_t, 4> parseRect(const std::string& option, const std::string& text);
// "A,B,C": three integers, or three numbers.
std::array<int32_t, 3> parseIntegers3(const std::string& option, const std::string& text);
std::array<double, 3> parseNumbers3(const std::string& option, const std::string& text);

// The input picture ("-": standard input); throws UsageError naming IN.
Image readInputImage(const std::string& path);
// How the command writes pictures: its --format and --quality, and "-" going to ctx.out.
PictureWriteOptions pictureWriteOptions(const Context& ctx);
// Throws UsageError when no picture can be written to path in the format the command's --format
// or, without it, the path's extension names.
void checkOutputPath(const Context& ctx, const std::string& path);

// With -v, a line on standard error naming the picture written and its size (standard output
// stays as it is, so JSON and results read the same with or without it). Without -v nothing.
void reportWritten(const Context& ctx, const std::string& path, const Ref& picture);

// The columns x0 to x1 - 1 of the rows y0 to y1 - 1.
struct PixelRect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
// The pixels a filter class's Run writes in a width x height picture for the rectangle MINX,
// MINY, MAXX, MAXY (none given: all of them): x0 = max(MINX, 0), and x1 = MAXX when
// MINX < MAXX < width, otherwise width; the same for the rows.
PixelRect filteredRect(const std::optional<std::array<int32_t, 4>>& rect, int width, int height);

// What the filter commands write unless --raw is given: the source, with the filter's colours in
// the rectangle it filtered, and the source's alpha channel (and alpha) everywhere. source and
// filtered have one size.
Image keepSourceAround(Image source, const Image& filtered, const PixelRect& rect);

// Writes the filter's result picture to output: as it stands with raw, otherwise
// keepSourceAround(input, result, rect). Throws UsageError naming -o when it cannot be written.
void writeFilterResult(Context& ctx, Host& host, const Ref& result, const Image& input,
                       const PixelRect& rect, bool raw, const std::string& output);

// Gives obj the picture as SourcePicture and the rectangle (without one: MinX = MinY = MaxX =
// MaxY = 0, which the filter classes read as the whole picture), calls Run, and writes
// DestinationPicture to output (see writeFilterResult). Returns kExitOk, or kExitCallFailed
// (with a message) when Run raises or answers false; the output file is then not written.
int runFilterObject(Context& ctx, Host& host, const Ref& obj, const Image& input,
                    const std::optional<std::array<int32_t, 4>>& rect, bool raw,
                    const std::string& output);

} // namespace qrx::cli
