// Every registered method survives the loss of any single host service. The surface is read from
// the host at run time (Picture methods, global methods, the methods, assignable setters and
// properties of the plugin's classes), so a method registered later is swept without being named
// here. For every service name the plugin asks for, a fresh host withholds that one name and runs
// the whole surface; each run must end without a crash, with every reference the plugin took
// dropped again, no description lock held, no string data outstanding and no violation.
//
// A withheld name is never cached by the plugin (a null answer is asked again), so the resolver's
// count for that name tells exactly which methods asked for it: those are the method x service
// pairs, and the test requires that each method of the surface is part of at least one of them.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Host;
using qrx::MethodInfo;
using qrx::Ref;
using qrx::TypeKind;
using qrx::Value;

constexpr int kWidth = 8;
constexpr int kHeight = 6;

// One thing the sweep runs: a method (with or without its defaulted parameters given), the setter
// of an assignable method, or reading and writing back a property.
struct Entry {
    enum class Kind { PictureMethod, Global, ClassMethod, Setter, Property };
    Kind kind;
    std::string className; // the Picture class, the plugin class, or empty for a global
    const MethodInfo* method = nullptr;
    std::string property;
    bool allGiven = false; // defaulted parameters given explicitly (objects made, others default)
    bool alphaSelf = false;

    std::string key() const {
        std::string k;
        switch (kind) {
        case Kind::PictureMethod:
            k = alphaSelf ? "Picture(alpha)." : "Picture.";
            break;
        case Kind::Global:
            k = "";
            break;
        case Kind::ClassMethod:
            k = className + ".";
            break;
        case Kind::Setter:
            k = className + ".assign ";
            break;
        case Kind::Property:
            return className + ".property " + property;
        }
        k += method->decl.text;
        if (allGiven) k += " [all arguments given]";
        return k;
    }
};

bool isObject(TypeKind k) {
    return k == TypeKind::String || k == TypeKind::Picture || k == TypeKind::MemoryBlock ||
           k == TypeKind::Object;
}

// The registered surface of a host, in registration order.
std::vector<Entry> surface(const Host& host) {
    std::vector<Entry> out;
    auto addMethod = [&](Entry::Kind kind, const std::string& cls, const MethodInfo& m) {
        // A defaulted object parameter (dest as picture = nil) is also given a real object.
        bool hasDefaults = false;
        for (size_t i = m.decl.requiredCount(); i < m.decl.params.size(); ++i)
            hasDefaults = hasDefaults || isObject(m.decl.params[i].type.kind);
        for (bool alpha : {false, true}) {
            if (alpha && kind != Entry::Kind::PictureMethod) continue;
            for (bool all : {false, true}) {
                if (all && !hasDefaults) continue;
                out.push_back(Entry{kind, cls, &m, {}, all, alpha});
            }
        }
    };
    for (const auto& cls : host.classes()) {
        // The built-in classes' own methods belong to the host, not to the plugin: only what the
        // plugin added to them (its extensions) is swept.
        for (const MethodInfo& m : cls->extensions)
            addMethod(Entry::Kind::PictureMethod, cls->name, m);
        if (cls->builtIn) continue;
        for (const MethodInfo& m : cls->methods) {
            addMethod(Entry::Kind::ClassMethod, cls->name, m);
            if (m.setter) out.push_back(Entry{Entry::Kind::Setter, cls->name, &m, {}, true, false});
        }
        for (const auto& p : cls->properties)
            out.push_back(Entry{Entry::Kind::Property, cls->name, nullptr, p.name, false, false});
    }
    for (const MethodInfo& m : host.globalMethods())
        addMethod(Entry::Kind::Global, {}, m);
    return out;
}

using qrxtest::sample;
using qrxtest::Samples;

// An instance of a plugin class with a fresh picture in each picture property, so that its methods
// get past their first checks.
Ref configuredInstance(Host& host, const std::string& className, Samples& s) {
    Ref obj = host.newInstance(className);
    if (!obj) return obj;
    for (const auto& p : host.findClass(className)->properties)
        if (p.type.kind == TypeKind::Picture)
            host.setProperty(obj, p.name, sample(host, p.type, s));
    return obj;
}

// Runs one entry. Everything made for it, and whatever it returned, is dropped before this returns.
void runEntry(Host& host, const Entry& e, Samples& s) {
    std::vector<Value> args;
    Ref self;
    switch (e.kind) {
    case Entry::Kind::PictureMethod:
        self = host.pictureFromImage(qrxtest::patternImage(kWidth, kHeight, e.alphaSelf, 7));
        break;
    case Entry::Kind::ClassMethod:
    case Entry::Kind::Setter:
    case Entry::Kind::Property:
        self = configuredInstance(host, e.className, s);
        break;
    case Entry::Kind::Global:
        break;
    }
    if (e.kind == Entry::Kind::Property) {
        const qrx::PropertyInfo* prop = nullptr;
        for (const auto& p : host.findClass(e.className)->properties)
            if (p.name == e.property) prop = &p;
        Value v = host.getProperty(self, e.property);
        if (prop->type.kind == TypeKind::Picture) v = sample(host, prop->type, s);
        host.setProperty(self, e.property, v);
        return;
    }
    const auto& params = e.method->decl.params;
    const size_t given = e.allGiven ? params.size() : e.method->decl.requiredCount();
    for (size_t i = 0; i < given; ++i) {
        const bool defaulted = i >= e.method->decl.requiredCount();
        if (defaulted && !isObject(params[i].type.kind))
            args.push_back(*params[i].defaultValue);
        else
            args.push_back(sample(host, params[i].type, s));
    }
    if (e.kind == Entry::Kind::Setter) {
        Value value = sample(host, *e.method->decl.result, s);
        host.assign(self, e.method->decl.name, std::move(args), std::move(value));
        return;
    }
    qrx::CallResult r = host.invoke(*e.method, self, std::move(args));
    (void)r;
}

// "RegisterPluginVersion" is the one name every host must offer: the entry point calls its answer
// without a check, so a host without it is not a host.
const std::set<std::string> kNeverWithheld = {"RegisterPluginVersion"};

// Names withheld only together with a partner: the plugin pairs each reference it takes through
// the first with a drop through the second, and each string-data record it gets with a disposal,
// choosing between the host's service and its own fallback for each name alone. With only the
// first missing, its drop or disposal would hit what it never took (the host refuses those, but
// by then the plugin has let go of a reference it still uses). A host offers both or neither.
// Without the second alone the plugin keeps references (counted below), and string-data blocks
// are handed over to be freed by the plugin.
const std::map<std::string, std::string> kWithheldTogether = {
    {"REALLockObject", "REALUnlockObject"},
    {"REALLockString", "REALUnlockString"},
    {"PluginGetStringData", "PluginDisposeStringData"},
};

// What the plugin cannot give back when the service that gives it back is missing: without
// "REALUnlockObject" or "REALUnlockString" the references it took stay, without
// "unlockPictureDescription" the locks stay, and without "REALGetClassData" a filter object's
// destructor cannot reach the pictures the host put in its fields.
// Those runs must still not crash or break a rule of the host; the one resource the missing
// service would have released is not counted against them.
enum Kept { kKeepsNothing = 0, kKeepsReferences = 1, kKeepsLocks = 2 };

// A host older than 2012.0 is sent an unlock after a failed description lock; without the lock
// service that unlock finds no lock, which such a host accepts.
bool unlockWithoutLockAccepted(const Host& host, const std::string& withheld) {
    return withheld == "REALLockPictureDescription" && host.config().version &&
           *host.config().version < 2012.0;
}

// Without "REALLockObject" the plugin cannot take the further reference it hands back with a
// picture it was given; the host notices and takes its own.
bool handedBackWithoutLockAccepted(const std::string& withheld, const std::string& violation) {
    return withheld == "REALLockObject" &&
           violation.find("without a reference of its own") != std::string::npos;
}

int keptWithout(const std::string& name) {
    if (name == "REALUnlockObject" || name == "REALUnlockString" || name == "REALGetClassData" ||
        name == "REALLockObject" || name == "REALLockString")
        return kKeepsReferences;
    if (name == "unlockPictureDescription") return kKeepsLocks;
    return kKeepsNothing;
}

struct Baseline {
    size_t liveObjects;
    long references;
    size_t violations;
};

Baseline baselineOf(const Host& host) {
    qrx::Audit a = host.audit();
    return {a.liveObjects, a.references, a.violations.size()};
}

// Runs every entry of the host's surface; faults are added to problems, prefixed with what was
// withheld. asked receives the keys of the entries during which `name` was asked for.
void sweep(Host& host, const std::string& withheld, Samples& s, std::vector<std::string>& problems,
           std::set<std::string>* asked) {
    Baseline base = baselineOf(host);
    for (const Entry& e : surface(host)) {
        const size_t before = withheld.empty() ? 0 : host.resolveCount(withheld);
        std::string where = e.key() + (withheld.empty() ? "" : " without " + withheld) + ": ";
        try {
            runEntry(host, e, s);
        } catch (const std::exception& ex) {
            problems.push_back(where + "the call could not be made: " + ex.what());
        }
        if (asked && host.resolveCount(withheld) > before) asked->insert(e.key());
        qrx::Audit a = host.audit();
        std::ostringstream fault;
        const int kept = keptWithout(withheld);
        if (!(kept & kKeepsReferences)) {
            if (a.liveObjects != base.liveObjects)
                fault << " objects " << base.liveObjects << " -> " << a.liveObjects << ";";
            if (a.references != base.references)
                fault << " references " << base.references << " -> " << a.references << ";";
        }
        if (a.descriptionLocks && !(kept & kKeepsLocks))
            fault << " " << a.descriptionLocks << " description locks held;";
        if (a.stringData) fault << " " << a.stringData << " string data not disposed;";
        for (size_t i = base.violations; i < a.violations.size(); ++i)
            if (!((kept & kKeepsLocks) &&
                  a.violations[i].find("description lock") != std::string::npos) &&
                !(unlockWithoutLockAccepted(host, withheld) &&
                  a.violations[i].find("no description lock held") != std::string::npos) &&
                !handedBackWithoutLockAccepted(withheld, a.violations[i]))
                fault << " violation: " << a.violations[i] << ";";
        if (!fault.str().empty()) problems.push_back(where + fault.str());
        base = baselineOf(host); // one fault is reported once, not by every later entry
    }
}

std::string listed(const std::vector<std::string>& items, size_t limit = 40) {
    std::string out;
    for (size_t i = 0; i < items.size() && i < limit; ++i)
        out += "\n  " + items[i];
    if (items.size() > limit)
        out += "\n  ... and " + std::to_string(items.size() - limit) + " more";
    return out;
}

class FaultSweep : public testing::TestWithParam<qrxtest::HostCase> {};

TEST_P(FaultSweep, EveryMethodSurvivesTheLossOfEveryServiceItAsksFor) {
    std::vector<std::string> problems;
    // Strings are bytes some method produced on a host with every service (so that a string
    // reader gets something it can parse), or a short text when no method returns a string.
    Samples samples;

    // With every service: the surface, the names asked for, and string samples.
    auto full = qrxtest::loadHost(GetParam().config);
    ASSERT_TRUE(full->registrationErrors().empty()) << listed(full->registrationErrors());
    std::set<std::string> surfaceKeys;
    for (const Entry& e : surface(*full))
        surfaceKeys.insert(e.key());
    for (const Entry& e : surface(*full)) {
        const MethodInfo* m = e.method;
        if (e.kind == Entry::Kind::Setter || !m || !m->decl.result ||
            m->decl.result->kind != TypeKind::String)
            continue;
        Samples plain;
        Ref self;
        if (e.kind == Entry::Kind::PictureMethod)
            self = full->pictureFromImage(qrxtest::patternImage(kWidth, kHeight, e.alphaSelf, 7));
        else if (e.kind == Entry::Kind::ClassMethod)
            self = configuredInstance(*full, e.className, plain);
        std::vector<Value> args;
        for (size_t i = 0; i < m->decl.requiredCount(); ++i)
            args.push_back(sample(*full, m->decl.params[i].type, plain));
        qrx::CallResult r = full->invoke(*m, self, std::move(args));
        if (auto* ref = std::get_if<Ref>(&r.result); ref && *ref) {
            if (auto* str = ref->as<qrx::String>()) {
                samples.stringBytes = str->text();
                samples.stringEncoding = str->encoding;
                break;
            }
        }
    }
    ASSERT_FALSE(surfaceKeys.empty());
    sweep(*full, "", samples, problems, nullptr);

    // Each name is withheld on a host of its own (the plugin keeps what it resolved). A name
    // first asked for only because another was missing joins the sweep too.
    std::vector<std::string> pending = full->resolvedNames();
    std::set<std::string> seen(pending.begin(), pending.end());
    std::map<std::string, std::set<std::string>> pairs; // name -> entries that asked for it
    std::set<std::string> askedAtLoad;
    while (!pending.empty()) {
        const std::string name = pending.back();
        pending.pop_back();
        if (kNeverWithheld.count(name)) continue;
        qrx::HostConfig config = GetParam().config;
        config.withheld.insert(name);
        if (auto partner = kWithheldTogether.find(name); partner != kWithheldTogether.end())
            config.withheld.insert(partner->second);
        std::unique_ptr<Host> host;
        try {
            host = qrxtest::loadHost(config);
        } catch (const std::exception& ex) {
            problems.push_back("loading without " + name + ": " + ex.what());
            continue;
        }
        if (host->resolveCount(name)) askedAtLoad.insert(name);
        sweep(*host, name, samples, problems, &pairs[name]);
        for (const std::string& n : host->resolvedNames())
            if (seen.insert(n).second) pending.push_back(n);
    }

    std::set<std::string> covered;
    size_t pairCount = 0;
    for (const auto& [name, entries] : pairs) {
        pairCount += entries.size();
        covered.insert(entries.begin(), entries.end());
    }
    std::vector<std::string> uncovered;
    for (const std::string& k : surfaceKeys)
        if (!covered.count(k)) uncovered.push_back(k);
    // Every entry goes through the host for its picture, instance or arguments.
    EXPECT_TRUE(uncovered.empty()) << "never asked for any service:" << listed(uncovered);
    EXPECT_GT(pairCount, surfaceKeys.size());
    EXPECT_TRUE(problems.empty()) << problems.size() << " faults" << listed(problems);
    RecordProperty("services", std::to_string(seen.size()));
    RecordProperty("pairs", std::to_string(pairCount));
}

// The desktop host of today, an older desktop host (strings read through their records, the
// copy path of readers) and a console host (pictures as true-colour records).
std::vector<qrxtest::HostCase> sweepHosts() {
    std::vector<qrxtest::HostCase> cases;
    cases.push_back({"desktop", {}});
    qrx::HostConfig older;
    older.version = 2011.0;
    older.bitmapLockFails = true;
    cases.push_back({"desktop_2011_copy_path", older});
    qrx::HostConfig console = qrxtest::ofKind(qrx::HostKind::Console);
    cases.push_back({"console", console});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Hosts, FaultSweep, testing::ValuesIn(sweepHosts()), qrxtest::caseName);

} // namespace
