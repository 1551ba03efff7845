#include "support.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <set>

namespace qrxtest {

using qrx::HostConfig;
using qrx::HostKind;

namespace {
struct HostRow {
    const char* name;
    HostKind kind;
    uint32_t layout; // the plain or alpha layout of a desktop host
    int rowPadding;
    bool bitmapLockFails;
    std::optional<double> version;
};
const double kNow = HostConfig{}.version.value_or(0);
// clang-format off
const HostRow kPlain[] = {
    {"desktop_layout1", HostKind::Desktop, 1, 0, false, kNow}, {"desktop_layout2", HostKind::Desktop, 2, 0, false, kNow},
    {"desktop_layout3", HostKind::Desktop, 3, 0, false, kNow}, {"desktop_layout4", HostKind::Desktop, 4, 0, false, kNow},
    {"desktop_layout5", HostKind::Desktop, 5, 0, false, kNow}, {"desktop_layout6", HostKind::Desktop, 6, 0, false, kNow},
    {"desktop_padded_rows", HostKind::Desktop, 0, 12, false, kNow},
    {"desktop_copy_path", HostKind::Desktop, 0, 0, true, kNow},
    {"desktop_2011", HostKind::Desktop, 6, 0, false, 2011.0},
    {"console", HostKind::Console, 0, 0, false, kNow},
    {"web_no_version", HostKind::Web, 0, 0, false, std::nullopt},
};
const HostRow kAlpha[] = {
    {"desktop_alpha_layout1", HostKind::Desktop, 1, 0, false, kNow},
    {"desktop_alpha_layout2", HostKind::Desktop, 2, 8, false, kNow},
    {"console_alpha", HostKind::Console, 0, 0, false, kNow},
    {"web_alpha", HostKind::Web, 0, 0, false, kNow},
};
// clang-format on

std::vector<HostCase> casesOf(const auto& rows, bool alpha) {
    std::vector<HostCase> cases;
    for (const HostRow& r : rows) {
        HostConfig c;
        c.kind = r.kind;
        if (r.layout) (alpha ? c.alphaLayout : c.plainLayout) = r.layout;
        c.rowPadding = r.rowPadding;
        c.bitmapLockFails = r.bitmapLockFails;
        c.version = r.version;
        cases.push_back({r.name, c, alpha});
    }
    return cases;
}
} // namespace

std::vector<HostCase> plainHostCases() {
    return casesOf(kPlain, false);
}

std::vector<HostCase> everyHost() {
    std::vector<HostCase> cases = plainHostCases();
    for (HostCase& c : casesOf(kAlpha, true))
        cases.push_back(std::move(c));
    return cases;
}

HostConfig ofKind(HostKind kind) {
    HostConfig c;
    c.kind = kind;
    return c;
}

std::unique_ptr<qrx::Host> loadHost(const HostConfig& config) {
    return std::make_unique<qrx::Host>(config, QRX_TEST_PLUGIN);
}

qrx::Image patternImage(int width, int height, bool hasAlpha, unsigned seed) {
    qrx::Image img{width, height, hasAlpha, std::vector<uint8_t>(size_t(width) * height * 4), {}};
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = img.pixel(x, y);
            if ((x + y) % 3 == 0) { // exact gray
                p[0] = p[1] = p[2] = uint8_t(rng());
            } else if ((x + y) % 3 == 1) { // gradient
                p[0] = uint8_t(x * 255 / std::max(1, width - 1));
                p[1] = uint8_t(y * 255 / std::max(1, height - 1));
                p[2] = uint8_t((x ^ y) & 0xFF);
            } else { // random colour, red first
                for (int i = 0; i < 3; ++i)
                    p[i] = uint8_t(rng());
            }
            // Console pictures keep 7 bits of alpha: use values that survive the round trip.
            unsigned a = rng() & 0x7F;
            p[3] = hasAlpha ? uint8_t((a << 1) | (a & 1)) : 255;
        }
    }
    return img;
}

namespace {

// The call consumes its argument list; a copy kept here holds the arguments alive across both
// audits, so the only differences are the references the arguments dropped and what came back.
qrx::CallResult audited(qrx::Host& host, std::vector<qrx::Value> args,
                        const std::function<qrx::CallResult(std::vector<qrx::Value>)>& call) {
    const std::vector<qrx::Value> keep = args;
    std::set<const qrx::Object*> passed;
    long argRefs = 0;
    for (const qrx::Value& v : args)
        if (auto* r = std::get_if<qrx::Ref>(&v); r && *r) {
            passed.insert(r->get());
            ++argRefs;
        }
    qrx::Audit before = host.audit();
    qrx::CallResult r = call(std::move(args));
    qrx::Audit after = host.audit();
    long newObjects = 0, newRefs = 0;
    auto count = [&](const qrx::Value& v) {
        if (auto* ref = std::get_if<qrx::Ref>(&v); ref && *ref) {
            ++newRefs;
            if (!passed.count(ref->get())) ++newObjects;
        }
    };
    count(r.result);
    for (const qrx::Value& v : r.byRef)
        count(v);
    EXPECT_EQ(long(after.liveObjects), long(before.liveObjects) + newObjects) << "objects leaked";
    EXPECT_EQ(after.references, before.references - argRefs + newRefs) << "references leaked";
    EXPECT_EQ(after.descriptionLocks, 0) << "description lock held after the call";
    EXPECT_EQ(after.stringData, 0) << "string data not disposed";
    EXPECT_TRUE(after.violations.empty())
        << "host violation: " << (after.violations.empty() ? "" : after.violations.front());
    return r;
}

} // namespace

qrx::CallResult auditedCall(qrx::Host& host, const qrx::Ref& self, const std::string& name,
                            std::vector<qrx::Value> args) {
    return audited(host, std::move(args),
                   [&](std::vector<qrx::Value> a) { return host.call(self, name, std::move(a)); });
}

qrx::CallResult auditedAssign(qrx::Host& host, const qrx::Ref& self, const std::string& name,
                              std::vector<qrx::Value> args, qrx::Value value) {
    args.push_back(std::move(value));
    return audited(host, std::move(args), [&](std::vector<qrx::Value> a) {
        qrx::Value v = std::move(a.back());
        a.pop_back();
        return host.assign(self, name, std::move(a), std::move(v));
    });
}

qrx::CallResult auditedGlobal(qrx::Host& host, const std::string& name,
                              std::vector<qrx::Value> args) {
    return audited(host, std::move(args),
                   [&](std::vector<qrx::Value> a) { return host.callGlobal(name, std::move(a)); });
}

void expectQuiet(const qrx::Host& host) {
    qrx::Audit a = host.audit();
    EXPECT_EQ(a.descriptionLocks, 0);
    EXPECT_EQ(a.stringData, 0);
    EXPECT_TRUE(a.violations.empty())
        << "host violation: " << (a.violations.empty() ? "" : a.violations.front());
}

std::string caseName(const testing::TestParamInfo<HostCase>& info) {
    return info.param.name;
}

qrx::Value sample(qrx::Host& host, const qrx::Type& type, Samples& s) {
    using K = qrx::TypeKind;
    const K k = type.kind;
    if (k == K::Integer) return int32_t{3};
    if (k == K::UInt32) return uint32_t{1};
    if (k == K::Double) return 1.25;
    if (k == K::Boolean) return true;
    if (k == K::Color) return qrx::Color{0x102030};
    if (k == K::String) return host.newString(s.stringBytes, s.stringEncoding);
    if (k == K::Picture)
        return host.pictureFromImage(patternImage(s.width, s.height, false, ++s.seed));
    if (k == K::MemoryBlock) {
        std::vector<uint8_t> bytes(1024);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = uint8_t(i * 37 + s.seed);
        return host.newMemoryBlock(bytes);
    }
    const qrx::ClassInfo* cls = k == K::Object ? host.findClass(type.name) : nullptr;
    if (cls && !cls->builtIn) return host.newInstance(cls->name);
    return qrx::Nil{};
}

std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;)
            out.append(buf, n);
        pclose(pipe);
    }
    return out;
}

} // namespace qrxtest
