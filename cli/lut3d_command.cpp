// qrx lut3d: a colour grade from a .cube file, through the PictureLut3DQRX filter class (3D
// tables) or the Picture method TransformColorsQRX (1D tables).
#include <ostream>

#include "commands.h"
#include "cube.h"
#include "errors.h"
#include "filter_run.h"
#include "image_io.h"

namespace qrx::cli {

namespace {

int applyCube3D(Context& ctx, Host& host, const Cube& cube, const Image& input,
                const std::optional<std::array<int32_t, 4>>& rect, bool raw,
                const std::string& output) {
    std::vector<double> table = lutTable(cube);
    Ref obj;
    try {
        obj = host.newInstance("PictureLut3DQRX");
        for (uint32_t r = 0; r < kLutNodes; ++r)
            for (uint32_t g = 0; g < kLutNodes; ++g)
                for (uint32_t b = 0; b < kLutNodes; ++b)
                    for (uint32_t x = 0; x < 3; ++x) {
                        CallResult res =
                            host.assign(obj, "Table", {r, g, b, x},
                                        table[lutIndex(int(r), int(g), int(b), int(x))]);
                        if (res.exception)
                            throw UsageError("PictureLut3DQRX.Table raised " +
                                             res.exception->className + ": " +
                                             res.exception->message);
                    }
    } catch (const CallError& e) {
        throw UsageError(e.what());
    }
    return runFilterObject(ctx, host, obj, input, rect, raw, output);
}

// A 1D table maps each component on its own: three 256-byte tables given to TransformColorsQRX,
// whose parameters come in the order red, blue, green.
int applyCube1D(Context& ctx, Host& host, const Cube& cube, const Image& input, bool raw,
                const std::string& output) {
    auto tables = curveTables(cube);
    ctx.metadata = input.metadata;
    CallResult res;
    try {
        Ref pic = hostPicture(host, input, "IN");
        Ref red = host.newMemoryBlock(tables[0]);
        Ref green = host.newMemoryBlock(tables[1]);
        Ref blue = host.newMemoryBlock(tables[2]);
        res = host.call(pic, "TransformColorsQRX", {red, blue, green});
    } catch (const CallError& e) {
        throw UsageError(e.what());
    }
    if (res.exception) {
        ctx.err << "qrx: Picture.TransformColorsQRX raised " << res.exception->className << ": "
                << res.exception->message << "\n";
        return kExitCallFailed;
    }
    const Ref* ref = std::get_if<Ref>(&res.result);
    const Picture* result = ref ? ref->as<Picture>() : nullptr;
    if (!result) {
        ctx.err << "qrx: Picture.TransformColorsQRX returned nil where a picture was expected\n";
        return kExitCallFailed;
    }
    if (result->width() != input.width || result->height() != input.height) raw = true;
    writeFilterResult(ctx, host, *ref, input, filteredRect(std::nullopt, input.width, input.height),
                      raw, output);
    return kExitOk;
}

} // namespace

CLI::App* addLut3DCommand(CLI::App& app, Context& ctx, Lut3DOptions& opts) {
    CLI::App* cmd = app.add_subcommand(
        "lut3d", "Apply a colour lookup table from a .cube file to a picture file, through the "
                 "PictureLut3DQRX filter class");
    addHostOptions(*cmd, ctx.host);
    addOutputOptions(*cmd, ctx.output);
    cmd->add_option("--cube", opts.cube, "The .cube file (LUT_3D_SIZE 2 to 256, or LUT_1D_SIZE)")
        ->required();
    cmd->add_option("--rect", opts.rect,
                    "Only the rectangle MINX,MINY,MAXX,MAXY (right and bottom edges exclusive) is "
                    "filtered; the rest of the picture is kept as it is");
    cmd->add_flag("--raw", opts.raw,
                  "Write the filter's own result: outside --rect what a new picture holds "
                  "(white), every pixel opaque");
    cmd->add_option("IN", opts.input, "Picture file (PNG, JPEG, PAM, PPM); - reads standard input")
        ->required();
    cmd->add_option("-o,--output", opts.output,
                    "Result picture (PNG, JPEG, PAM, PPM or PPIC by extension, or --format); - "
                    "writes standard output")
        ->required();
    cmd->footer(
        "A 3D table is resampled onto the filter's 16 nodes per axis: node k stands for the\n"
        "component value 17k, the fraction k/15 of the file's input domain (DOMAIN_MIN to\n"
        "DOMAIN_MAX). A 16-point cube is used as it stands; other sizes are interpolated\n"
        "trilinearly. Output values of 0 to 1 become 0 to 255; the filter interpolates\n"
        "tetrahedrally and truncates. A 1D table (LUT_1D_SIZE) maps each component on its own\n"
        "through the Picture method TransformColorsQRX, rounded to whole values; it takes no\n"
        "--rect, and is refused when the plugin does not register that method.\n"
        "Without --rect the whole picture is filtered. The picture written keeps the source's\n"
        "pixels outside --rect and the source's alpha channel; --raw writes the filter's\n"
        "result as it stands.\n"
        "Exit codes: 0 success; 1 the filter produced no picture; 2 bad usage, a malformed\n"
        ".cube file (the message names its line), unreadable input. Nothing is written unless\n"
        "the exit code is 0.\n"
        "Examples:\n"
        "  qrx lut3d --cube samples/grade.cube samples/sample.png -o graded.png\n"
        "  qrx lut3d --cube samples/grade.cube --host console samples/rings.png -o g.pam");
    return cmd;
}

int runLut3D(Context& ctx, const Lut3DOptions& opts) {
    Cube cube;
    try {
        cube = readCube(opts.cube);
    } catch (const CubeError& e) {
        throw UsageError(std::string("--cube: ") + e.what());
    }
    std::optional<std::array<int32_t, 4>> rect;
    if (opts.rect) rect = parseRect("--rect", *opts.rect);
    if (!cube.is3D() && rect)
        throw UsageError("--rect: " + opts.cube +
                         " holds a 1D table, which is applied to the whole picture");
    checkOutputPath(ctx, opts.output);
    Image input = readInputImage(opts.input);

    std::unique_ptr<Host> host = loadHost(ctx.host);
    if (cube.is3D()) return applyCube3D(ctx, *host, cube, input, rect, opts.raw, opts.output);
    bool registered = false;
    for (const MethodInfo* m : host->overloads("Picture", "TransformColorsQRX"))
        registered = registered || !m->builtIn;
    if (!registered)
        throw UsageError(opts.cube +
                         " holds a 1D table (LUT_1D_SIZE), which is applied through the Picture "
                         "method TransformColorsQRX; this plugin does not register it");
    return applyCube1D(ctx, *host, cube, input, opts.raw, opts.output);
}

} // namespace qrx::cli
