// Every registered Picture method and global method, called through the runtime as a host calls
// them: the arguments come from the table below, a picture result is made by the call and
// released before the next one. The methods that change a picture in place are measured a second
// time on a picture made beforehand: that is the pixel loop without making a new picture.
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "bench_support.h"

namespace qrxbench {

namespace {

using qrx::Color;
using qrx::Ref;
using qrx::Value;

// What an argument maker sees.
struct Env {
    qrx::Host& host;
    Layout layout;
    int size;
    const Ref& self;
};

// Objects the arguments need, made once per layout and size and kept for the run.
const Ref& kept(const Env& env, const std::string& what, const std::function<Ref()>& make) {
    static std::map<std::tuple<Layout, int, std::string>, Ref> objects;
    Ref& slot = objects[{env.layout, env.size, what}];
    if (!slot) slot = make();
    return slot;
}

// A 256-byte table for TransformColorsQRX: a gamma curve.
Ref curveBlock(const Env& env, double gamma) {
    return kept(env, "curve" + std::to_string(gamma), [&] {
        std::vector<uint8_t> t(256);
        for (int i = 0; i < 256; ++i)
            t[i] = uint8_t(std::lround(255.0 * std::pow(i / 255.0, gamma)));
        return env.host.newMemoryBlock(t);
    });
}

Ref histogramBlock(const Env& env, const char* which) {
    return kept(env, std::string("histogram ") + which,
                [&] { return env.host.newMemoryBlock(std::vector<uint8_t>(1024, 0)); });
}

// The needle a picture search looks for: 32 x 32 pixels from near the bottom right of the
// photograph, so the search passes nearly every candidate before it finds it.
Ref needle(const Env& env) {
    return kept(env, "needle", [&] {
        const qrx::Image whole = env.self.as<qrx::Picture>()->toImage();
        qrx::Image part;
        part.width = part.height = 32;
        part.hasAlpha = whole.hasAlpha;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const uint8_t* p = whole.pixel(env.size - 40 + x, env.size - 40 + y);
                part.rgba.insert(part.rgba.end(), p, p + 4);
            }
        return env.host.pictureFromImage(part);
    });
}

// Sixteen-bit samples of a tone with a slow swell, one per pixel of the picture size.
Ref samplesBlock(const Env& env) {
    return kept(env, "samples", [&] {
        const size_t n = size_t(env.size) * env.size;
        std::vector<uint8_t> bytes(n * 2);
        for (size_t i = 0; i < n; ++i) {
            const double swell = 0.5 + 0.5 * std::sin(double(i) * 1e-5);
            const auto s = int16_t(30000.0 * swell * std::sin(double(i) * 0.0627));
            bytes[2 * i] = uint8_t(uint16_t(s) & 0xFF);
            bytes[2 * i + 1] = uint8_t(uint16_t(s) >> 8);
        }
        return env.host.newMemoryBlock(bytes);
    });
}

Ref binaryString(const Env& env) {
    return kept(env, "binary string", [&] {
        qrx::CallResult r = env.host.callGlobal("PicturetoBinaryStringQRX", {env.self});
        return std::get<Ref>(r.result);
    });
}

Ref otherPhoto(const Env& env, unsigned seed) {
    return picture(env.layout, env.size, Content::Photo, seed);
}

using Args = std::function<std::vector<Value>(const Env&)>;

Args none() {
    return [](const Env&) { return std::vector<Value>{}; };
}

// An inner rectangle: a margin of an eighth of the picture on every side.
std::vector<Value> innerRect(const Env& env) {
    const int32_t m = env.size / 8;
    return {m, m, int32_t(env.size - 2 * m), int32_t(env.size - 2 * m)};
}

struct MethodCase {
    std::string name;   // how the benchmark is named
    std::string method; // as registered
    std::string group;  // the goal it is measured against
    bool global = false;
    Content content = Content::Photo;
    Args args;
};

// The argument table. Groups: "point" operations map each pixel on its own, "scan" operations
// only read, the others have goals of their own or none.
std::vector<MethodCase> methodCases() {
    const Color gray{0x808080}, warm{0xC08040}, cool{0x4080C0};
    return {
        {"InvertQRX", "InvertQRX", "point", false, Content::Photo, none()},
        {"InvertQRX.rect", "InvertQRX", "point", false, Content::Photo, innerRect},
        {"InvertGrayQRX", "InvertGrayQRX", "point", false, Content::Photo, none()},
        {"InvertGrayQRX.rect", "InvertGrayQRX", "point", false, Content::Photo, innerRect},
        {"ChangeBrightnessAbsoluteQRX.1", "ChangeBrightnessAbsoluteQRX", "point", false,
         Content::Photo, [](const Env&) { return std::vector<Value>{25.0}; }},
        {"ChangeBrightnessAbsoluteQRX.3", "ChangeBrightnessAbsoluteQRX", "point", false,
         Content::Photo,
         [](const Env&) {
             return std::vector<Value>{25.0, -10.0, 5.0};
         }},
        {"ChangeBrightnessLinearQRX.1", "ChangeBrightnessLinearQRX", "point", false, Content::Photo,
         [](const Env&) { return std::vector<Value>{0.2}; }},
        {"ChangeBrightnessLinearQRX.3", "ChangeBrightnessLinearQRX", "point", false, Content::Photo,
         [](const Env&) {
             return std::vector<Value>{0.2, -0.1, 0.05};
         }},
        {"ChangeContrastQRX.1", "ChangeContrastQRX", "point", false, Content::Photo,
         [](const Env&) { return std::vector<Value>{1.3}; }},
        {"ChangeContrastQRX.3", "ChangeContrastQRX", "point", false, Content::Photo,
         [](const Env&) {
             return std::vector<Value>{1.3, 0.8, 1.1};
         }},
        {"ChangeContrastBrightnessAbsoluteQRX.2", "ChangeContrastBrightnessAbsoluteQRX", "point",
         false, Content::Photo,
         [](const Env&) {
             return std::vector<Value>{1.2, 10.0};
         }},
        {"ChangeContrastBrightnessAbsoluteQRX.6", "ChangeContrastBrightnessAbsoluteQRX", "point",
         false, Content::Photo,
         [](const Env&) { return std::vector<Value>{1.2, 0.9, 1.1, 10.0, -5.0, 0.0}; }},
        {"ChangeContrastBrightnessLinearQRX.2", "ChangeContrastBrightnessLinearQRX", "point", false,
         Content::Photo,
         [](const Env&) {
             return std::vector<Value>{1.2, 0.1};
         }},
        {"ChangeContrastBrightnessLinearQRX.6", "ChangeContrastBrightnessLinearQRX", "point", false,
         Content::Photo,
         [](const Env&) { return std::vector<Value>{1.2, 0.9, 1.1, 0.1, -0.05, 0.0}; }},
        {"ChangeCustomQRX", "ChangeCustomQRX", "point", false, Content::Photo,
         [](const Env&) {
             return std::vector<Value>{1.1, -12.0};
         }},
        {"ChangeSaturationQRX", "ChangeSaturationQRX", "point", false, Content::Photo,
         [](const Env&) { return std::vector<Value>{int32_t(40)}; }},
        {"ReplaceRedChannelQRX", "ReplaceRedChannelQRX", "point", false, Content::Photo,
         [](const Env& e) { return std::vector<Value>{otherPhoto(e, 2)}; }},
        {"ReplaceGreenChannelQRX", "ReplaceGreenChannelQRX", "point", false, Content::Photo,
         [](const Env& e) { return std::vector<Value>{otherPhoto(e, 2)}; }},
        {"ReplaceBlueChannelQRX", "ReplaceBlueChannelQRX", "point", false, Content::Photo,
         [](const Env& e) { return std::vector<Value>{otherPhoto(e, 2)}; }},
        {"ReplaceColorQRX", "ReplaceColorQRX", "point", false, Content::Photo,
         [=](const Env&) {
             return std::vector<Value>{gray, warm};
         }},
        {"ExtractColorQRX", "ExtractColorQRX", "point", false, Content::Photo,
         [=](const Env&) {
             return std::vector<Value>{gray, warm, cool};
         }},
        {"TransformColorsQRX", "TransformColorsQRX", "point", false, Content::Photo,
         [](const Env& e) {
             return std::vector<Value>{curveBlock(e, 0.8), curveBlock(e, 1.2), curveBlock(e, 1.0)};
         }},
        {"CombinePicturesQRX", "CombinePicturesQRX", "point", true, Content::Photo,
         [](const Env& e) {
             return std::vector<Value>{e.self, otherPhoto(e, 2), otherPhoto(e, 3)};
         }},
        {"MergePictureQRX", "MergePictureQRX", "point", true, Content::Photo,
         [](const Env& e) {
             return std::vector<Value>{e.self, otherPhoto(e, 2)};
         }},
        {"TintPictureQRX", "TintPictureQRX", "point", true, Content::Photo,
         [=](const Env& e) {
             return std::vector<Value>{e.self, gray, warm};
         }},
        {"PicturetoBinaryStringQRX", "PicturetoBinaryStringQRX", "point", true, Content::Photo,
         [](const Env& e) { return std::vector<Value>{e.self}; }},
        {"BinaryStringtoPictureQRX", "BinaryStringtoPictureQRX", "point", true, Content::Photo,
         [](const Env& e) { return std::vector<Value>{binaryString(e)}; }},
        {"EmbeddedMaskQRX", "EmbeddedMaskQRX", "other", false, Content::Photo,
         [](const Env&) { return std::vector<Value>{false}; }},
        {"HasMaskQRX", "HasMaskQRX", "other", false, Content::Photo, none()},
        // Colour tests on pictures that pass them read every pixel.
        {"isWhiteQRX", "isWhiteQRX", "scan", false, Content::White, none()},
        {"isWhiteQRX.rect", "isWhiteQRX", "scan", false, Content::White, innerRect},
        {"isBlackQRX", "isBlackQRX", "scan", false, Content::Black, none()},
        {"isBlackQRX.rect", "isBlackQRX", "scan", false, Content::Black, innerRect},
        {"isGrayQRX", "isGrayQRX", "scan", false, Content::Gray,
         [](const Env&) { return std::vector<Value>{int32_t(0)}; }},
        {"isGrayQRX.tolerance", "isGrayQRX", "scan", false, Content::Photo,
         [](const Env&) { return std::vector<Value>{int32_t(255)}; }},
        {"isGrayQRX.rect", "isGrayQRX", "scan", false, Content::Gray,
         [](const Env& e) {
             std::vector<Value> v = innerRect(e);
             v.insert(v.begin(), int32_t(0));
             return v;
         }},
        {"CountColorQRX", "CountColorQRX", "scan", false, Content::Photo,
         [=](const Env&) { return std::vector<Value>{gray}; }},
        {"CountColorsQRX", "CountColorsQRX", "scan", false, Content::Photo,
         [](const Env& e) {
             return std::vector<Value>{histogramBlock(e, "red"), histogramBlock(e, "blue"),
                                       histogramBlock(e, "green"), int32_t(0)};
         }},
        {"ColornessQRX", "ColornessQRX", "scan", false, Content::Photo,
         [](const Env&) { return std::vector<Value>{int32_t(10)}; }},
        {"ExtractColorRectangleMaskQRX", "ExtractColorRectangleMaskQRX", "rect_mask", false,
         Content::Photo, none()},
        {"ExtractColorRectangleMaskQRX.rect", "ExtractColorRectangleMaskQRX", "rect_mask", false,
         Content::Photo, innerRect},
        {"FindPicture", "FindPicture", "search", false, Content::Photo,
         [](const Env& e) {
             return std::vector<Value>{needle(e), int32_t(0), int32_t(0)};
         }},
        // One sample per pixel of the size, drawn at 1920 x 200.
        {"RenderSamplesQRX", "RenderSamplesQRX", "waveform", true, Content::Photo,
         [](const Env& e) {
             return std::vector<Value>{samplesBlock(e),
                                       int32_t(e.size * e.size),
                                       int32_t(1),
                                       int32_t(1920),
                                       int32_t(200),
                                       int32_t(1),
                                       Color{0x88B5C4},
                                       Color{0x274C5A},
                                       Color{0x203F4E},
                                       int32_t(16),
                                       false};
         }},
    };
}

// Runs one call and fails the benchmark when the call did not do its work.
bool callOnce(benchmark::State& state, const MethodCase& c, const Env& env) {
    qrx::CallResult r = c.global ? env.host.callGlobal(c.method, c.args(env))
                                 : env.host.call(env.self, c.method, c.args(env));
    if (r.exception) {
        state.SkipWithError((c.method + " raised " + r.exception->message).c_str());
        return false;
    }
    benchmark::DoNotOptimize(r.result);
    return true;
}

void runMethod(benchmark::State& state, const MethodCase& c, Layout layout, int size) {
    qrx::Host& host = hostFor(layout);
    const Ref& self = picture(layout, size, c.content);
    const Env env{host, layout, size, self};
    // Make what the arguments need before the clock starts.
    if (!callOnce(state, c, env)) return;
    double pixels = double(size) * size;
    size_t bytes = size_t(size) * size * 4;
    if (c.method == "RenderSamplesQRX") bytes = size_t(size) * size * 2;     // the samples read
    if (c.method == "FindPicture") pixels = double(size - 31) * (size - 31); // candidates
    LoopTimer timer;
    for (auto _ : state)
        if (!callOnce(state, c, env)) return;
    report(state, timer.elapsedNanoseconds(), pixels, bytes, c.group);
}

// A haystack of one colour and a needle of it whose last pixel differs: every candidate is
// verified down to the needle's last pixel, the search's worst case (w x h comparisons each).
void runFindWorstCase(benchmark::State& state, Layout layout, int size, int needleSize) {
    qrx::Host& host = hostFor(layout);
    qrx::Image flat = makeImage(Content::Gray, size, size, hasAlpha(layout));
    for (size_t i = 0; i < flat.rgba.size(); i += 4)
        flat.rgba[i] = flat.rgba[i + 1] = flat.rgba[i + 2] = 128;
    Ref hay = host.pictureFromImage(flat);
    qrx::Image small = makeImage(Content::Gray, needleSize, needleSize, hasAlpha(layout));
    for (size_t i = 0; i < small.rgba.size(); i += 4)
        small.rgba[i] = small.rgba[i + 1] = small.rgba[i + 2] = 128;
    small.pixel(needleSize - 1, needleSize - 1)[0] = 129;
    Ref pin = host.pictureFromImage(small);
    host.call(hay, "FindPicture", {pin, int32_t(0), int32_t(0)}); // warm-up, not timed
    LoopTimer timer;
    for (auto _ : state) {
        qrx::CallResult r = host.call(hay, "FindPicture", {pin, int32_t(0), int32_t(0)});
        benchmark::DoNotOptimize(r.result);
    }
    const double candidates = double(size - needleSize + 1) * (size - needleSize + 1);
    report(state, timer.elapsedNanoseconds(), candidates, size_t(size) * size * 4, "search_worst");
    state.counters["comparisons_per_candidate"] = double(needleSize) * needleSize;
}

// The rectangle mask on a gray picture with a given number of separate coloured areas.
void runRectMaskAreas(benchmark::State& state, Layout layout, int size, int areas) {
    qrx::Host& host = hostFor(layout);
    qrx::Image img = areasImage(size, areas);
    img.hasAlpha = hasAlpha(layout);
    Ref pic = host.pictureFromImage(img);
    host.call(pic, "ExtractColorRectangleMaskQRX", {}); // warm-up, not timed
    LoopTimer timer;
    for (auto _ : state) {
        qrx::CallResult r = host.call(pic, "ExtractColorRectangleMaskQRX", {});
        benchmark::DoNotOptimize(r.result);
    }
    report(state, timer.elapsedNanoseconds(), double(size) * size, size_t(size) * size * 4,
           "rect_mask_areas");
    state.counters["areas"] = areas;
}

// In-place work on a picture made beforehand: no new picture per call.
struct InPlaceCase {
    std::string name;
    std::function<void(qrx::Host&, const Ref& pic, Layout, int size)> run;
};

std::vector<InPlaceCase> inPlaceCases() {
    return {
        {"ScrollVerticalQRX",
         [](qrx::Host& h, const Ref& p, Layout, int) {
             h.call(p, "ScrollVerticalQRX", {int32_t(7), true, false});
         }},
        {"ScrollHorizontalQRX",
         [](qrx::Host& h, const Ref& p, Layout, int) {
             h.call(p, "ScrollHorizontalQRX", {int32_t(7), true, false});
         }},
        {"ScrollQRX",
         [](qrx::Host& h, const Ref& p, Layout, int) {
             h.call(p, "ScrollQRX", {int32_t(7), int32_t(5), true, false});
         }},
        {"EmbeddedMaskQRX.assign",
         [](qrx::Host& h, const Ref& p, Layout layout, int size) {
             h.assign(p, "EmbeddedMaskQRX", {false}, picture(layout, size, Content::Gray));
         }},
        {"TransformColorsQRX.dest",
         [](qrx::Host& h, const Ref& p, Layout layout, int size) {
             static std::map<Layout, Ref> tables;
             Ref& t = tables[layout];
             if (!t) {
                 std::vector<uint8_t> bytes(256);
                 for (int i = 0; i < 256; ++i)
                     bytes[i] = uint8_t(255 - i);
                 t = h.newMemoryBlock(bytes);
             }
             h.call(picture(layout, size, Content::Photo, 4), "TransformColorsQRX", {t, t, t, p});
         }},
    };
}

} // namespace

std::vector<std::string> unmeasuredMethods() {
    std::set<std::string> measured = {"PictureLut3DQRX", "PictureSepiaQRX"};
    for (const MethodCase& c : methodCases())
        measured.insert(c.method);
    for (const InPlaceCase& c : inPlaceCases())
        measured.insert(c.name.substr(0, c.name.find('.')));
    std::vector<std::string> missing;
    auto check = [&](const std::string& name) {
        if (!measured.count(name)) missing.push_back(name);
    };
    const qrx::Host& host = hostFor(Layout::Desktop);
    for (const auto& cls : host.classes()) {
        if (!cls->builtIn) check(cls->name);
        for (const qrx::MethodInfo& m : cls->extensions)
            if (!m.builtIn) check(m.decl.name);
    }
    for (const qrx::MethodInfo& m : host.globalMethods())
        if (!m.builtIn) check(m.decl.name);
    return missing;
}

void registerMethodBenchmarks() {
    static const std::vector<MethodCase> cases = methodCases();
    static const std::vector<InPlaceCase> inPlace = inPlaceCases();
    for (int size : sizes())
        for (Layout layout : kLayouts) {
            const std::string tail =
                std::string("/") + layoutName(layout) + "/" + std::to_string(size);
            // Short minimum times (CPU seconds): a 4096 call takes tens of milliseconds, and a
            // few iterations give a stable ratio.
            const double minTime = size > 1024 ? 0.2 : 0.1;
            for (const MethodCase& c : cases)
                benchmark::RegisterBenchmark(
                    ("call/" + c.name + tail).c_str(),
                    [&c, layout, size](benchmark::State& s) { runMethod(s, c, layout, size); })
                    ->Unit(benchmark::kMillisecond)
                    ->MinTime(minTime);
            for (const InPlaceCase& c : inPlace)
                benchmark::RegisterBenchmark(
                    ("inplace/" + c.name + tail).c_str(),
                    [&c, layout, size](benchmark::State& s) {
                        qrx::Host& host = hostFor(layout);
                        // A picture of its own, since it is changed.
                        const Ref& pic = picture(layout, size, Content::Photo, 5);
                        c.run(host, pic, layout, size);
                        LoopTimer timer;
                        for (auto _ : s)
                            c.run(host, pic, layout, size);
                        report(s, timer.elapsedNanoseconds(), double(size) * size,
                               size_t(size) * size * 4, "inplace");
                    })
                    ->Unit(benchmark::kMillisecond)
                    ->MinTime(minTime);
            // Worst-case search only at the small size: it makes 64 comparisons per candidate.
            if (size == 1024)
                benchmark::RegisterBenchmark(
                    ("call/FindPicture.worst" + tail).c_str(),
                    [layout, size](benchmark::State& s) { runFindWorstCase(s, layout, size, 8); })
                    ->Unit(benchmark::kMillisecond)
                    ->Iterations(2);
            // Area counts on the plain desktop layout only: the count, not the layout, is measured.
            if (layout == Layout::Desktop)
                for (int areas : {1, 100, 10000})
                    benchmark::RegisterBenchmark(
                        ("call/ExtractColorRectangleMaskQRX.areas" + std::to_string(areas) + tail)
                            .c_str(),
                        [layout, size, areas](benchmark::State& s) {
                            runRectMaskAreas(s, layout, size, areas);
                        })
                        ->Unit(benchmark::kMillisecond)
                        ->MinTime(minTime);
        }
}

} // namespace qrxbench
