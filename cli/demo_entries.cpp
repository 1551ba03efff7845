// The gallery's table: which call shows each registered method, with arguments chosen to make
// the effect visible on the bundled samples, and how the table is checked against the methods
// the plugin actually registers.
#include <algorithm>
#include <set>

#include "binding.h"
#include "call_expr.h"
#include "demo.h"
#include "errors.h"

namespace qrx::cli::demo {

const std::vector<std::string>& families() {
    static const std::vector<std::string> list{"tone",          "colour", "channels", "masks",
                                               "scrolling",     "search", "analysis", "waveform",
                                               "binary format", "filters"};
    return list;
}

const std::vector<std::string>& sampleFiles() {
    static const std::vector<std::string> files{
        "sample.png",          "sample_alpha.png", "rings.png",  "needle.png", "curve_scurve.bin",
        "curve_posterize.bin", "curve_invert.bin", "grade.cube", "sample.wav"};
    return files;
}

namespace {

Entry pictureCall(std::string family, std::string caption, std::string on, std::string call,
                  std::string output, std::vector<std::string> extra = {}) {
    Entry e;
    e.family = std::move(family);
    e.caption = std::move(caption);
    e.command = "call";
    e.on = std::move(on);
    e.call = std::move(call);
    e.output = std::move(output);
    e.args = std::move(extra);
    return e;
}

Entry globalCall(std::string family, std::string caption, std::string call, std::string output) {
    return pictureCall(std::move(family), std::move(caption), "", std::move(call),
                       std::move(output));
}

Entry command(std::string family, std::string caption, std::string name,
              std::vector<std::string> args, std::string output, std::vector<std::string> covers) {
    Entry e;
    e.family = std::move(family);
    e.caption = std::move(caption);
    e.command = std::move(name);
    e.args = std::move(args);
    e.output = std::move(output);
    e.covers = std::move(covers);
    return e;
}

const std::string kSample = "{s}/sample.png";
const std::string kAlpha = "{s}/sample_alpha.png";
const std::string kRings = "{s}/rings.png";

} // namespace

const std::vector<Entry>& entries() {
    static const std::vector<Entry> list{
        // Tone
        pictureCall("tone", "Every component inverted", kSample, "InvertQRX", "invert.png"),
        pictureCall("tone", "Only a rectangle inverted", kSample, "InvertQRX(20, 10, 120, 60)",
                    "invert-rect.png"),
        pictureCall("tone", "Inverted as gray levels", kSample, "InvertGrayQRX", "invert-gray.png"),
        pictureCall("tone", "A rectangle inverted as gray levels", kSample,
                    "InvertGrayQRX(20, 10, 120, 60)", "invert-gray-rect.png"),
        pictureCall("tone", "60 added to every component", kSample,
                    "ChangeBrightnessAbsoluteQRX(60)", "brightness-abs.png"),
        pictureCall("tone", "Red lifted, blue lowered", kSample,
                    "ChangeBrightnessAbsoluteQRX(80, 0, -60)", "brightness-abs-rgb.png"),
        pictureCall("tone", "0 to 255 squeezed to 0 to 175", kSample,
                    "ChangeBrightnessLinearQRX(-80)", "brightness-lin.png"),
        pictureCall("tone", "Green and blue lifted from the dark end", kSample,
                    "ChangeBrightnessLinearQRX(0, 60, 120)", "brightness-lin-rgb.png"),
        pictureCall("tone", "Contrast raised around 127", kSample, "ChangeContrastQRX(0.8)",
                    "contrast.png"),
        pictureCall("tone", "Red contrast raised, blue lowered", kSample,
                    "ChangeContrastQRX(1.2, 0, -0.5)", "contrast-rgb.png"),
        pictureCall("tone", "Contrast halved, then 30 taken off", kSample,
                    "ChangeContrastBrightnessAbsoluteQRX(-0.5, -30)", "contrast-abs.png"),
        pictureCall("tone", "More contrast, red up and blue down", kSample,
                    "ChangeContrastBrightnessAbsoluteQRX(0.5, 0.5, 0.5, 40, 0, -40)",
                    "contrast-abs-rgb.png"),
        pictureCall("tone", "More contrast, dark end lifted", kSample,
                    "ChangeContrastBrightnessLinearQRX(0.6, 40)", "contrast-lin.png"),
        pictureCall("tone", "Per channel: red flatter, blue steeper", kSample,
                    "ChangeContrastBrightnessLinearQRX(-0.4, 0, 0.6, 0, 60, -60)",
                    "contrast-lin-rgb.png"),
        pictureCall("tone", "v * 1.5 - 40 for every component", kSample,
                    "ChangeCustomQRX(1.5, -40)", "custom.png"),
        globalCall("tone", "Gray levels (weights 76, 150, 29) tinted sepia",
                   "TintPictureQRX(" + kSample + ", &c4C961D, &cFFE6B4)", "tint.png"),
        // Colour
        pictureCall("colour", "Saturation raised", kSample, "ChangeSaturationQRX(200)",
                    "saturation-up.png"),
        pictureCall("colour", "Saturation lowered almost to gray", kSample,
                    "ChangeSaturationQRX(-200)", "saturation-down.png"),
        pictureCall("colour", "Pure red replaced by sky blue", kSample,
                    "ReplaceColorQRX(&cFF0000, &c00A0FF)", "replace.png"),
        pictureCall("colour", "Pure blue shown yellow, everything else dark", kSample,
                    "ExtractColorQRX(&c0000FF, &cFFFF00, &c202020)", "extract.png"),
        pictureCall("colour", "Red through an S-curve, blue inverted, green in four levels",
                    kSample,
                    "TransformColorsQRX({s}/curve_scurve.bin, {s}/curve_invert.bin, "
                    "{s}/curve_posterize.bin)",
                    "transform.png"),
        // Channels
        pictureCall("channels", "Red channel taken from the rings", kSample,
                    "ReplaceRedChannelQRX(" + kRings + ")", "replace-red.png"),
        pictureCall("channels", "Green channel taken from the rings", kSample,
                    "ReplaceGreenChannelQRX(" + kRings + ")", "replace-green.png"),
        pictureCall("channels", "Blue channel taken from the rings", kSample,
                    "ReplaceBlueChannelQRX(" + kRings + ")", "replace-blue.png"),
        globalCall(
            "channels", "Red from the rings, blue from the sample, green from the inverted sample",
            "CombinePicturesQRX(" + kRings + ", " + kSample + ", {o}/invert.png)", "combine.png"),
        globalCall("channels", "The lighter of the sample and the rings, channel by channel",
                   "MergePictureQRX(" + kSample + ", " + kRings + ")", "merge.png"),
        // Masks
        pictureCall("masks", "Whether the picture has a separate mask", kAlpha, "HasMaskQRX", ""),
        pictureCall("masks", "The alpha channel as a gray picture (white: opaque)", kAlpha,
                    "EmbeddedMaskQRX(false)", "mask.png"),
        pictureCall("masks", "The alpha channel swapped (black: opaque)", kAlpha,
                    "EmbeddedMaskQRX(true)", "mask-swapped.png"),
        pictureCall("masks", "The rings assigned as the alpha channel", kAlpha,
                    "EmbeddedMaskQRX(false) = " + kRings, "mask-assigned.png"),
        pictureCall("masks", "Bounding rectangles of the coloured areas, in black", kSample,
                    "ExtractColorRectangleMaskQRX", "rect-mask.png"),
        pictureCall("masks", "The same within the lower two thirds", kSample,
                    "ExtractColorRectangleMaskQRX(0, 40, 160, 80)", "rect-mask-part.png"),
        // Scrolling
        pictureCall("scrolling", "Down by 30, wrapping round", kSample,
                    "ScrollVerticalQRX(30, true, false)", "scroll-vertical.png"),
        pictureCall("scrolling", "Left by 50, wrapping round", kSample,
                    "ScrollHorizontalQRX(-50, true, false)", "scroll-horizontal.png"),
        pictureCall("scrolling", "Right 40 and down 25, wrapping round", kSample,
                    "ScrollQRX(40, 25, true, false)", "scroll.png"),
        pictureCall("scrolling", "Right 40 and down 25 by the legacy drawing library (no wrap)",
                    kSample, "ScrollQRX(40, 25, false, false)", "scroll-legacy.png",
                    {"--legacy-pictures"}),
        // Search
        pictureCall("search", "The needle found in the sample", kSample,
                    "FindPicture({s}/needle.png, x, y)", ""),
        pictureCall("search", "The needle is not in the rings", kRings,
                    "FindPicture({s}/needle.png, x, y)", ""),
        // Analysis
        pictureCall("analysis", "Is the whole picture white?", kSample, "isWhiteQRX", ""),
        pictureCall("analysis", "Is the white patch white?", kSample, "isWhiteQRX(20, 40, 20, 40)",
                    ""),
        pictureCall("analysis", "Is the whole picture black?", kSample, "isBlackQRX", ""),
        pictureCall("analysis", "Is the black patch black?", kSample, "isBlackQRX(4, 40, 16, 40)",
                    ""),
        pictureCall("analysis", "Is the whole picture gray?", kSample, "isGrayQRX", ""),
        pictureCall("analysis", "Is the near-gray patch gray within 1?", kSample,
                    "isGrayQRX(1, 120, 80, 20, 40)", ""),
        pictureCall("analysis", "Pixels of pure red", kSample, "CountColorQRX(&cFF0000)", ""),
        pictureCall("analysis", "Histograms of the three channels and the pixels counted", kSample,
                    "CountColorsQRX(red, blue, green, count)", ""),
        pictureCall("analysis", "Colourfulness with the default threshold", kSample, "ColornessQRX",
                    ""),
        pictureCall("analysis", "Colourfulness of the rings (gray)", kRings, "ColornessQRX(10)",
                    ""),
        command("analysis", "qrx histogram: CountColorsQRX drawn as a plot", "histogram",
                {kSample, "-o", "{o}/histogram.png", "--json"}, "histogram.png",
                {"Picture.CountColorsQRX"}),
        // Waveform
        command("waveform", "The sample sound, scaled to the loudest column", "waveform",
                {"{s}/sample.wav", "-o", "{o}/waveform.png", "--width", "600", "--height", "160",
                 "--autoscale"},
                "waveform.png", {"RenderSamplesQRX"}),
        command("waveform", "Smoothed over 8 columns, outlined with a 3-pixel host pen", "waveform",
                {"{s}/sample.wav", "-o", "{o}/waveform-smooth.png", "--width", "600", "--height",
                 "160", "--smooth", "8", "--outline", "3", "--back", "&cF4F1E8", "--fore",
                 "&cC8553D", "--outline-color", "&c5A2418", "--autoscale"},
                "waveform-smooth.png", {"RenderSamplesQRX"}),
        // Binary format
        globalCall("binary format", "The sample as a binary picture string",
                   "PicturetoBinaryStringQRX(" + kSample + ")", "sample.ppic"),
        globalCall("binary format", "The binary picture string read back",
                   "BinaryStringtoPictureQRX({o}/sample.ppic)", "from-ppic.png"),
        // Filters
        command("filters", "PictureSepiaQRX with the default weights and offsets", "sepia",
                {kSample, "-o", "{o}/sepia.png"}, "sepia.png", {"class PictureSepiaQRX"}),
        command("filters", "PictureSepiaQRX on the right half, stronger offsets", "sepia",
                {"--offsets", "60,30,-40", "--rect", "80,0,159,119", kSample, "-o",
                 "{o}/sepia-rect.png"},
                "sepia-rect.png", {"class PictureSepiaQRX"}),
        command("filters", "PictureLut3DQRX with a 9-point warm and cool grade", "lut3d",
                {"--cube", "{s}/grade.cube", kSample, "-o", "{o}/lut3d.png"}, "lut3d.png",
                {"class PictureLut3DQRX"}),
        command("filters", "PictureLut3DQRX on the alpha sample", "lut3d",
                {"--cube", "{s}/grade.cube", kAlpha, "-o", "{o}/lut3d-alpha.png"},
                "lut3d-alpha.png", {"class PictureLut3DQRX"}),
    };
    return list;
}

std::vector<std::string> registeredSurface(const Host& host) {
    std::vector<std::string> names;
    if (const ClassInfo* pic = host.findClass("Picture"))
        for (const auto* list : {&pic->methods, &pic->extensions})
            for (const MethodInfo& m : *list)
                if (!m.builtIn) names.push_back("Picture." + m.decl.text);
    for (const MethodInfo& m : host.globalMethods())
        names.push_back(m.decl.text);
    for (const auto& c : host.classes())
        if (!c->builtIn) names.push_back("class " + c->name);
    return names;
}

namespace {

std::string surfaceName(const MethodInfo& m) {
    return m.className.empty() ? m.decl.text : "Picture." + m.decl.text;
}

// What a call entry shows: the overload qrx call would choose for it.
std::vector<std::string> callCoverage(const Host& host, const Entry& e) {
    const CallExpr call = parseCall(e.call);
    std::vector<const MethodInfo*> overloads;
    for (const MethodInfo* m :
         e.on.empty() ? host.globalOverloads(call.name) : host.overloads("Picture", call.name))
        if (!m->builtIn) overloads.push_back(m);
    if (overloads.empty()) throw UsageError("nothing registered is called " + call.name);
    const MethodInfo* m =
        chooseOverload(overloads, call, e.on.empty() ? call.name : "Picture." + call.name);
    return {surfaceName(*m)};
}

std::vector<std::string> namedCoverage(const Host& host, const Entry& e) {
    std::vector<std::string> out;
    for (const std::string& c : e.covers) {
        std::vector<std::string> found;
        if (c.rfind("class ", 0) == 0) {
            const ClassInfo* cls = host.findClass(c.substr(6));
            if (cls && !cls->builtIn) found.push_back("class " + cls->name);
        } else if (c.rfind("Picture.", 0) == 0) {
            for (const MethodInfo* m : host.overloads("Picture", c.substr(8)))
                if (!m->builtIn) found.push_back(surfaceName(*m));
        } else {
            for (const MethodInfo* m : host.globalOverloads(c))
                found.push_back(surfaceName(*m));
        }
        if (found.empty()) throw UsageError("nothing registered is " + c);
        out.insert(out.end(), found.begin(), found.end());
    }
    return out;
}

} // namespace

Coverage coverage(const Host& host, const std::vector<Entry>& list) {
    Coverage cov;
    std::set<std::string> shown;
    for (const Entry& e : list) {
        std::vector<std::string> names;
        try {
            names = e.command == "call" ? callCoverage(host, e) : namedCoverage(host, e);
        } catch (const std::exception& ex) {
            const std::string what = e.command == "call" ? e.call : e.command + " " + e.caption;
            cov.problems.push_back(what + ": " + ex.what());
        }
        shown.insert(names.begin(), names.end());
        cov.perEntry.push_back(std::move(names));
    }
    for (const std::string& name : registeredSurface(host))
        if (!shown.count(name)) cov.missing.push_back(name);
    return cov;
}

std::string shellWord(const std::string& word) {
    const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("_./,=:@%+-").find(c) != std::string_view::npos;
    });
    if (plain) return word;
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string html(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace qrx::cli::demo
