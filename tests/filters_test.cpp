// The filter classes PictureLut3DQRX and PictureSepiaQRX beyond their colours (which
// ops_driver_test.cpp holds to their models): the table accessors, the default weights, what
// happens to DestinationPicture on success and failure, and the references and locks that
// creating, configuring, running, closing and destroying objects leave behind.
#include <gtest/gtest.h>

#include <memory>

#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Host;
using qrx::Nil;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;

// ---- driving objects ---------------------------------------------------------------------------

void assignTable(Host& host, const Ref& obj, uint32_t r, uint32_t g, uint32_t b, uint32_t x,
                 double value) {
    qrx::CallResult res = host.assign(obj, "Table", {r, g, b, x}, value);
    ASSERT_FALSE(res.exception);
}

double readTable(Host& host, const Ref& obj, uint32_t r, uint32_t g, uint32_t b, uint32_t x) {
    qrx::CallResult res = host.call(obj, "Table", {r, g, b, x});
    EXPECT_FALSE(res.exception);
    return std::get<double>(res.result);
}

void setRectangle(Host& host, const Ref& obj, int32_t minX, int32_t minY, int32_t maxX,
                  int32_t maxY) {
    host.setProperty(obj, "MinX", minX);
    host.setProperty(obj, "MinY", minY);
    host.setProperty(obj, "MaxX", maxX);
    host.setProperty(obj, "MaxY", maxY);
}

Ref destinationOf(Host& host, const Ref& obj) {
    Value v = host.getProperty(obj, "DestinationPicture");
    return std::holds_alternative<Ref>(v) ? std::get<Ref>(v) : Ref();
}

bool hasDestination(Host& host, const Ref& obj) {
    return bool(destinationOf(host, obj));
}

// Runs the filter and checks the bookkeeping: the object gives up its previous
// DestinationPicture and holds exactly one reference to the new one, nothing else changes, no
// description lock is held and the host saw no fault. The previous result is kept alive here
// during the call, so that its release shows as a reference count.
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
    EXPECT_EQ(b.references, a.references + (now ? 1 : 0) - (previous ? 1 : 0))
        << "references leaked by Run";
    if (replaced) {
        EXPECT_EQ(now->refCount(), 2) << "the object holds one reference to its result";
    }
    if (previous) {
        // Not counting the reference just taken through now.
        const int refsAfter = previous->refCount() - (previous == now ? 1 : 0);
        EXPECT_EQ(refsAfter, previousRefs - (previous == now ? 0 : 1))
            << "a replaced result is released once, a kept one keeps its references";
    }
    qrxtest::expectQuiet(host);
    return std::get<bool>(res.result);
}

// Calls "Close" and checks that exactly the references to the two pictures are released.
void closeAudited(Host& host, const Ref& obj) {
    Value source = host.getProperty(obj, "SourcePicture");
    const bool held = std::holds_alternative<Ref>(source);
    const bool heldResult = hasDestination(host, obj);
    const qrx::Audit a = host.audit();
    qrx::CallResult res = host.call(obj, "Close", {});
    const qrx::Audit b = host.audit();
    EXPECT_FALSE(res.exception);
    EXPECT_EQ(b.references, a.references - long(held) - long(heldResult));
    EXPECT_TRUE(std::holds_alternative<Nil>(host.getProperty(obj, "SourcePicture")));
    EXPECT_FALSE(hasDestination(host, obj));
    qrxtest::expectQuiet(host);
}

enum class FilterKind { Lut3D, Sepia };

const char* className(FilterKind k) {
    return k == FilterKind::Lut3D ? "PictureLut3DQRX" : "PictureSepiaQRX";
}

// A host with one new object of a filter class.
template <const char* ClassName> class FilterObject : public testing::Test {
  protected:
    void SetUp() override {
        host = qrxtest::loadHost();
        obj = host->newInstance(ClassName);
    }
    std::unique_ptr<Host> host;
    Ref obj;
};

constexpr char kLut3DClass[] = "PictureLut3DQRX";
constexpr char kSepiaClass[] = "PictureSepiaQRX";
using Lut3D = FilterObject<kLut3DClass>;

struct IndexCase {
    uint32_t r, g, b, x;
    bool inRange;
};

TEST_F(Lut3D, TableIndicesOutOfRangeReadZeroAndIgnoreAssignments) {
    const IndexCase cases[] = {
        {0, 0, 0, 0, true},           {17, 17, 17, 2, true},
        {3, 16, 9, 1, true},          {18, 0, 0, 0, false},
        {0, 18, 0, 0, false},         {0, 0, 18, 0, false},
        {0, 0, 0, 3, false},          {0xFFFFFFFF, 0, 0, 0, false},
        {0, 0, 0, 0x80000000, false}, {17, 17, 17, 0xFFFFFFFF, false},
    };
    for (const IndexCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.r << "," << c.g << "," << c.b << "," << c.x);
        assignTable(*host, obj, c.r, c.g, c.b, c.x, 42.5);
        EXPECT_EQ(readTable(*host, obj, c.r, c.g, c.b, c.x), c.inRange ? 42.5 : 0.0);
    }
    // The assignments at (0, 0, 0, 3) and (18, 0, 0, 0) did not spill into neighbours.
    EXPECT_EQ(readTable(*host, obj, 0, 0, 0, 1), 0.0);
    EXPECT_EQ(readTable(*host, obj, 0, 0, 0, 2), 0.0);
    EXPECT_EQ(readTable(*host, obj, 0, 0, 1, 0), 0.0);
    EXPECT_EQ(readTable(*host, obj, 17, 17, 17, 1), 0.0);
    // Assigning an integer is a double assignment; reading back gives the same value.
    qrx::CallResult res = host->assign(
        obj, "Table", {uint32_t(1), uint32_t(2), uint32_t(3), uint32_t(0)}, int32_t(-7));
    EXPECT_FALSE(res.exception);
    EXPECT_EQ(readTable(*host, obj, 1, 2, 3, 0), -7.0);
}

using Sepia = FilterObject<kSepiaClass>;

TEST_F(Sepia, NewObjectHasTheDefaultWeightsAndNothingElse) {
    EXPECT_EQ(std::get<double>(host->getProperty(obj, "FactorRed")), 0.299);
    EXPECT_EQ(std::get<double>(host->getProperty(obj, "FactorGreen")), 0.587);
    EXPECT_EQ(std::get<double>(host->getProperty(obj, "FactorBlue")), 0.114);
    for (const char* name : {"MinX", "MinY", "MaxX", "MaxY", "SepiaRed", "SepiaGreen", "SepiaBlue"})
        EXPECT_EQ(std::get<int32_t>(host->getProperty(obj, name)), 0) << name;
    EXPECT_TRUE(std::holds_alternative<Nil>(host->getProperty(obj, "SourcePicture")));
    EXPECT_FALSE(hasDestination(*host, obj));
}

// ---- class lifecycle ---------------------------------------------------------------------------

class FilterLifecycle : public testing::TestWithParam<FilterKind> {};

TEST_P(FilterLifecycle, ReferencesFollowAssignmentsRunsCloseAndDestruction) {
    auto host = qrxtest::loadHost();
    const qrx::Audit base = host->audit();
    {
        Ref a = host->newPicture(8, 6, false);
        Ref b = host->newPicture(8, 6, false);
        Ref obj = host->newInstance(className(GetParam()));
        const int refsA = a->refCount(), refsB = b->refCount();

        host->setProperty(obj, "SourcePicture", a);
        EXPECT_EQ(a->refCount(), refsA + 1);
        host->setProperty(obj, "SourcePicture", b);
        EXPECT_EQ(a->refCount(), refsA) << "the replaced picture is released";
        EXPECT_EQ(b->refCount(), refsB + 1);
        host->setProperty(obj, "DestinationPicture", a);
        EXPECT_EQ(a->refCount(), refsA + 1);

        // Run replaces the assigned destination with its own result.
        EXPECT_TRUE(runAudited(*host, obj));
        EXPECT_EQ(a->refCount(), refsA);
        Ref result = destinationOf(*host, obj);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->refCount(), 2) << "one for the object, one for this test";

        // A second run replaces the result and drops the first one.
        EXPECT_TRUE(runAudited(*host, obj));
        EXPECT_EQ(result->refCount(), 1);

        // Close releases both pictures; a second Close is harmless.
        for (int i = 0; i < 2; ++i)
            closeAudited(*host, obj);
        EXPECT_EQ(b->refCount(), refsB);
        EXPECT_TRUE(std::holds_alternative<Nil>(host->getProperty(obj, "SourcePicture")));
        EXPECT_FALSE(hasDestination(*host, obj));
        EXPECT_FALSE(runAudited(*host, obj)) << "no source after Close";

        // The object can be given a source again after Close.
        host->setProperty(obj, "SourcePicture", a);
        EXPECT_TRUE(runAudited(*host, obj));
        EXPECT_TRUE(hasDestination(*host, obj));

        // Destroying the object releases what it holds.
        obj.reset();
        EXPECT_EQ(a->refCount(), refsA);
        qrxtest::expectQuiet(*host);
    }
    const qrx::Audit end = host->audit();
    EXPECT_EQ(end.liveObjects, base.liveObjects);
    EXPECT_EQ(end.references, base.references);
    qrxtest::expectQuiet(*host);
}

// Close keeps the settings: the rectangle, the table and the weights survive it.
TEST_P(FilterLifecycle, CloseKeepsSettings) {
    auto host = qrxtest::loadHost();
    Ref obj = host->newInstance(className(GetParam()));
    setRectangle(*host, obj, 1, 2, 3, 4);
    if (GetParam() == FilterKind::Lut3D) {
        assignTable(*host, obj, 5, 6, 7, 1, 12.25);
    } else {
        host->setProperty(obj, "FactorGreen", 0.75);
        host->setProperty(obj, "SepiaBlue", -9);
    }
    closeAudited(*host, obj);
    EXPECT_EQ(std::get<int32_t>(host->getProperty(obj, "MinX")), 1);
    EXPECT_EQ(std::get<int32_t>(host->getProperty(obj, "MinY")), 2);
    EXPECT_EQ(std::get<int32_t>(host->getProperty(obj, "MaxX")), 3);
    EXPECT_EQ(std::get<int32_t>(host->getProperty(obj, "MaxY")), 4);
    if (GetParam() == FilterKind::Lut3D) {
        EXPECT_EQ(readTable(*host, obj, 5, 6, 7, 1), 12.25);
    } else {
        EXPECT_EQ(std::get<double>(host->getProperty(obj, "FactorGreen")), 0.75);
        EXPECT_EQ(std::get<int32_t>(host->getProperty(obj, "SepiaBlue")), -9);
    }
}

// What a failed Run leaves in DestinationPicture after a successful one: the lookup table
// drops its previous result, the sepia filter keeps it. A source 32768 wide can be read but no
// writer can be made for it.
TEST_P(FilterLifecycle, AFailedRunAfterASuccessfulOne) {
    auto host = qrxtest::loadHost();
    Ref obj = host->newInstance(className(GetParam()));
    const bool keeps = GetParam() == FilterKind::Sepia;
    for (bool nilSource : {true, false}) {
        SCOPED_TRACE(nilSource ? "no source" : "no writer");
        host->setProperty(obj, "SourcePicture",
                          host->pictureFromImage(qrxtest::patternImage(3, 1, false)));
        ASSERT_TRUE(runAudited(*host, obj));
        const Ref first = destinationOf(*host, obj);
        ASSERT_TRUE(first);
        if (nilSource)
            host->setProperty(obj, "SourcePicture", Nil{});
        else
            host->setProperty(obj, "SourcePicture", host->newPicture(32768, 1, false));
        EXPECT_FALSE(runAudited(*host, obj));
        EXPECT_EQ(destinationOf(*host, obj), keeps ? first : Ref());
    }
}

// An alpha source needs an alpha writer for the lookup table, which hosts before 2011.04 cannot
// make; the sepia result is a plain picture on every host.
TEST_P(FilterLifecycle, AlphaSourceOnOlderHosts) {
    const bool lut = GetParam() == FilterKind::Lut3D;
    for (double version : {2011.03, 2011.04}) {
        qrx::HostConfig config;
        config.version = version;
        auto host = qrxtest::loadHost(config);
        Ref obj = host->newInstance(className(GetParam()));
        Ref pic = host->pictureFromImage(qrxtest::patternImage(6, 4, true));
        host->setProperty(obj, "SourcePicture", pic);
        const bool works = !lut || version >= 2011.04;
        EXPECT_EQ(runAudited(*host, obj), works) << version;
        Ref dest = destinationOf(*host, obj);
        EXPECT_EQ(bool(dest), works) << version;
        if (dest) {
            EXPECT_EQ(dest.as<Picture>()->hasAlpha(), lut);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothClasses, FilterLifecycle,
                         testing::Values(FilterKind::Lut3D, FilterKind::Sepia),
                         [](const auto& info) {
                             return std::string(info.param == FilterKind::Lut3D ? "Lut3D"
                                                                                : "Sepia");
                         });

} // namespace
