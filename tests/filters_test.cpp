// The filter classes PictureLut3DQRX and PictureSepiaQRX beyond their colours (which
// ops_driver_test.cpp holds to their models): the table accessors, the default weights, what
// happens to DestinationPicture on success and failure, and the references and locks that
// creating, configuring, running, closing and destroying objects leave behind.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Host;
using qrx::Nil;
using qrx::Ref;
using qrx::Value;

Value table(Host& host, const Ref& obj, std::vector<Value> at) {
    qrx::CallResult res = host.call(obj, "Table", std::move(at));
    EXPECT_FALSE(res.exception);
    return res.result;
}

Ref destinationOf(Host& host, const Ref& obj) {
    Value v = host.getProperty(obj, "DestinationPicture");
    return std::holds_alternative<Ref>(v) ? std::get<Ref>(v) : Ref();
}

// Runs the filter and checks the bookkeeping: the object gives up its previous result and holds
// exactly one reference to the new one, no other object or reference appears, no description
// lock is held and the host saw no fault. The previous result is kept alive here during the call,
// so that its release shows as a reference count.
bool runAudited(Host& host, const Ref& obj) {
    const Ref previous = destinationOf(host, obj);
    const int previousRefs = previous ? previous->refCount() : 0;
    const qrx::Audit a = host.audit();
    qrx::CallResult res = host.call(obj, "Run", {});
    const qrx::Audit b = host.audit();
    EXPECT_FALSE(res.exception);
    const Ref now = destinationOf(host, obj);
    const bool replaced = now && now != previous;
    EXPECT_EQ(b.liveObjects, a.liveObjects + (replaced ? 1 : 0)) << "objects leaked by Run";
    EXPECT_EQ(b.references, a.references + (now ? 1 : 0) - (previous ? 1 : 0));
    if (replaced) {
        EXPECT_EQ(now->refCount(), 2) << "the object holds one reference to its result";
    }
    if (previous && previous != now) {
        EXPECT_EQ(previous->refCount(), previousRefs - 1);
    }
    qrxtest::expectQuiet(host);
    return std::get<bool>(res.result);
}

// Close releases exactly the two pictures and keeps every setting.
void closeAudited(Host& host, const Ref& obj) {
    const long held = long(std::holds_alternative<Ref>(host.getProperty(obj, "SourcePicture"))) +
                      long(bool(destinationOf(host, obj)));
    const qrx::Audit a = host.audit();
    EXPECT_FALSE(host.call(obj, "Close", {}).exception);
    EXPECT_EQ(host.audit().references, a.references - held);
    EXPECT_EQ(host.getProperty(obj, "SourcePicture"), Value(Nil{}));
    EXPECT_FALSE(destinationOf(host, obj));
    qrxtest::expectQuiet(host);
}

// Table entries in range read back what was assigned; out of range they read 0 and an assignment
// changes nothing (not a neighbour either); an integer is assigned as a double. A new sepia object
// has the default weights and nothing else.
TEST(FilterObjects, TableAccessorsAndSepiaDefaults) {
    auto host = qrxtest::loadHost();
    Ref lut = host->newInstance("PictureLut3DQRX");
    const std::tuple<std::vector<Value>, Value, Value> cases[] = {
        {{17u, 17u, 17u, 2u}, 42.5, 42.5},      {{3u, 16u, 9u, 1u}, int32_t(-7), -7.0},
        {{18u, 0u, 0u, 0u}, 42.5, 0.0},         {{0u, 18u, 0u, 0u}, 42.5, 0.0},
        {{0u, 0u, 18u, 0u}, 42.5, 0.0},         {{0u, 0u, 0u, 3u}, 42.5, 0.0},
        {{0xFFFFFFFFu, 0u, 0u, 0u}, 42.5, 0.0}, {{17u, 17u, 17u, 0xFFFFFFFFu}, 1.0, 0.0}};
    for (const auto& [at, value, reads] : cases) {
        EXPECT_FALSE(host->assign(lut, "Table", at, value).exception);
        EXPECT_EQ(table(*host, lut, at), reads) << qrx::describe(at[0]) << qrx::describe(at[3]);
    }
    for (std::vector<Value> at :
         {std::vector<Value>{0u, 0u, 0u, 0u}, {0u, 0u, 0u, 1u}, {1u, 0u, 0u, 0u}})
        EXPECT_EQ(table(*host, lut, at), Value(0.0)) << "an assignment out of range spilled";
    Ref sepia = host->newInstance("PictureSepiaQRX");
    const std::pair<const char*, Value> defaults[] = {{"FactorRed", 0.299},
                                                      {"FactorGreen", 0.587},
                                                      {"FactorBlue", 0.114},
                                                      {"MinX", 0},
                                                      {"MaxY", 0},
                                                      {"SepiaRed", 0},
                                                      {"SepiaBlue", 0},
                                                      {"SourcePicture", Nil{}},
                                                      {"DestinationPicture", Nil{}}};
    for (const auto& [name, value] : defaults)
        EXPECT_EQ(host->getProperty(sepia, name), value) << name;
}

class FilterLifecycle : public testing::TestWithParam<const char*> {};

TEST_P(FilterLifecycle, ReferencesFollowAssignmentsRunsCloseAndDestruction) {
    auto host = qrxtest::loadHost();
    const qrx::Audit base = host->audit();
    const bool lut = std::string(GetParam()) == "PictureLut3DQRX";
    {
        Ref a = host->newPicture(8, 6, false), b = host->newPicture(8, 6, false);
        Ref obj = host->newInstance(GetParam());
        const int refsA = a->refCount(), refsB = b->refCount();
        host->setProperty(obj, "SourcePicture", a);
        EXPECT_EQ(a->refCount(), refsA + 1);
        host->setProperty(obj, "SourcePicture", b);
        EXPECT_EQ(a->refCount(), refsA) << "the replaced picture is released";
        EXPECT_EQ(b->refCount(), refsB + 1);
        host->setProperty(obj, "DestinationPicture", a);
        EXPECT_EQ(a->refCount(), refsA + 1);

        // Run replaces the assigned destination with its own result, and a second run the first
        // result.
        EXPECT_TRUE(runAudited(*host, obj));
        EXPECT_EQ(a->refCount(), refsA);
        Ref result = destinationOf(*host, obj);
        EXPECT_TRUE(runAudited(*host, obj));
        EXPECT_EQ(result->refCount(), 1);

        // Close releases both pictures, keeps the settings, and may be repeated.
        for (const char* name : {"MinX", "MinY", "MaxX", "MaxY"})
            host->setProperty(obj, name, int32_t(name[1] + name[3]));
        if (lut)
            host->assign(obj, "Table", {5u, 6u, 7u, 1u}, 12.25);
        else
            host->setProperty(obj, "SepiaBlue", int32_t(-9));
        closeAudited(*host, obj);
        closeAudited(*host, obj);
        EXPECT_EQ(b->refCount(), refsB);
        for (const char* name : {"MinX", "MinY", "MaxX", "MaxY"})
            EXPECT_EQ(host->getProperty(obj, name), Value(int32_t(name[1] + name[3])));
        EXPECT_EQ(lut ? table(*host, obj, {5u, 6u, 7u, 1u}) : host->getProperty(obj, "SepiaBlue"),
                  lut ? Value(12.25) : Value(int32_t(-9)));
        EXPECT_FALSE(runAudited(*host, obj)) << "no source after Close";

        // After Close the object takes a source again; destroying it releases what it holds.
        host->setProperty(obj, "SourcePicture", a);
        EXPECT_TRUE(runAudited(*host, obj));
        obj.reset();
        EXPECT_EQ(a->refCount(), refsA);
    }
    EXPECT_EQ(host->audit().liveObjects, base.liveObjects);
    EXPECT_EQ(host->audit().references, base.references);
    qrxtest::expectQuiet(*host);
}

// What a failed Run leaves in DestinationPicture after a successful one: the lookup table drops
// its previous result, the sepia filter keeps it. A source 32768 wide can be read but no writer
// can be made for it.
TEST_P(FilterLifecycle, AFailedRunAfterASuccessfulOne) {
    auto host = qrxtest::loadHost();
    Ref obj = host->newInstance(GetParam());
    const bool keeps = std::string(GetParam()) == "PictureSepiaQRX";
    for (Value bad : {Value(Nil{}), Value(host->newPicture(32768, 1, false))}) {
        host->setProperty(obj, "SourcePicture",
                          host->pictureFromImage(qrxtest::patternImage(3, 1, false)));
        ASSERT_TRUE(runAudited(*host, obj));
        const Ref first = destinationOf(*host, obj);
        host->setProperty(obj, "SourcePicture", bad);
        EXPECT_FALSE(runAudited(*host, obj));
        EXPECT_EQ(destinationOf(*host, obj), keeps ? first : Ref());
    }
}

INSTANTIATE_TEST_SUITE_P(BothClasses, FilterLifecycle,
                         testing::Values("PictureLut3DQRX", "PictureSepiaQRX"),
                         [](const auto& info) { return std::string(info.param).substr(7, 5); });

} // namespace
