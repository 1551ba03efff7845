// Worked values, properties and refusals of the picture operations. The worked values are written
// as call text, read by the tool's own call parser and binder, and pin the models and the plugin
// to the same hand-computed numbers; the properties hold on every host; the refusal table lists
// what each operation gives for a missing or unfit argument or an unfit host.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli/binding.h"
#include "cli/call_expr.h"
#include "cli/image_io.h"
#include "models.h"
#include "qrx/host.h"
#include "qrx/objects.h"
#include "sdk/records.h"
#include "support.h"

namespace {

using model::Val;
using qrx::Color;
using qrx::Host;
using qrx::Image;
using qrx::Nil;
using qrx::Ref;
using qrx::Value;
using RGB = std::array<int, 3>;

// A picture of one row of colours, repeated over `rows` rows.
Image rowImage(const std::vector<RGB>& row, bool alpha, int rows = 2) {
    Image img{int(row.size()), rows, alpha, {}, {}};
    for (int y = 0; y < rows; ++y)
        for (const RGB& c : row)
            for (int v : {c[0], c[1], c[2], alpha ? 77 : 255})
                img.rgba.push_back(uint8_t(v));
    return img;
}

// What a new picture holds where nothing was written (set on every host below).
constexpr RGB F = {7, 77, 177};

struct WorkedCase {
    const char* call; // on the row picture, or with SRC standing for it in a global call
    std::vector<RGB> in;
    std::vector<RGB> out; // the result picture's row; empty when the result is `value`
    Val value = std::monostate{};
};

// clang-format off
const std::vector<WorkedCase> kWorked = {
    {"InvertQRX", {{0, 100, 255}, {128, 128, 129}}, {{255, 155, 0}, {127, 127, 126}}},
    {"InvertQRX(1, 0, 0, 0)", {{0, 100, 255}, {1, 2, 3}, {4, 5, 6}}, {F, {254, 253, 252}, {251, 250, 249}}},
    {"InvertQRX(-1, 0, 0, 0)", {{0, 100, 255}, {1, 2, 3}, {4, 5, 6}}, {{255, 155, 0}, {254, 253, 252}, F}},
    {"InvertGrayQRX", {{128, 128, 128}, {0, 0, 0}, {128, 128, 129}}, {{127, 127, 127}, {255, 255, 255}, {128, 128, 129}}},
    {"InvertGrayQRX(0, 0, 0, 0)", {{128, 128, 128}}, {F}},
    {"InvertGrayQRX(0, 0, -1, -1)", {{128, 128, 128}}, {{127, 127, 127}}},
    {"ChangeBrightnessAbsoluteQRX(10.9)", {{100, 0, 250}}, {{110, 10, 255}}},
    {"ChangeBrightnessAbsoluteQRX(-10.5)", {{100, 5, 11}}, {{89, 0, 0}}},
    {"ChangeBrightnessAbsoluteQRX(50, 0, -0.5)", {{100, 100, 100}}, {{150, 100, 99}}},
    {"ChangeBrightnessLinearQRX(10)", {{0, 128, 254}, {255, 255, 255}}, {{10, 132, 254}, {255, 255, 255}}},
    {"ChangeBrightnessLinearQRX(128)", {{0, 128, 255}}, {{128, 191, 255}}},
    {"ChangeBrightnessLinearQRX(-128)", {{255, 128, 0}}, {{127, 63, 0}}},
    // The scale is stored once: 51 * (155 / 255) is 30.999..., not 31.
    {"ChangeBrightnessLinearQRX(-100)", {{51, 102, 153}}, {{30, 61, 92}}},
    // Beyond -255 and 255 only the low 8 bits are kept: -17.6 is 239, 300 is 44.
    {"ChangeBrightnessLinearQRX(-300)", {{100, 255, 0}}, {{239, 211, 0}}},
    {"ChangeBrightnessLinearQRX(10, -10, 300)", {{0, 128, 0}}, {{10, 122, 44}}},
    {"ChangeContrastQRX(1)", {{0, 100, 127}, {200, 255, 128}}, {{0, 73, 127}, {255, 255, 129}}},
    {"ChangeContrastQRX(-0.5)", {{0, 100, 127}, {200, 255, 255}}, {{63, 113, 127}, {163, 191, 191}}},
    {"ChangeContrastQRX(1, 0, -0.5)", {{100, 100, 0}}, {{73, 100, 63}}},
    {"ChangeContrastBrightnessAbsoluteQRX(-0.5, -20.5)", {{0, 100, 127}, {255, 255, 255}}, {{43, 93, 106}, {170, 170, 170}}},
    {"ChangeContrastBrightnessAbsoluteQRX(1, -0.5, 0, 10, -20.5, 0)", {{100, 0, 50}}, {{83, 43, 50}}},
    {"ChangeContrastBrightnessLinearQRX(1, 10)", {{0, 100, 127}, {200, 200, 200}}, {{0, 80, 132}, {255, 255, 255}}},
    {"ChangeContrastBrightnessLinearQRX(0, -100)", {{0, 100, 127}, {255, 255, 255}}, {{0, 60, 77}, {155, 155, 155}}},
    {"ChangeCustomQRX(-1, 255)", {{0, 77, 255}}, {{255, 178, 0}}},
    {"ChangeCustomQRX(2, -0.5)", {{100, 200, 0}}, {{199, 255, 0}}},
    {"ChangeSaturationQRX(-255)", {{200, 100, 50}}, {{112, 112, 112}}},
    {"ChangeSaturationQRX(255)", {{200, 100, 50}}, {{255, 88, 0}}},
    // -12 * 127 / 255 is -5.98: toward zero it is -5.
    {"ChangeSaturationQRX(-128)", {{200, 100, 50}, {90, 90, 90}}, {{155, 107, 82}, {90, 90, 90}}},
    // The products are host integers: 192 * 20000255 wraps to a negative value.
    {"ChangeSaturationQRX(20000000)", {{255, 0, 0}}, {{0, 0, 0}}},
    // The largest factors of the 16-bit vector loops, and the first beyond them.
    {"ChangeSaturationQRX(65280)", {{200, 100, 50}}, {{255, 0, 0}}},
    {"ChangeSaturationQRX(65281)", {{200, 100, 50}}, {{255, 0, 0}}},
    {"ChangeSaturationQRX(-65790)", {{200, 100, 50}}, {{0, 255, 255}}},
    {"TintPictureQRX(SRC, &c4C961D, &cFFE6B4)", {{200, 100, 50}, {255, 255, 255}}, {{124, 111, 87}, {255, 230, 180}}},
    {"TintPictureQRX(SRC, &cFFFFFF, &cFF0000)", {{10, 20, 30}}, {{60, 0, 0}}},
    // Red and green are summed first: the level is 233.99999999999997, not 234.
    {"TintPictureQRX(SRC, &c879135, &cFFFFFF)", {{191, 188, 125}}, {{233, 233, 233}}},
    {"ReplaceBlueChannelQRX(SRC)", {{255, 0, 7}}, {{255, 0, 7}}},
    {"CombinePicturesQRX(SRC, SRC, SRC)", {{1, 2, 3}}, {{1, 2, 3}}},
    {"MergePictureQRX(SRC, SRC)", {{200, 10, 50}}, {{200, 10, 50}}},
    {"ReplaceColorQRX(&c0A141E, &c010203)", {{10, 20, 30}, {10, 20, 31}}, {{1, 2, 3}, {10, 20, 31}}},
    {"ExtractColorQRX(&c000000, &cFFFFFF, &c000000)", {{0, 0, 0}, {255, 255, 255}}, {{255, 255, 255}, {0, 0, 0}}},
    {"ExtractColorRectangleMaskQRX", {{5, 5, 5}, {200, 0, 0}, {9, 9, 9}}, {{255, 255, 255}, {0, 0, 0}, {255, 255, 255}}},
    {"ExtractColorRectangleMaskQRX(0, 0, 1, -1)", {{5, 5, 5}, {200, 0, 0}}, {{255, 255, 255}, {255, 255, 255}}},
    {"FindPicture(SRC, x, y)", {{1, 2, 3}, {4, 5, 6}}, {}, true},
    {"isBlackQRX", {{0, 0, 0}, {0, 0, 1}}, {}, false},
    {"isBlackQRX(0, 0, 1, -1)", {{0, 0, 0}, {0, 0, 1}}, {}, true},
    {"isBlackQRX(0, 0, 0, 0)", {{9, 9, 9}}, {}, true},
    {"isWhiteQRX(-1, 0, -1, 1)", {{255, 255, 255}, {255, 255, 254}}, {}, true},
    // The whole-picture forms start at the first column.
    {"isWhiteQRX", {{255, 255, 254}, {255, 255, 255}}, {}, false},
    {"isBlackQRX", {{0, 0, 1}, {0, 0, 0}}, {}, false},
    {"isGrayQRX", {{128, 128, 129}, {128, 128, 128}}, {}, false},
    {"isGrayQRX", {{128, 128, 129}}, {}, false},
    {"isGrayQRX(-1)", {{128, 128, 129}}, {}, true},
    {"isGrayQRX(10)", {{100, 110, 120}}, {}, false},
    {"isGrayQRX(10)", {{100, 110, 105}}, {}, true},
    {"CountColorQRX(&c0A141E)", {{10, 20, 30}, {10, 20, 31}, {10, 20, 30}}, {}, int32_t{4}},
    {"ColornessQRX", {{29, 0, 29}, {30, 0, 30}}, {}, 0.5},
    {"ColornessQRX(10)", {{100, 110, 120}, {100, 111, 100}}, {}, 0.5},
    {"ColornessQRX(-1)", {{50, 50, 50}, {0, 0, 0}}, {}, 0.5},
};
// clang-format on

// Parses and binds a call as `qrx call` does, SRC being a file holding `src`.
qrx::CallResult callText(Host& host, const std::string& text, const Ref& self, const Image& src,
                         std::vector<Value>* bound = nullptr) {
    std::string t = text;
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("qrx_worked_" + std::to_string(::getpid()) + ".pam");
    qrx::writeImage(file, src);
    for (size_t at; (at = t.find("SRC")) != std::string::npos;)
        t.replace(at, 3, file.string());
    const qrx::cli::CallExpr call = qrx::cli::parseCall(t);
    const auto overloads =
        self ? host.overloads("Picture", call.name) : host.globalOverloads(call.name);
    const qrx::MethodInfo* m = qrx::cli::chooseOverload(overloads, call, call.name);
    qrx::cli::BoundArgs args = qrx::cli::bindArguments(host, *m, call.args);
    std::filesystem::remove(file);
    if (bound) { // with the defaults the host supplies for arguments left out
        *bound = args.values;
        for (size_t i = bound->size(); i < m->decl.params.size(); ++i)
            bound->push_back(*m->decl.params[i].defaultValue);
    }
    return self ? qrxtest::auditedCall(host, self, call.name, args.values)
                : qrxtest::auditedGlobal(host, call.name, args.values);
}

class Worked : public testing::TestWithParam<qrxtest::HostCase> {
  protected:
    std::unique_ptr<Host> host() {
        qrx::HostConfig c = GetParam().config;
        for (int i = 0; i < 3; ++i)
            c.plainFill[i] = uint8_t(F[size_t(i)]);
        return qrxtest::loadHost(c);
    }
};

TEST_P(Worked, ModelsAndPluginGiveTheHandWorkedValues) {
    auto h = host();
    model::Ctx ctx;
    ctx.version = GetParam().config.version;
    for (const WorkedCase& w : kWorked) {
        SCOPED_TRACE(w.call);
        // The source is plain: the worked results are full pictures whose unwritten pixels
        // show the plain fill.
        const Image src = rowImage(w.in, false);
        const bool global = !h->globalOverloads(qrx::cli::parseCall(w.call).name).empty();
        Ref self = h->pictureFromImage(src);
        std::vector<Value> args;
        const qrx::CallResult r = callText(*h, w.call, global ? Ref() : self, src, &args);
        Val want = w.value;
        if (!w.out.empty()) want = rowImage(w.out, false);
        std::vector<Val> inputs;
        if (!global) inputs.push_back(src);
        for (const Value& v : args)
            inputs.push_back(model::fromHost(v));
        uint8_t fill[4];
        h->newPicture(1, 1, false).as<qrx::Picture>()->rgba(0, 0, fill);
        std::memcpy(ctx.plainFill, fill, 4);
        const model::Fn fn = model::find(qrx::cli::parseCall(w.call).name, inputs.size());
        ASSERT_NE(fn, nullptr);
        EXPECT_EQ(model::differ(want, fn(ctx, inputs).result), "") << "model";
        EXPECT_EQ(model::differ(want, model::fromHost(r.result)), "") << "plugin";
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, Worked,
                         testing::Values(qrxtest::plainHostCases()[2], qrxtest::plainHostCases()[9],
                                         qrxtest::plainHostCases()[10]),
                         qrxtest::caseName);

// ---- properties, on every host

class Properties : public testing::TestWithParam<qrxtest::HostCase> {};

TEST_P(Properties, HoldOnEveryHost) {
    auto h = qrxtest::loadHost(GetParam().config);
    const bool alpha = GetParam().alpha;
    for (auto [w, hh] : {std::pair{13, 7}, std::pair{1, 5}, std::pair{70, 1}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(hh));
        Ref p = h->pictureFromImage(qrxtest::patternImage(w, hh, alpha, unsigned(w * hh)));
        Image rgb = p.as<qrx::Picture>()->toImage();
        rgb.hasAlpha = false; // results are opaque: compare colours
        auto colours = [&](const Value& v) {
            Val got = model::fromHost(v);
            if (auto* img = std::get_if<Image>(&got)) img->hasAlpha = false;
            return got;
        };
        // Inverting twice, merging a picture with itself and the binary string round trip give
        // the colours back.
        auto once = qrxtest::auditedCall(*h, p, "InvertQRX", {}).result;
        auto s = qrxtest::auditedGlobal(*h, "PicturetoBinaryStringQRX", {p}).result;
        for (const auto& [what, v] :
             {std::pair{"invert twice",
                        qrxtest::auditedCall(*h, std::get<Ref>(once), "InvertQRX", {})},
              {"merge", qrxtest::auditedGlobal(*h, "MergePictureQRX", {p, p})},
              {"binary string", qrxtest::auditedGlobal(*h, "BinaryStringtoPictureQRX", {s})}})
            EXPECT_EQ(model::differ(rgb, colours(v.result)), "") << what;
        // Each histogram counts every pixel once.
        auto counts = qrxtest::auditedCall(*h, p, "CountColorsQRX", {Nil{}, Nil{}, Nil{}, 0});
        EXPECT_EQ(std::get<int32_t>(counts.byRef[3]), w * hh);
        for (int i = 0; i < 3; ++i) {
            const auto& bytes =
                std::get<Ref>(counts.byRef[size_t(i)]).as<qrx::MemoryBlock>()->bytes;
            uint64_t sum = 0;
            for (size_t c = 0; c < 256; ++c) {
                uint32_t n;
                std::memcpy(&n, bytes.data() + 4 * c, 4);
                sum += n;
            }
            EXPECT_EQ(sum, uint64_t(w) * uint64_t(hh)) << "histogram " << i;
        }
        // Scrolling with wrap by d and then by -d gives the picture back, alpha included (desktop
        // hosts only: the scroll methods are not offered to console applications).
        if (GetParam().config.kind != qrx::HostKind::Desktop) continue;
        const Image before = p.as<qrx::Picture>()->toImage();
        for (int32_t d : {1, -3, 7, 1000003, std::numeric_limits<int32_t>::max()}) {
            qrxtest::auditedCall(*h, p, "ScrollQRX", {d, int32_t(-d / 2), true, false});
            qrxtest::auditedCall(*h, p, "ScrollQRX",
                                 {int32_t(-int64_t(d)), int32_t(d / 2), true, false});
            EXPECT_EQ(model::differ(before, model::fromHost(Value(p))), "") << "scroll by " << d;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, Properties, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

// ---- refusals

struct Refusal {
    const char* label;
    std::optional<double> version; // of the host
    bool alpha;                    // of the receiving picture
    const char* method;
    std::function<std::vector<Value>(Host&, const Ref& self)> args; // global: self not passed
    bool global;
    Val result;                 // what the call gives
    const char* exception = ""; // class and message of the host exception, if any
    const char* message = "";
    int byRef = -1; // a byref parameter whose value is checked against `result` instead
};

Ref smaller(Host& h, const Ref& p) {
    const auto* pic = p.as<qrx::Picture>();
    return h.pictureFromImage(qrxtest::patternImage(pic->width(), pic->height() - 1, false, 3));
}
Ref block(Host& h, size_t n) {
    return h.newMemoryBlock(std::vector<uint8_t>(n));
}
Value text(Host& h, std::string s) {
    return h.newString(s, 0xFFFF);
}
std::string header(uint32_t length, int32_t w, int32_t hh) {
    std::string s = model::binaryString(Image{1, 1, false, {1, 2, 3, 255}, {}});
    for (int i = 0; i < 4; ++i) {
        s[size_t(4 + i)] = char(length >> (24 - 8 * i));
        s[size_t(8 + i)] = char(uint32_t(w) >> (24 - 8 * i));
        s[size_t(12 + i)] = char(uint32_t(hh) >> (24 - 8 * i));
    }
    return s;
}

using A = std::vector<Value>;
const double kNow = 2019.1;
const Val kNil = std::monostate{};

// clang-format off
const std::vector<Refusal> kRefusals = {
    {"channel nil", kNow, false, "ReplaceGreenChannelQRX", [](Host&, const Ref&) { return A{Nil{}}; }, false,
     kNil, "NilObjectException", "The channel picture is nil."},
    {"channel lower than the source", kNow, false, "ReplaceRedChannelQRX", [](Host& h, const Ref& p) { return A{smaller(h, p)}; }, false, kNil},
    {"combine with nil", kNow, false, "CombinePicturesQRX", [](Host&, const Ref& p) { return A{p, Nil{}, p}; }, true, kNil},
    {"combine sizes differ", kNow, false, "CombinePicturesQRX", [](Host& h, const Ref& p) { return A{p, p, smaller(h, p)}; }, true, kNil},
    {"merge with nil", kNow, false, "MergePictureQRX", [](Host&, const Ref& p) { return A{p, Nil{}}; }, true, kNil},
    {"merge sizes differ", kNow, false, "MergePictureQRX", [](Host& h, const Ref& p) { return A{smaller(h, p), p}; }, true, kNil},
    {"tint of nil", kNow, false, "TintPictureQRX", [](Host&, const Ref&) { return A{Nil{}, Color{0}, Color{0}}; }, true, kNil},
    {"red table nil", kNow, false, "TransformColorsQRX", [](Host& h, const Ref&) { return A{Nil{}, block(h, 256), block(h, 256), Nil{}}; }, false,
     kNil, "NilObjectException", "red memoryblock is nil"},
    {"green and blue tables nil", kNow, false, "TransformColorsQRX", [](Host& h, const Ref&) { return A{block(h, 256), Nil{}, Nil{}, Nil{}}; }, false,
     kNil, "NilObjectException", "green memoryblock is nil"},
    {"blue table nil", kNow, false, "TransformColorsQRX", [](Host& h, const Ref&) { return A{block(h, 256), Nil{}, block(h, 256), Nil{}}; }, false,
     kNil, "NilObjectException", "blue memoryblock is nil"},
    {"short table", kNow, false, "TransformColorsQRX", [](Host& h, const Ref&) { return A{block(h, 256), block(h, 255), block(h, 256), Nil{}}; }, false, kNil},
    {"short histogram", kNow, false, "CountColorsQRX", [](Host& h, const Ref&) { return A{Nil{}, block(h, 1023), Nil{}, int32_t{5}}; }, false,
     int32_t{-1}, "", "", 3},
    {"alpha picture before 2011.04: invert", 2011.03, true, "InvertQRX", [](Host&, const Ref&) { return A{}; }, false, kNil},
    {"alpha picture before 2011.04: replace colour", 2011.03, true, "ReplaceColorQRX", [](Host&, const Ref&) { return A{Color{0}, Color{0}}; }, false, kNil},
    {"alpha picture before 2011.04: tint", 2011.03, true, "TintPictureQRX", [](Host&, const Ref& p) { return A{p, Color{0}, Color{0}}; }, true, kNil},
    {"alpha picture, no version", std::nullopt, true, "ChangeSaturationQRX", [](Host&, const Ref&) { return A{int32_t{3}}; }, false, kNil},
    {"picture to string of nil", kNow, false, "PicturetoBinaryStringQRX", [](Host&, const Ref&) { return A{Nil{}}; }, true, kNil},
    {"string nil", kNow, false, "BinaryStringtoPictureQRX", [](Host&, const Ref&) { return A{Nil{}}; }, true, kNil},
    {"string empty", kNow, false, "BinaryStringtoPictureQRX", [](Host& h, const Ref&) { return A{text(h, "")}; }, true, kNil},
    {"length one more", kNow, false, "BinaryStringtoPictureQRX", [](Host& h, const Ref&) { return A{text(h, header(44, 1, 1))}; }, true, kNil},
    {"width 0", kNow, false, "BinaryStringtoPictureQRX", [](Host& h, const Ref&) { return A{text(h, header(43, 0, 1))}; }, true, kNil},
    {"pixels past the end", kNow, false, "BinaryStringtoPictureQRX", [](Host& h, const Ref&) { return A{text(h, header(43, 2, 1))}; }, true, kNil},
    {"width 32768", kNow, false, "CombinePicturesQRX", [](Host& h, const Ref&) {
         Ref wide = h.newPicture(32768, 1, false); return A{wide, wide, wide}; }, true, kNil},
};
// clang-format on

TEST(Refusals, EachGivesItsFailureValue) {
    for (const Refusal& c : kRefusals) {
        SCOPED_TRACE(c.label);
        qrx::HostConfig config;
        config.version = c.version;
        auto h = qrxtest::loadHost(config);
        Ref self = h->pictureFromImage(qrxtest::patternImage(6, 4, c.alpha, 5));
        std::vector<Value> args = c.args(*h, self);
        const qrx::CallResult r = c.global ? qrxtest::auditedGlobal(*h, c.method, args)
                                           : qrxtest::auditedCall(*h, self, c.method, args);
        const Value& got = c.byRef >= 0 ? r.byRef[size_t(c.byRef)] : r.result;
        EXPECT_EQ(model::differ(c.result, model::fromHost(got)), "");
        EXPECT_EQ(r.exception ? r.exception->className : "", c.exception);
        EXPECT_EQ(r.exception ? r.exception->message : "", c.message);
    }
}

// A host never calls a Picture method on nil, but the plugin's functions must cope with it: each
// is registered again as a global method taking the picture first, as its function takes it,
// and called with nil and sample arguments. Its model says what it gives; the audit stays clean.
TEST(Refusals, EveryPictureMethodCopesWithANilReceiver) {
    qrx::HostConfig config;
    auto h = qrxtest::loadHost(config);
    const qrx::ClassInfo* picture = h->findClass("Picture");
    ASSERT_NE(picture, nullptr);
    std::deque<std::string> texts;
    std::deque<REALmethodDefinition> defs;
    std::vector<const qrx::MethodInfo*> methods;
    for (const auto* list : {&picture->methods, &picture->extensions})
        for (const qrx::MethodInfo& m : *list)
            if (!m.builtIn) methods.push_back(&m);
    ASSERT_GT(methods.size(), 30u);
    h->makeCurrent();
    auto reg = qrxtest::service<HostService::RegisterMethod>();
    for (size_t i = 0; i < methods.size(); ++i) {
        const qrx::Declaration& d = methods[i]->decl;
        std::string rest = d.text.substr(d.name.size());
        const std::string self = "(receiver as picture";
        rest = rest.rfind("(", 0) == 0 ? self + (rest[1] == ')' ? "" : ", ") + rest.substr(1)
                                       : self + ")" + rest;
        texts.push_back("OnNil" + std::to_string(i) + rest);
        defs.push_back({methods[i]->function, nullptr, texts.back().c_str(), 0});
        reg(&defs.back());
    }
    model::Ctx ctx;
    ctx.version = config.version;
    for (size_t i = 0; i < methods.size(); ++i) {
        const qrx::Declaration& d = methods[i]->decl;
        SCOPED_TRACE(d.text);
        qrxtest::Samples samples;
        std::vector<Value> args = {Nil{}};
        for (const qrx::Param& p : d.params)
            args.push_back(qrxtest::sample(*h, p.type, samples));
        std::vector<Val> inputs;
        for (const Value& v : args)
            inputs.push_back(model::fromHost(v));
        const qrx::CallResult r = qrxtest::auditedGlobal(*h, "OnNil" + std::to_string(i), args);
        const model::Fn fn = model::find(d.name, inputs.size());
        if (!fn) continue; // no model: the clean audit is what is checked
        const model::Outcome want = fn(ctx, inputs);
        EXPECT_EQ(model::differ(want.result, model::fromHost(r.result)), "");
        EXPECT_EQ(r.exception ? r.exception->className : "", want.exception);
        for (size_t b = 0; b < want.byRef.size() && b < r.byRef.size(); ++b)
            if (!std::holds_alternative<std::monostate>(want.byRef[b])) {
                EXPECT_EQ(model::differ(want.byRef[b], model::fromHost(r.byRef[b])), "") << b;
            }
    }
}

} // namespace
