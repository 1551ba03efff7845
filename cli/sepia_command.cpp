// qrx sepia: the PictureSepiaQRX filter class on a picture file.
#include "commands.h"
#include "errors.h"
#include "filter_run.h"

namespace qrx::cli {

namespace {

// Offsets used when --offsets is not given: a warm brown tone (the class itself starts at 0, which
// gives plain gray).
constexpr std::array<int32_t, 3> kDefaultOffsets{40, 20, -20};

} // namespace

CLI::App* addSepiaCommand(CLI::App& app, Context& ctx, SepiaOptions& opts) {
    CLI::App* cmd = app.add_subcommand(
        "sepia", "Tone a picture file in sepia through the PictureSepiaQRX filter class");
    addHostOptions(*cmd, ctx.host);
    addOutputOptions(*cmd, ctx.output);
    cmd->add_option("--weights", opts.weights,
                    "Weights R,G,B of red, green and blue in the gray value (FactorRed, "
                    "FactorGreen, FactorBlue); default 0.299,0.587,0.114");
    cmd->add_option("--offsets", opts.offsets,
                    "Integers R,G,B added to the gray value for red, green and blue (SepiaRed, "
                    "SepiaGreen, SepiaBlue); default 40,20,-20, '0,0,0' gives plain gray");
    cmd->add_option("--rect", opts.rect,
                    "Only the rectangle MINX,MINY,MAXX,MAXY (right and bottom edges exclusive) is "
                    "toned; the rest of the picture is kept as it is");
    cmd->add_flag("--raw", opts.raw,
                  "Write the filter's own result: no alpha channel, and outside --rect what a "
                  "new picture holds (white)");
    cmd->add_option("IN", opts.input, "Picture file (PNG, JPEG, PAM, PPM); - reads standard input")
        ->required();
    cmd->add_option("-o,--output", opts.output,
                    "Result picture (PNG, JPEG, PAM, PPM or PPIC by extension, or --format); - "
                    "writes standard output")
        ->required();
    cmd->footer(
        "Each pixel becomes gray = (R*kR + G*kG + B*kB) / 1024 with the weights times 1024\n"
        "truncated, plus each channel's offset, clamped to 0 to 255. Without --rect the\n"
        "whole picture is toned. The picture written keeps the source's pixels outside\n"
        "--rect and the source's alpha channel; --raw writes the filter class's result as\n"
        "it stands.\n"
        "Exit codes: 0 success; 1 the filter produced no picture; 2 bad usage, unreadable\n"
        "input. Nothing is written unless the exit code is 0.\n"
        "Examples:\n"
        "  qrx sepia samples/sample.png -o sepia.png\n"
        "  qrx sepia --weights 0.3,0.6,0.1 --offsets 30,15,0 samples/rings.png -o r.png\n"
        "  qrx sepia --rect 0,0,80,60 samples/sample.png -o part.png\n"
        "  cat samples/sample.png | qrx sepia - -o - --format jpeg --quality 80 >s.jpg");
    return cmd;
}

int runSepia(Context& ctx, const SepiaOptions& opts) {
    std::optional<std::array<double, 3>> weights;
    if (opts.weights) weights = parseNumbers3("--weights", *opts.weights);
    std::array<int32_t, 3> offsets =
        opts.offsets ? parseIntegers3("--offsets", *opts.offsets) : kDefaultOffsets;
    std::optional<std::array<int32_t, 4>> rect;
    if (opts.rect) rect = parseRect("--rect", *opts.rect);
    checkOutputPath(ctx, opts.output);
    Image input = readInputImage(opts.input);

    std::unique_ptr<Host> host = loadHost(ctx.host);
    Ref obj;
    try {
        obj = host->newInstance("PictureSepiaQRX");
        if (weights) {
            host->setProperty(obj, "FactorRed", (*weights)[0]);
            host->setProperty(obj, "FactorGreen", (*weights)[1]);
            host->setProperty(obj, "FactorBlue", (*weights)[2]);
        }
        host->setProperty(obj, "SepiaRed", offsets[0]);
        host->setProperty(obj, "SepiaGreen", offsets[1]);
        host->setProperty(obj, "SepiaBlue", offsets[2]);
    } catch (const CallError& e) {
        throw UsageError(e.what());
    }
    return runFilterObject(ctx, *host, obj, input, rect, opts.raw, opts.output);
}

} // namespace qrx::cli
