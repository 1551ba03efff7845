// Every allocation the plugin makes can fail. The test copy of the module refuses the n-th
// allocation on request; each registered Picture and global method is run once per allocation it
// makes with exactly that one refused, and must end in its failure value with every reference,
// lock and string record given back. The scroll methods also promise what happens to the picture.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host_impl.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Host;
using qrx::MethodInfo;
using qrx::Ref;
using qrx::TypeKind;
using qrx::Value;

constexpr int kWidth = 9;
constexpr int kHeight = 7;

// A host running the test copy of the module, with its allocation switch.
struct HookedHost {
    std::unique_ptr<Host> host;
    void (*failAllocation)(long long) = nullptr;
    long long (*allocationsAsked)() = nullptr;

    explicit HookedHost(const qrx::HostConfig& config = {})
        : host(std::make_unique<Host>(config, QRX_TEST_PLUGIN_TESTABLE)) {
        void* lib = host->impl().library;
        failAllocation = reinterpret_cast<void (*)(long long)>(dlsym(lib, "QRXFailAllocation"));
        allocationsAsked = reinterpret_cast<long long (*)()>(dlsym(lib, "QRXAllocationsAsked"));
    }
};

qrx::Image pattern(bool alpha) {
    return qrxtest::patternImage(kWidth, kHeight, alpha, 3);
}

bool samePixels(const qrx::Image& a, const qrx::Image& b) {
    return a.width == b.width && a.height == b.height && a.rgba == b.rgba;
}

TEST(AllocationHook, OnlyTheTestModuleExportsIt) {
    HookedHost hooked;
    ASSERT_NE(hooked.failAllocation, nullptr);
    ASSERT_NE(hooked.allocationsAsked, nullptr);
    auto shipped = qrxtest::loadHost();
    EXPECT_EQ(dlsym(shipped->impl().library, "QRXFailAllocation"), nullptr);
    EXPECT_EQ(dlsym(shipped->impl().library, "QRXAllocationsAsked"), nullptr);
}

// Each method of the surface, each allocation it makes refused in turn.
class EveryAllocation : public testing::TestWithParam<bool> {};

TEST_P(EveryAllocation, FailsCleanly) {
    const bool alpha = GetParam();
    HookedHost h;
    Host& host = *h.host;
    ASSERT_TRUE(h.failAllocation);

    // A picture's binary form, for methods that read one.
    qrxtest::Samples samples{"qrx", kREALTextEncodingRaw, kWidth, kHeight};
    for (const MethodInfo* m : host.globalOverloads("PicturetoBinaryStringQRX")) {
        Ref pic = host.pictureFromImage(pattern(alpha));
        qrx::CallResult r = host.invoke(*m, Ref(), {pic});
        if (auto* ref = std::get_if<Ref>(&r.result); ref && ref->as<qrx::String>())
            samples.stringBytes = ref->as<qrx::String>()->text();
    }

    std::vector<std::pair<const MethodInfo*, bool>> methods; // method, called on a picture
    for (const auto& cls : host.classes())
        for (const MethodInfo& m : cls->extensions)
            methods.push_back({&m, true});
    for (const MethodInfo& m : host.globalMethods())
        methods.push_back({&m, false});
    ASSERT_FALSE(methods.empty());

    size_t refusals = 0;
    for (auto [m, onPicture] : methods) {
        auto run = [&](long long n, qrx::Image* selfAfter) {
            Ref self = onPicture ? host.pictureFromImage(pattern(alpha)) : Ref();
            std::vector<Value> args;
            for (const auto& p : m->decl.params)
                args.push_back(qrxtest::sample(host, p.type, samples));
            h.failAllocation(n);
            qrx::CallResult r = host.invoke(*m, self, std::move(args));
            const long long asked = h.allocationsAsked();
            h.failAllocation(0);
            if (n && n <= asked && m->decl.result &&
                (m->decl.result->kind == TypeKind::Picture ||
                 m->decl.result->kind == TypeKind::String)) {
                EXPECT_TRUE(std::holds_alternative<qrx::Nil>(r.result))
                    << m->decl.text << " with allocation " << n << " refused gave "
                    << qrx::describe(r.result);
            }
            if (selfAfter && self) *selfAfter = self.as<qrx::Picture>()->toImage();
            return asked;
        };
        qrx::Audit before = host.audit();
        const long long asked = run(0, nullptr);
        for (long long n = 1; n <= asked; ++n) {
            run(n, nullptr);
            ++refusals;
            qrx::Audit after = host.audit();
            EXPECT_EQ(after.liveObjects, before.liveObjects) << m->decl.text << ", refused " << n;
            EXPECT_EQ(after.references, before.references) << m->decl.text << ", refused " << n;
            EXPECT_EQ(after.violations.size(), before.violations.size())
                << m->decl.text << ", refused " << n << ": " << after.violations.back();
            qrxtest::expectQuiet(host);
        }
    }
    // The surface allocates somewhere (scrolling, masks, rendering, binary strings).
    EXPECT_GT(refusals, 0u);
}

INSTANTIATE_TEST_SUITE_P(Pictures, EveryAllocation, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& i) {
                             return i.param ? std::string("alpha") : std::string("plain");
                         });

// The scroll methods with wrapping: what the picture looks like when the n-th allocation fails.
struct ScrollCase {
    std::string name;
    std::string method;
    std::vector<Value> args;
    long long refused;
    bool result;
    // What the picture must equal: "unchanged", or the result of this call on a fresh picture.
    std::string sameAs;
    std::vector<Value> sameAsArgs;
};

class ScrollAllocation : public testing::TestWithParam<ScrollCase> {};

TEST_P(ScrollAllocation, KeepsItsPromise) {
    const ScrollCase& c = GetParam();
    HookedHost h;
    Host& host = *h.host;
    if (host.overloads("Picture", c.method).empty()) GTEST_SKIP() << c.method << " not registered";
    for (bool alpha : {false, true}) {
        Ref pic = host.pictureFromImage(pattern(alpha));
        h.failAllocation(c.refused);
        qrx::CallResult r = qrxtest::auditedCall(host, pic, c.method, c.args);
        const long long asked = h.allocationsAsked();
        h.failAllocation(0);
        ASSERT_GE(asked, c.refused) << "the call made fewer allocations than the case assumes";
        EXPECT_EQ(r.result, Value(c.result));

        qrx::Image expected = pattern(alpha);
        if (!c.sameAs.empty()) {
            Ref ref = host.pictureFromImage(expected);
            qrx::CallResult rr = host.call(ref, c.sameAs, c.sameAsArgs);
            ASSERT_EQ(rr.result, Value(true));
            expected = ref.as<qrx::Picture>()->toImage();
            ASSERT_FALSE(samePixels(expected, pattern(alpha)))
                << "the reference scroll moved nothing";
        }
        EXPECT_TRUE(samePixels(pic.as<qrx::Picture>()->toImage(), expected))
            << (alpha ? "alpha" : "plain") << " picture";
    }
}

std::vector<ScrollCase> scrollCases() {
    const Value t = true, f = false;
    return {
        {"vertical_unchanged", "ScrollVerticalQRX", {int32_t{2}, t, f}, 1, false, "", {}},
        {"horizontal_unchanged", "ScrollHorizontalQRX", {int32_t{3}, t, f}, 1, true, "", {}},
        // Horizontal first: its buffer refused, the vertical shift alone happens.
        {"both_horizontal_refused",
         "ScrollQRX",
         {int32_t{3}, int32_t{2}, t, f},
         1,
         true,
         "ScrollVerticalQRX",
         {int32_t{2}, t, f}},
        // The vertical buffer refused: the horizontal shift stays, the vertical outcome is false.
        {"both_vertical_refused",
         "ScrollQRX",
         {int32_t{3}, int32_t{2}, t, f},
         2,
         false,
         "ScrollHorizontalQRX",
         {int32_t{3}, t, f}},
    };
}

INSTANTIATE_TEST_SUITE_P(Wrap, ScrollAllocation, testing::ValuesIn(scrollCases()),
                         [](const testing::TestParamInfo<ScrollCase>& i) { return i.param.name; });

} // namespace
