// One sweep over the registered surface, read from the host at run time (Picture methods on a
// plain and an alpha picture, global methods, the methods, setters and properties of the plugin's
// classes), so a method registered later is swept without being named here. Two kinds of fault:
//  - a host that withholds one service name the plugin asks for (a host of its own per name);
//  - the test copy of the module refusing the n-th allocation, for each allocation an entry makes.
// Every run must end without a crash, in the method's failure value (nil for a picture or string
// when an allocation is refused), with every reference dropped again, no description lock held,
// no string data outstanding and no violation.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host_impl.h"
#include "models.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Host;
using qrx::MethodInfo;
using qrx::Ref;
using qrx::TypeKind;
using qrx::Value;

// A host running the test copy of the module, with its allocation switch.
struct HookedHost {
    std::unique_ptr<Host> host;
    void (*failAllocation)(long long) = nullptr;
    long long (*allocationsAsked)() = nullptr;

    explicit HookedHost(const qrx::HostConfig& config)
        : host(std::make_unique<Host>(config, QRX_TEST_PLUGIN_TESTABLE)) {
        void* lib = host->impl().library;
        failAllocation = reinterpret_cast<void (*)(long long)>(dlsym(lib, "QRXFailAllocation"));
        allocationsAsked = reinterpret_cast<long long (*)()>(dlsym(lib, "QRXAllocationsAsked"));
    }
};

qrx::Image pattern(bool alpha) {
    return qrxtest::patternImage(9, 7, alpha, 3);
}

// One thing the sweep runs: a method (with only its required arguments, or with every argument),
// the setter of an assignable method, or reading and writing back a property.
struct Entry {
    enum Kind { PictureMethod, Global, ClassMethod, Setter, Property } kind;
    std::string className;
    const MethodInfo* method = nullptr;
    const qrx::PropertyInfo* property = nullptr;
    bool allGiven = false;
    bool alphaSelf = false;

    std::string key() const {
        if (kind == Property) return className + ".property " + property->name;
        std::string k = kind == Global        ? ""
                        : kind == Setter      ? className + ".assign "
                        : kind == ClassMethod ? className + "."
                        : alphaSelf           ? "Picture(alpha)."
                                              : "Picture.";
        return k + method->decl.text + (allGiven ? " [all arguments given]" : "");
    }
};

bool isObject(TypeKind k) {
    return k == TypeKind::String || k == TypeKind::Picture || k == TypeKind::MemoryBlock ||
           k == TypeKind::Object;
}

std::vector<Entry> surface(const Host& host) {
    std::vector<Entry> out;
    auto add = [&](Entry::Kind kind, const std::string& cls, const MethodInfo& m) {
        // A defaulted object parameter (dest as picture = nil) is also given a real object.
        bool objectDefault = false;
        for (size_t i = m.decl.requiredCount(); i < m.decl.params.size(); ++i)
            objectDefault = objectDefault || isObject(m.decl.params[i].type.kind);
        for (bool alpha : {false, true})
            for (bool all : {false, true})
                if ((!alpha || kind == Entry::PictureMethod) && (!all || objectDefault))
                    out.push_back({kind, cls, &m, nullptr, all, alpha});
    };
    for (const auto& cls : host.classes()) {
        // The built-in classes' own methods are the host's: only the plugin's extensions count.
        for (const MethodInfo& m : cls->extensions)
            add(Entry::PictureMethod, cls->name, m);
        if (cls->builtIn) continue;
        for (const MethodInfo& m : cls->methods) {
            add(Entry::ClassMethod, cls->name, m);
            if (m.setter) out.push_back({Entry::Setter, cls->name, &m, nullptr, true, false});
        }
        for (const auto& p : cls->properties)
            out.push_back({Entry::Property, cls->name, nullptr, &p, false, false});
    }
    for (const MethodInfo& m : host.globalMethods())
        add(Entry::Global, {}, m);
    return out;
}

// Runs one entry (defaulted arguments given are their defaults but for objects), calling arm()
// just before the plugin is entered; everything made for it is dropped before this returns but
// the result.
qrx::CallResult runEntry(
    Host& host, const Entry& e, qrxtest::Samples& s, const std::function<void()>& arm = [] {}) {
    Ref self;
    if (e.kind == Entry::PictureMethod) {
        self = host.pictureFromImage(pattern(e.alphaSelf));
    } else if (e.kind != Entry::Global) {
        // An instance with a fresh picture in each picture property, so that its methods get past
        // their first checks.
        self = host.newInstance(e.className);
        for (const auto& p : host.findClass(e.className)->properties)
            if (p.type.kind == TypeKind::Picture)
                host.setProperty(self, p.name, qrxtest::sample(host, p.type, s));
    }
    if (e.kind == Entry::Property) {
        Value v = host.getProperty(self, e.property->name);
        if (e.property->type.kind == TypeKind::Picture)
            v = qrxtest::sample(host, e.property->type, s);
        arm();
        host.setProperty(self, e.property->name, v);
        return {};
    }
    std::vector<Value> args;
    const auto& params = e.method->decl.params;
    for (size_t i = 0; i < (e.allGiven ? params.size() : e.method->decl.requiredCount()); ++i)
        args.push_back(i < e.method->decl.requiredCount() || isObject(params[i].type.kind)
                           ? qrxtest::sample(host, params[i].type, s)
                           : *params[i].defaultValue);
    if (e.kind == Entry::Setter) {
        Value value = qrxtest::sample(host, *e.method->decl.result, s);
        arm();
        return host.assign(self, e.method->decl.name, std::move(args), std::move(value));
    }
    arm();
    return host.invoke(*e.method, self, std::move(args));
}

// Strings hold a binary picture string, so that a string reader gets something it can parse.
qrxtest::Samples samplesFor(Host&) {
    return {model::binaryString(pattern(false)), kREALTextEncodingRaw, 9, 7};
}

// What a run may keep when the service that gives it back is missing: without "REALUnlockObject"
// or "REALUnlockString" the references it took stay (and without "REALLockObject" or
// "REALLockString" the plugin keeps them rather than dropping what it never took), without
// "unlockPictureDescription" the locks stay, and without "REALGetClassData" a filter's destructor
// cannot reach the pictures in its fields.
enum Kept { kKeepsNothing = 0, kKeepsReferences = 1, kKeepsLocks = 2 };

int keptWithout(const std::string& name) {
    static const std::set<std::string> references = {"REALUnlockObject", "REALUnlockString",
                                                     "REALGetClassData", "REALLockObject",
                                                     "REALLockString"};
    return references.count(name)               ? kKeepsReferences
           : name == "unlockPictureDescription" ? kKeepsLocks
                                                : kKeepsNothing;
}

// Violations a host accepts when `withheld` is missing: an older host (before 2012.0) is sent an
// unlock after a failed description lock, which then finds no lock; without "REALLockObject" the
// plugin cannot take the reference it hands back with a picture it was given, and the host takes
// its own.
bool accepted(const Host& host, const std::string& withheld, int kept, const std::string& v) {
    return ((kept & kKeepsLocks) && v.find("description lock") != std::string::npos) ||
           (withheld == "REALLockPictureDescription" && host.config().version &&
            *host.config().version < 2012.0 &&
            v.find("no description lock held") != std::string::npos) ||
           (withheld == "REALLockObject" &&
            v.find("without a reference of its own") != std::string::npos);
}

// The audit since `before`, as a list of faults ("" when clean).
std::string faults(const Host& host, const qrx::Audit& before, const std::string& withheld = "") {
    const qrx::Audit a = host.audit();
    const int kept = keptWithout(withheld);
    std::ostringstream out;
    if (!(kept & kKeepsReferences) && a.liveObjects != before.liveObjects)
        out << " objects " << before.liveObjects << " -> " << a.liveObjects << ";";
    if (!(kept & kKeepsReferences) && a.references != before.references)
        out << " references " << before.references << " -> " << a.references << ";";
    if (a.descriptionLocks && !(kept & kKeepsLocks))
        out << " " << a.descriptionLocks << " description locks held;";
    if (a.stringData) out << " " << a.stringData << " string data not disposed;";
    for (size_t i = before.violations.size(); i < a.violations.size(); ++i)
        if (!accepted(host, withheld, kept, a.violations[i]))
            out << " violation: " << a.violations[i] << ";";
    return out.str();
}

std::string listed(const std::vector<std::string>& items, size_t limit = 40) {
    std::string out;
    for (size_t i = 0; i < items.size() && i < limit; ++i)
        out += "\n  " + items[i];
    if (items.size() > limit)
        out += "\n  ... and " + std::to_string(items.size() - limit) + " more";
    return out;
}

// The desktop host of today, an older desktop host (strings read through their records, the copy
// path of readers) and a console host (pictures as true-colour records).
std::vector<qrxtest::HostCase> sweepHosts() {
    qrx::HostConfig older;
    older.version = 2011.0;
    older.bitmapLockFails = true;
    return {{"desktop", {}},
            {"desktop_2011_copy_path", older},
            {"console", qrxtest::ofKind(qrx::HostKind::Console)}};
}

class FaultSweep : public testing::TestWithParam<qrxtest::HostCase> {};

// "RegisterPluginVersion" is never withheld: the entry point calls its answer unchecked, so a host
// without it is not a host. The plugin pairs each reference it takes with a drop and each
// string-data record with a disposal, choosing between the host's service and its own fallback for
// each name alone; a host offers both of a pair or neither.
TEST_P(FaultSweep, EveryEntrySurvivesTheLossOfEveryServiceItAsksFor) {
    const std::map<std::string, std::string> together = {
        {"REALLockObject", "REALUnlockObject"},
        {"REALLockString", "REALUnlockString"},
        {"PluginGetStringData", "PluginDisposeStringData"},
    };
    HookedHost full(GetParam().config);
    ASSERT_TRUE(full.host->registrationErrors().empty()) << listed(full.host->registrationErrors());
    qrxtest::Samples samples = samplesFor(*full.host);

    // Each name on a host of its own (the plugin keeps what it resolved). A name first asked for
    // only because another was missing joins the sweep too.
    std::vector<std::string> problems, pending = full.host->resolvedNames();
    std::set<std::string> seen(pending.begin(), pending.end()), asking;
    while (!pending.empty()) {
        const std::string name = pending.back();
        pending.pop_back();
        if (name == "RegisterPluginVersion") continue;
        qrx::HostConfig config = GetParam().config;
        config.withheld.insert(name);
        if (auto partner = together.find(name); partner != together.end())
            config.withheld.insert(partner->second);
        std::unique_ptr<HookedHost> h;
        try {
            h = std::make_unique<HookedHost>(config);
        } catch (const std::exception& ex) {
            problems.push_back("loading without " + name + ": " + ex.what());
            continue;
        }
        Host& host = *h->host;
        for (const Entry& e : surface(host)) {
            // A withheld name is asked again each time, so its count tells which entries ask.
            const size_t asked = host.resolveCount(name);
            const qrx::Audit before = host.audit();
            std::string fault;
            try {
                runEntry(host, e, samples);
            } catch (const std::exception& ex) {
                fault = std::string(" the call could not be made: ") + ex.what();
            }
            if (host.resolveCount(name) > asked) asking.insert(e.key());
            fault += faults(host, before, name);
            if (!fault.empty()) problems.push_back(e.key() + " without " + name + ":" + fault);
        }
        for (const std::string& n : host.resolvedNames())
            if (seen.insert(n).second) pending.push_back(n);
    }
    // Every entry goes through the host for its picture, instance or arguments (which also shows
    // that each host has its own copy of the plugin: one copy shared with the full host would keep
    // the service that host gave it).
    EXPECT_EQ(asking.size(), surface(*full.host).size());
    EXPECT_TRUE(problems.empty()) << problems.size() << " faults" << listed(problems);
}

TEST_P(FaultSweep, EveryEntryFailsCleanlyWhenAnyAllocationIsRefused) {
    HookedHost h(GetParam().config);
    Host& host = *h.host;
    ASSERT_TRUE(h.failAllocation && h.allocationsAsked);
    qrxtest::Samples samples = samplesFor(host);
    std::vector<std::string> problems;
    size_t refusals = 0;
    for (const Entry& e : surface(host)) {
        const TypeKind result = e.method && e.method->decl.result && e.kind != Entry::Setter
                                    ? e.method->decl.result->kind
                                    : TypeKind::Integer;
        for (long long n = 0, asked = 1; n <= asked; ++n) {
            const qrx::Audit before = host.audit();
            std::string fault;
            {
                qrx::CallResult r = runEntry(host, e, samples, [&] { h.failAllocation(n); });
                if (n == 0) asked = h.allocationsAsked();
                h.failAllocation(0);
                if (n && (result == TypeKind::Picture || result == TypeKind::String) &&
                    !std::holds_alternative<qrx::Nil>(r.result))
                    fault = " gave " + qrx::describe(r.result) + ";";
            }
            fault += faults(host, before);
            refusals += n > 0;
            if (!fault.empty())
                problems.push_back(e.key() + " with allocation " + std::to_string(n) +
                                   " refused:" + fault);
        }
    }
    // The surface allocates somewhere (scrolling, masks, rendering, binary strings).
    EXPECT_GT(refusals, 0u);
    RecordProperty("refusals", std::to_string(refusals));
    EXPECT_TRUE(problems.empty()) << problems.size() << " faults" << listed(problems);
}

INSTANTIATE_TEST_SUITE_P(Hosts, FaultSweep, testing::ValuesIn(sweepHosts()), qrxtest::caseName);

// The wrapping scrolls when the n-th allocation fails: the picture is left as it was, or with the
// other direction's shift alone (ScrollQRX moves horizontally first; its outcome is the vertical
// one).
TEST(ScrollAllocation, KeepsItsPromise) {
    const Value t = true, f = false;
    struct Case {
        const char* method;
        std::vector<Value> args;
        long long refused;
        bool result;
        const char* sameAs; // the picture equals this call's result on a fresh one; "": unchanged
        std::vector<Value> sameAsArgs;
    };
    // clang-format off
    const Case cases[] = {
        {"ScrollVerticalQRX", {int32_t{2}, t, f}, 1, false, "", {}},
        {"ScrollHorizontalQRX", {int32_t{3}, t, f}, 1, true, "", {}},
        {"ScrollQRX", {int32_t{3}, int32_t{2}, t, f}, 1, true, "ScrollVerticalQRX", {int32_t{2}, t, f}},
        {"ScrollQRX", {int32_t{3}, int32_t{2}, t, f}, 2, false, "ScrollHorizontalQRX", {int32_t{3}, t, f}},
    };
    // clang-format on
    HookedHost h({});
    Host& host = *h.host;
    for (const Case& c : cases)
        for (bool alpha : {false, true}) {
            SCOPED_TRACE(std::string(c.method) + " refusing allocation " +
                         std::to_string(c.refused));
            Ref pic = host.pictureFromImage(pattern(alpha));
            h.failAllocation(c.refused);
            qrx::CallResult r = qrxtest::auditedCall(host, pic, c.method, c.args);
            ASSERT_GE(h.allocationsAsked(), c.refused) << "fewer allocations than the case assumes";
            h.failAllocation(0);
            EXPECT_EQ(r.result, Value(c.result));
            Ref expected = host.pictureFromImage(pattern(alpha));
            if (*c.sameAs) host.call(expected, c.sameAs, c.sameAsArgs);
            EXPECT_EQ(pic.as<qrx::Picture>()->toImage().rgba,
                      expected.as<qrx::Picture>()->toImage().rgba);
        }
}

} // namespace
