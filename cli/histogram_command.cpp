// qrx histogram: the three channel histograms of a picture file, as a table, as JSON and as a plot.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <ostream>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "errors.h"
#include "filter_run.h"
#include "image_io.h"
#include "qrx/objects.h"

namespace qrx::cli {

namespace {

using Histogram = std::array<uint32_t, 256>;

struct Histograms {
    Histogram red{}, green{}, blue{};
    int32_t pixels = 0;
};

Histogram countersOf(const Value& v, const char* which) {
    const Ref* r = std::get_if<Ref>(&v);
    const MemoryBlock* m = r && *r ? r->as<MemoryBlock>() : nullptr;
    if (!m || m->bytes.size() < 1024)
        throw ExitError(kExitCallFailed,
                        std::string("CountColorsQRX gave no ") + which + " histogram block");
    Histogram h{};
    for (size_t i = 0; i < 256; ++i) {
        const uint8_t* b = m->bytes.data() + 4 * i;
        h[i] = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    }
    return h;
}

// The plugin hands the histograms back in the blocks it created: red in the first, green in the
// second and blue in the third.
Histograms countColours(Host& host, const Image& input) {
    Ref pic = hostPicture(host, input, "IN");
    CallResult r;
    try {
        r = host.call(pic, "CountColorsQRX", {Nil{}, Nil{}, Nil{}, int32_t(0)});
    } catch (const CallError& e) {
        throw UsageError(e.what());
    }
    if (r.exception)
        throw ExitError(kExitCallFailed, "CountColorsQRX raised " + r.exception->className + ": " +
                                             r.exception->message);
    Histograms h;
    h.pixels = r.byRef.size() == 4 && std::holds_alternative<int32_t>(r.byRef[3])
                   ? std::get<int32_t>(r.byRef[3])
                   : -1;
    if (h.pixels < 0)
        throw ExitError(kExitCallFailed, "CountColorsQRX could not count the picture");
    h.red = countersOf(r.byRef[0], "red");
    h.green = countersOf(r.byRef[1], "green");
    h.blue = countersOf(r.byRef[2], "blue");
    return h;
}

// ---- The plot, drawn pixel by pixel ----

constexpr int kPlotWidth = 512, kPlotHeight = 300;
constexpr int kLeft = 44, kRight = kPlotWidth - 12, kTop = 12, kBottom = kPlotHeight - 34;

using RGB = std::array<uint8_t, 3>;

void put(Image& img, int x, int y, RGB c) {
    if (x < 0 || y < 0 || x >= img.width || y >= img.height) return;
    uint8_t* p = img.pixel(x, y);
    p[0] = c[0];
    p[1] = c[1];
    p[2] = c[2];
    p[3] = 255;
}

void line(Image& img, int x0, int y0, int x1, int y1, RGB c) {
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        put(img, x0, y0, c);
        if (x0 == x1 && y0 == y1) return;
        const int e2 = 2 * err;
        if (e2 >= dy) err += dy, x0 += sx;
        if (e2 <= dx) err += dx, y0 += sy;
    }
}

// Digits of a 3 x 5 font, one row of three bits per entry, top row first.
constexpr std::array<std::array<uint8_t, 5>, 10> kDigits{{
    {7, 5, 5, 5, 7},
    {2, 6, 2, 2, 7},
    {7, 1, 7, 4, 7},
    {7, 1, 3, 1, 7},
    {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7},
    {7, 4, 7, 5, 7},
    {7, 1, 1, 2, 2},
    {7, 5, 7, 5, 7},
    {7, 5, 7, 1, 7},
}};

// A number in digits twice the font's size; (x, y) is the top-left corner.
void number(Image& img, int x, int y, uint64_t value, RGB c) {
    const std::string text = std::to_string(value);
    for (char ch : text) {
        const auto& glyph = kDigits[size_t(ch - '0')];
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col)
                if (glyph[size_t(row)] & (4 >> col))
                    for (int k = 0; k < 4; ++k)
                        put(img, x + 2 * col + (k & 1), y + 2 * row + (k >> 1), c);
        x += 8;
    }
}

int textWidth(uint64_t value) {
    return int(std::to_string(value).size()) * 8 - 2;
}

int columnOf(int v) {
    return kLeft + v * (kRight - kLeft) / 255;
}

Image plot(const Histograms& h) {
    Image img;
    img.width = kPlotWidth;
    img.height = kPlotHeight;
    img.rgba.assign(size_t(kPlotWidth) * kPlotHeight * 4, 255);
    uint32_t top = 1;
    for (const Histogram* c : {&h.red, &h.green, &h.blue})
        top = std::max(top, *std::max_element(c->begin(), c->end()));
    auto rowOf = [&](uint32_t count) {
        return kBottom - int(uint64_t(count) * uint64_t(kBottom - kTop) / top);
    };

    const RGB gridColour{225, 225, 225}, axisColour{0, 0, 0};
    for (int v : {64, 128, 192, 255})
        line(img, columnOf(v), kTop, columnOf(v), kBottom, gridColour);
    line(img, kLeft, kTop, kRight, kTop, gridColour);
    line(img, kLeft, rowOf(top / 2), kRight, rowOf(top / 2), gridColour);

    const std::array<std::pair<const Histogram*, RGB>, 3> channels{
        {{&h.red, {220, 0, 0}}, {&h.green, {0, 160, 0}}, {&h.blue, {0, 0, 230}}}};
    for (const auto& [counts, colour] : channels)
        for (int v = 1; v < 256; ++v)
            line(img, columnOf(v - 1), rowOf((*counts)[size_t(v - 1)]), columnOf(v),
                 rowOf((*counts)[size_t(v)]), colour);

    // Axes with ticks and labels: component values below, counts on the left.
    line(img, kLeft, kTop, kLeft, kBottom, axisColour);
    line(img, kLeft, kBottom, kRight, kBottom, axisColour);
    for (int v : {0, 64, 128, 192, 255}) {
        line(img, columnOf(v), kBottom, columnOf(v), kBottom + 5, axisColour);
        number(img, columnOf(v) - textWidth(uint64_t(v)) / 2, kBottom + 9, uint64_t(v), axisColour);
    }
    for (uint32_t count : {0u, top / 2, top}) {
        line(img, kLeft - 5, rowOf(count), kLeft, rowOf(count), axisColour);
        // Counts too wide for the margin are left to the table.
        if (textWidth(count) <= kLeft - 8)
            number(img, kLeft - 7 - textWidth(count), rowOf(count) - 5, count, axisColour);
    }
    return img;
}

} // namespace

CLI::App* addHistogramCommand(CLI::App& app, Context& ctx, HistogramOptions& opts) {
    CLI::App* cmd = app.add_subcommand(
        "histogram", "The red, green and blue histograms of a picture file, through the plugin's "
                     "CountColorsQRX, as a table, as JSON, or drawn as a plot");
    addHostOptions(*cmd, ctx.host);
    addOutputOptions(*cmd, ctx.output);
    cmd->add_option("IN", opts.input, "Picture file (PNG, JPEG, PAM, PPM); - reads standard input")
        ->required();
    cmd->add_option("-o,--output", opts.plot,
                    "Also draw the three histograms into this picture, 512 x 300 (PNG, JPEG, "
                    "PAM, PPM or PPIC by extension, or --format); - writes it to standard "
                    "output, and the table then goes to standard error");
    cmd->add_flag("--json", opts.json,
                  "Print one JSON object: {\"pixels\": N, \"red\": [256 counts], \"green\": "
                  "[...], \"blue\": [...], \"plot\": path or null}");
    cmd->footer(
        "The table has one line per component value 0 to 255: value, red, green and blue\n"
        "counts, after a line with the number of pixels counted. Alpha is not looked at.\n"
        "The plot shows red, green and blue curves on white: component value 0 to 255 to the\n"
        "right, ticks at 0, 64, 128, 192 and 255; pixel count upwards, ticks at 0, half the\n"
        "largest count and the largest count.\n"
        "With -o - the plot is the only thing on standard output: the table goes to standard\n"
        "error, and --json is refused.\n"
        "Exit codes: 0 success; 1 the plugin could not count the picture; 2 bad usage,\n"
        "unreadable input.\n"
        "Examples:\n"
        "  qrx histogram samples/sample.png\n"
        "  qrx histogram samples/rings.png -o histogram.png --json\n"
        "  qrx histogram samples/sample.png -o - --format png 2>/dev/null > plot.png");
    return cmd;
}

int runHistogram(Context& ctx, const HistogramOptions& opts) {
    const bool plotToStdout = opts.plot && isStandardStream(*opts.plot);
    if (plotToStdout && opts.json)
        throw UsageError("--json: standard output carries the plot (-o -); write the plot to a "
                         "file, or leave out --json");
    if (opts.plot) checkOutputPath(ctx, *opts.plot);
    Image input = readInputImage(opts.input);
    std::unique_ptr<Host> host = loadHost(ctx.host);
    const Histograms h = countColours(*host, input);

    if (opts.plot) {
        try {
            Ref picture = host->pictureFromImage(plot(h));
            savePicture(*host, *opts.plot, picture, pictureWriteOptions(ctx));
            reportWritten(ctx, *opts.plot, picture);
        } catch (const ImageFileError& e) {
            throw UsageError(std::string("-o: ") + e.what());
        }
    }
    std::ostream& text = plotToStdout ? ctx.err : ctx.out;
    if (opts.json) {
        nlohmann::json doc = {{"pixels", h.pixels},
                              {"red", h.red},
                              {"green", h.green},
                              {"blue", h.blue},
                              {"plot", opts.plot ? nlohmann::json(*opts.plot) : nullptr}};
        ctx.out << doc.dump() << "\n";
    } else {
        text << "pixels " << h.pixels << "\n";
        text << "value red green blue\n";
        for (size_t v = 0; v < 256; ++v)
            text << v << " " << h.red[v] << " " << h.green[v] << " " << h.blue[v] << "\n";
    }
    return kExitOk;
}

} // namespace qrx::cli
