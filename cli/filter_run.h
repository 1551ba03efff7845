// What the filter commands (lut3d, sepia) share: their argument forms, and running a filter object
// on a picture file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "commands.h"
#include "qrx/host.h"

namespace qrx::cli {

// "MINX,MINY,MAXX,MAXY": four 32-bit integers. Throws UsageError naming the option.
std::array<int32_t, 4> parseRect(const std::string& option, const std::string& text);
// "A,B,C": three integers, or three numbers.
std::array<int32_t, 3> parseIntegers3(const std::string& option, const std::string& text);
std::array<double, 3> parseNumbers3(const std::string& option, const std::string& text);

// The input picture; throws UsageError naming IN.
Image readInputImage(const std::string& path);
// Throws UsageError when the output's extension names no image format.
void checkOutputPath(const std::string& path);

// Gives obj the picture as SourcePicture and the rectangle (without one: MinX = MinY = MaxX =
// MaxY = 0, which the filter classes read as the whole picture), calls Run, and writes
// DestinationPicture to output. Returns kExitOk, or kExitCallFailed (with a message) when Run
// raises or answers false; the output file is then not written.
int runFilterObject(Context& ctx, Host& host, const Ref& obj, const Image& input,
                    const std::optional<std::array<int32_t, 4>>& rect, const std::string& output);

} // namespace qrx::cli
