// The plugin's own building blocks, linked statically and driven without a host runtime: pixel
// layouts, row movement of editors, rectangle clipping, console flag translation and the lazy
// binding of host services.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bitmap_context.h"
#include "host/entry.h"
#include "host/helpers.h"
#include "host/services.h"
#include "ops/invert.h"
#include "pixels/editor.h"

namespace {

uint32_t WordFromBytes(const std::array<uint8_t, 4>& bytes) {
    uint32_t w;
    std::memcpy(&w, bytes.data(), 4);
    return w;
}

std::array<uint8_t, 4> BytesOfWord(uint32_t w) {
    std::array<uint8_t, 4> bytes;
    std::memcpy(bytes.data(), &w, 4);
    return bytes;
}

// ---------------------------------------------------------------------------------------------
// Pixel layouts

struct LayoutCase {
    int32_t type;
    // Memory bytes b0..b3 of the stored pixel 0x11 0x22 0x33 0x44, read as this layout.
    int red, green, blue, alpha;
    // Memory bytes of the opaque pixel (red 0xA1, green 0xB2, blue 0xC3) in this layout.
    std::array<uint8_t, 4> encoded;
};

const LayoutCase kLayouts[] = {
    {1, 0x11, 0x22, 0x33, 0x44, {0xA1, 0xB2, 0xC3, 0xFF}},
    {3, 0x11, 0x22, 0x33, 0x44, {0xA1, 0xB2, 0xC3, 0xFF}},
    {5, 0x11, 0x22, 0x33, 0x44, {0xA1, 0xB2, 0xC3, 0xFF}},
    {2, 0x22, 0x33, 0x44, 0x11, {0xFF, 0xA1, 0xB2, 0xC3}},
    {4, 0x22, 0x33, 0x44, 0x11, {0xFF, 0xA1, 0xB2, 0xC3}},
    {6, 0x22, 0x33, 0x44, 0x11, {0xFF, 0xA1, 0xB2, 0xC3}},
    // Type 8: alpha 0x44 is the 7-bit 0x44, widened to 0x88 | 0.
    {8, 0x33, 0x22, 0x11, 0x88, {0xC3, 0xB2, 0xA1, 0x00}},
};

class PixelLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(PixelLayout, DecodesTheBitFieldsOfTheLayout) {
    const LayoutCase& c = GetParam();
    const auto type = static_cast<RBPixelType>(c.type);
    int r = -1, g = -1, b = -1, a = -1;
    EXPECT_TRUE(DecodePixel(type, WordFromBytes({0x11, 0x22, 0x33, 0x44}), r, g, b, &a));
    EXPECT_EQ(r, c.red);
    EXPECT_EQ(g, c.green);
    EXPECT_EQ(b, c.blue);
    EXPECT_EQ(a, c.alpha);
}

TEST_P(PixelLayout, EncodesOpaquePixelsInTheLayoutsByteOrder) {
    const LayoutCase& c = GetParam();
    const auto type = static_cast<RBPixelType>(c.type);
    uint32_t w = 0xDEADBEEF;
    ASSERT_TRUE(EncodePixel(type, 0xA1, 0xB2, 0xC3, w));
    EXPECT_EQ(BytesOfWord(w), c.encoded);
}

TEST_P(PixelLayout, EveryColourSurvivesEncodeThenDecode) {
    const auto type = static_cast<RBPixelType>(GetParam().type);
    for (int v = 0; v < 256; ++v) {
        const int r = v, g = (v * 7 + 3) & 0xFF, b = 255 - v;
        uint32_t w = 0;
        ASSERT_TRUE(EncodePixel(type, r, g, b, w));
        int dr, dg, db, da;
        ASSERT_TRUE(DecodePixel(type, w, dr, dg, db, &da));
        EXPECT_EQ(dr, r);
        EXPECT_EQ(dg, g);
        EXPECT_EQ(db, b);
        // Written pixels are opaque: 255, or the record's top byte 0 (alpha 0 when read back).
        EXPECT_EQ(da, type == kRBPixelTrueColor ? 0 : 255);
    }
}

TEST_P(PixelLayout, WalkingFormsStepOnePixel) {
    const auto type = static_cast<RBPixelType>(GetParam().type);
    uint32_t row[2] = {0, 0};
    uint32_t* dst = row;
    EncodePixel(type, dst, 10, 20, 30);
    EXPECT_EQ(dst, row + 1);
    const uint32_t* src = row;
    int r, g, b;
    DecodePixel(type, src, r, g, b);
    EXPECT_EQ(src, row + 1);
    EXPECT_EQ((std::array{r, g, b}), (std::array{10, 20, 30}));
}

INSTANTIATE_TEST_SUITE_P(AllTypes, PixelLayout, testing::ValuesIn(kLayouts),
                         [](const auto& info) { return "type" + std::to_string(info.param.type); });

TEST(PixelLayoutGroups, MembershipOfEveryCode) {
    for (int32_t code = -2; code <= 100; ++code) {
        const auto type = static_cast<RBPixelType>(code);
        const bool last = code == 1 || code == 3 || code == 5;
        const bool first = code == 2 || code == 4 || code == 6;
        EXPECT_EQ(IsAlphaLastLayout(type), last) << code;
        EXPECT_EQ(IsAlphaFirstLayout(type), first) << code;
        EXPECT_EQ(IsTrueColorLayout(type), code == 8) << code;
    }
}

TEST(PixelLayoutTrueColor, SevenBitAlphaIsWidenedToEightBits) {
    struct {
        uint8_t top;
        int alpha;
    } const cases[] = {{0x00, 0},    {0x01, 3},    {0x02, 4}, {0x40, 0x80}, {0x41, 0x83},
                       {0x7E, 0xFC}, {0x7F, 0xFF}, {0x80, 0}, {0xFF, 0xFF}};
    for (const auto& c : cases) {
        int r, g, b, a = -1;
        ASSERT_TRUE(DecodePixel(kRBPixelTrueColor, WordFromBytes({1, 2, 3, c.top}), r, g, b, &a));
        EXPECT_EQ(a, c.alpha) << int(c.top);
        EXPECT_EQ((std::array{r, g, b}), (std::array{3, 2, 1}));
    }
}

TEST(PixelLayoutUnknown, CodesOutsideTheLayoutsReadBlackAndWriteNothing) {
    for (int32_t code : {0, 7, 9, 10, 16, 42, 84, 255, -1, INT32_MIN}) {
        SCOPED_TRACE(code);
        const auto type = static_cast<RBPixelType>(code);
        uint32_t row[2] = {0x11223344, 0x55667788};
        int r = 9, g = 9, b = 9, a = 9;
        EXPECT_FALSE(DecodePixel(type, row[0], r, g, b, &a));
        EXPECT_EQ((std::array{r, g, b}), (std::array{0, 0, 0}));

        const uint32_t* src = row;
        DecodePixel(type, src, r, g, b);
        EXPECT_EQ(src, row) << "an unknown pixel is not consumed";

        uint32_t* dst = row;
        EncodePixel(type, dst, 1, 2, 3);
        EXPECT_EQ(dst, row);
        EXPECT_EQ(row[0], 0x11223344u) << "nothing is stored";
        uint32_t w = 0xCAFEF00D;
        EXPECT_FALSE(EncodePixel(type, 1, 2, 3, w));
        EXPECT_EQ(w, 0xCAFEF00Du);
    }
}

// ---------------------------------------------------------------------------------------------
// Row movement of editors (set up by hand over local pixels; no host is involved)

struct RowCase {
    RBPixelType type;
    int32_t bytesPerRow; // for flat layouts
};

class EditorRows : public testing::TestWithParam<RowCase> {};

TEST_P(EditorRows, RowsAdvanceAndWrapToRowZero) {
    constexpr int kW = 3, kH = 4;
    const RowCase c = GetParam();
    // Flat storage with padded rows, and separately allocated rows for the record layout.
    std::vector<uint32_t> flat(static_cast<size_t>(c.bytesPerRow / 4) * kH);
    std::array<std::vector<uint32_t>, kH> rows;
    std::array<uint32_t*, kH> table{};
    for (int y = 0; y < kH; ++y) {
        rows[y].resize(kW);
        table[y] = rows[y].data();
    }
    auto expectedRow = [&](int y) -> uint32_t* {
        return c.type == kRBPixelTrueColor ? table[y] : flat.data() + y * (c.bytesPerRow / 4);
    };

    PictureEditor e;
    e.width = kW;
    e.height = kH;
    e.pixelType = c.type;
    e.bytesPerRow = c.type == kRBPixelTrueColor ? kW * 4 : c.bytesPerRow;
    e.rowTable = table.data();
    e.baseAddress = expectedRow(0);
    e.rowPointer = e.baseAddress;

    for (int y = 1; y < kH; ++y) {
        e.AddPixelRow();
        EXPECT_EQ(e.rowIndex, y);
        EXPECT_EQ(e.rowPointer, expectedRow(y));
    }
    e.AddPixelRow();
    EXPECT_EQ(e.rowPointer, expectedRow(0)) << "one row past the last is row 0";

    e.rowPointer = expectedRow(1);
    for (int y = 0; y < kH; ++y)
        EXPECT_EQ(e.GetRow(y), expectedRow(y));
    EXPECT_EQ(e.GetRow(kH), expectedRow(0));
    EXPECT_EQ(e.GetRow(kH + 5), expectedRow(0));
    EXPECT_EQ(e.rowIndex, kH + 5);
    EXPECT_EQ(e.rowPointer, expectedRow(1)) << "GetRow leaves rowPointer alone";
}

INSTANTIATE_TEST_SUITE_P(Layouts, EditorRows,
                         testing::Values(RowCase{kRBPixelAlphaLast, 12},
                                         RowCase{kRBPixelSkipFirst, 32},
                                         RowCase{kRBPixelTrueColor, 0}),
                         [](const auto& info) { return "type" + std::to_string(info.param.type); });

TEST(Editor, FreshEditorHoldsNothingAndRendersNull) {
    PictureWriter w;
    EXPECT_EQ(w.picture, nullptr);
    EXPECT_EQ(w.width, 0);
    EXPECT_EQ(w.rowPointer, nullptr);
    EXPECT_FALSE(w.descriptionLocked);
    EXPECT_EQ(w.RenderPictureWriter(), nullptr);
    w.clear();
    w.clear();
    EXPECT_EQ(w.picture, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Rectangle clipping

struct RectCase {
    OmittedWhen omitted;
    int32_t left, top, width, height;
    PixelSpan expected;
};

constexpr int32_t kPicW = 100, kPicH = 40;

const RectCase kRects[] = {
    {OmittedWhen::BelowOne, 0, 0, -1, -1, {0, 0, 100, 40}},
    {OmittedWhen::BelowOne, 0, 0, 0, 0, {0, 0, 100, 40}},
    {OmittedWhen::BelowOne, -10, 0, 20, 1, {0, 0, 10, 1}},
    {OmittedWhen::BelowOne, -10, 0, 0, 1, {0, 0, 90, 1}},
    {OmittedWhen::BelowOne, 10, 0, 0, 1, {10, 0, 100, 1}},
    {OmittedWhen::BelowOne, 5, 5, 10, 10, {5, 5, 15, 15}},
    {OmittedWhen::BelowOne, 100, 0, 5, 5, {100, 0, 100, 5}},
    {OmittedWhen::Negative, 0, 0, 0, 0, {0, 0, 0, 0}},
    {OmittedWhen::Negative, 0, 0, -1, -1, {0, 0, 100, 40}},
    {OmittedWhen::Negative, -10, -5, -1, -7, {0, 0, 90, 35}},
    {OmittedWhen::Negative, 3, 4, 0, 9, {3, 4, 3, 13}},
    // Sums wrap as 32-bit host integers do.
    {OmittedWhen::BelowOne, 2147483647, 0, 1, 1, {2147483647, 0, INT32_MIN, 1}},
};

class Rectangles : public testing::TestWithParam<RectCase> {};

TEST_P(Rectangles, ClipToThePicture) {
    const RectCase& c = GetParam();
    const PixelSpan s = ResolveRectangle(c.left, c.top, c.width, c.height, kPicW, kPicH, c.omitted);
    EXPECT_EQ((std::array{s.x0, s.y0, s.x1, s.y1}),
              (std::array{c.expected.x0, c.expected.y0, c.expected.x1, c.expected.y1}));
}

INSTANTIATE_TEST_SUITE_P(Cases, Rectangles, testing::ValuesIn(kRects),
                         [](const auto& info) { return "rect" + std::to_string(info.index); });

// ---------------------------------------------------------------------------------------------
// Console flags

struct FlagCase {
    uint32_t flags;
    double version;
    uint32_t expected;
};

const FlagCase kFlagCases[] = {
    {0x40000, 2010.029, 4},
    {0x40000, 2010.028, 0},
    {0x40000, 0.0, 0},
    {0x80000, 2019.1, 8},
    {0xC0000, 2019.1, 12},
    {0xC0000, 2000.0, 0},
    {0x100000, 2019.1, 0},
    {4, 0.0, 4},
    {4 | 0x40000, 2019.1, 4},
    {0x1C0003, 2019.1, 15},
    {0x1C0003, 1.0, 3},
    {0x200000 | 0x40000, 2019.1, 0x200004},
    {0xFFFFFFFF, 2019.1, 0xFFE3FFFF},
};

class ConsoleFlagTranslation : public testing::TestWithParam<FlagCase> {};

TEST_P(ConsoleFlagTranslation, MarkersBecomeHostBitsOnNewHostsAndVanishOnAll) {
    const FlagCase& c = GetParam();
    EXPECT_EQ(TranslateConsoleFlags(c.flags, c.version), c.expected);
    // A second pass changes nothing.
    EXPECT_EQ(TranslateConsoleFlags(c.expected, c.version), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConsoleFlagTranslation, testing::ValuesIn(kFlagCases),
                         [](const auto& info) { return "flags" + std::to_string(info.index); });

// A fresh plugin state around every test that touches process-wide state.
class PluginState : public testing::Test {
  protected:
    void SetUp() override { ResetPluginState(); }
    void TearDown() override { ResetPluginState(); }
};

using FixConsoleFlagsTest = PluginState;

TEST_F(FixConsoleFlagsTest, ClassRecordCoversEveryListAndSkipsMissingOnes) {
    for (double version : {2010.029, 2010.0}) {
        SCOPED_TRACE(version);
        gHostVersion = version;
        const uint32_t on = version >= 2010.029 ? 4u : 0u;
        REALproperty props[2] = {{nullptr, "A", "Integer", 0x40000, nullptr, nullptr, 0, {}},
                                 {nullptr, "B", "Integer", 0x80000, nullptr, nullptr, 4, {}}};
        REALproperty moreProps[1] = {{nullptr, "C", "Double", 0x40001, nullptr, nullptr, 8, {}}};
        REALmethodDefinition methods[2] = {{nullptr, nullptr, "M", 0x40000},
                                           {nullptr, nullptr, "N", 0x100000}};
        REALmethodDefinition moreMethods[1] = {{nullptr, nullptr, "O", 0xC0000}};
        // An entry past the stated count must stay as it is.
        REALmethodDefinition beyond[2] = {{nullptr, nullptr, "P", 0x40000},
                                          {nullptr, nullptr, "Q", 0x40000}};
        REALclassDefinition cls{};
        cls.flags = 0x40000 | 4;
        cls.properties = props;
        cls.propertyCount = 2;
        cls.moreProperties = moreProps;
        cls.morePropertyCount = 1;
        cls.methods = methods;
        cls.methodCount = 2;
        cls.moreMethods = moreMethods;
        cls.moreMethodCount = 1;
        FixConsoleFlags(&cls);
        EXPECT_EQ(cls.flags, 4u);
        EXPECT_EQ(props[0].flags, on);
        EXPECT_EQ(props[1].flags, on ? 8u : 0u);
        EXPECT_EQ(moreProps[0].flags, 1u | on);
        EXPECT_EQ(methods[0].flags, on);
        EXPECT_EQ(methods[1].flags, 0u);
        EXPECT_EQ(moreMethods[0].flags, on ? 12u : 0u);

        FixConsoleFlags(beyond, 1);
        EXPECT_EQ(beyond[0].flags, on);
        EXPECT_EQ(beyond[1].flags, 0x40000u);
        FixConsoleFlags(beyond + 1, 0);
        FixConsoleFlags(beyond + 1, -3);
        EXPECT_EQ(beyond[1].flags, 0x40000u);

        REALclassDefinition empty{};
        empty.flags = 0x80000;
        empty.methodCount = 5; // with a null array
        empty.properties = props;
        empty.propertyCount = -1;
        props[0].flags = 0x40000;
        FixConsoleFlags(&empty);
        EXPECT_EQ(empty.flags, on ? 8u : 0u);
        EXPECT_EQ(props[0].flags, 0x40000u) << "a negative count is skipped";
        FixConsoleFlags(static_cast<REALmethodDefinition*>(nullptr), 3);
    }
}

// ---------------------------------------------------------------------------------------------
// Lazy binding of host services, through a resolver that the test controls

struct FakeHost {
    std::map<std::string, int> asked;
    std::map<std::string, void*> offered;
    std::vector<REALclassDefinition*> registeredClasses;
    std::vector<uint32_t> registeredSizes;
    int newPictureCalls = 0;
};

FakeHost* gFake = nullptr;

void* FakeResolve(const char* name) {
    ++gFake->asked[name];
    auto it = gFake->offered.find(name);
    return it == gFake->offered.end() ? nullptr : it->second;
}

void FakeRegisterClass(REALclassDefinition* record) {
    gFake->registeredClasses.push_back(record);
    gFake->registeredSizes.push_back(record->dataSize);
}

REALpicture FakeNewPicture(int32_t, int32_t, int32_t) {
    ++gFake->newPictureCalls;
    return nullptr;
}

class ServiceBinding : public PluginState {
  protected:
    void SetUp() override {
        PluginState::SetUp();
        gFake = &fake;
        gResolver = FakeResolve;
    }
    void TearDown() override {
        PluginState::TearDown();
        gFake = nullptr;
    }
    FakeHost fake;
};

TEST_F(ServiceBinding, MissingServiceIsAskedAgainAndAnsweredOnceOffered) {
    REALclassDefinition record{};
    record.dataSize = 64;
    REALRegisterClass(&record);
    REALRegisterClass(&record);
    EXPECT_EQ(fake.asked["PluginRegisterClass"], 2);
    EXPECT_TRUE(fake.registeredClasses.empty());

    fake.offered["PluginRegisterClass"] = reinterpret_cast<void*>(FakeRegisterClass);
    REALRegisterClass(&record);
    REALRegisterClass(&record);
    EXPECT_EQ(fake.asked["PluginRegisterClass"], 3) << "a found service is kept";
    EXPECT_EQ(fake.registeredClasses.size(), 2u);

    ResetPluginState();
    gResolver = FakeResolve;
    REALRegisterClass(&record);
    EXPECT_EQ(fake.asked["PluginRegisterClass"], 4) << "a reset forgets cached services";
}

TEST_F(ServiceBinding, MissingServicesGiveNeutralResults) {
    int32_t value = 77;
    uint8_t flag = 5;
    EXPECT_FALSE(REALGetPropValueInt32(nullptr, "Width", &value));
    EXPECT_FALSE(REALGetPropValueUInt8(nullptr, "HasAlphaChannel", &flag));
    EXPECT_EQ(REALNewPicture(4, 4, 32), nullptr);
    EXPECT_EQ(REALnewInstance("Picture"), nullptr);
    EXPECT_EQ(REALMemoryBlockGetSize(nullptr), 0);
    EXPECT_EQ(REALGetStringEncoding(nullptr), 0u);
    REALpictureDescription d{};
    EXPECT_FALSE(REALLockPictureDescription(nullptr, &d, 8));
    EXPECT_FALSE(REALLockPictureDescription(nullptr, &d));
    EXPECT_EQ(fake.asked["REALGetPropValueInt"], 1);
    EXPECT_EQ(fake.asked["REALGetPropValueBool"], 1);
    EXPECT_EQ(fake.asked["newPicture"], 1);
    EXPECT_EQ(fake.asked["PluginNewInstance"], 1);
    EXPECT_EQ(fake.asked["memoryBlockGetSize"], 1);
    EXPECT_EQ(fake.asked["REALGetStringEncoding"], 1);
    EXPECT_EQ(fake.asked["REALLockPictureDescription"], 1);
    EXPECT_EQ(fake.asked["lockPictureDescription"], 1);
    EXPECT_EQ(GetPictureWidth(reinterpret_cast<REALpicture>(&value)), 0);
}

TEST_F(ServiceBinding, ClassDataSizesAreRoundedToSixteen) {
    fake.offered["PluginRegisterClass"] = reinterpret_cast<void*>(FakeRegisterClass);
    const std::pair<uint32_t, uint32_t> sizes[] = {{139992, 140000}, {64, 64}, {0, 0},  {1, 16},
                                                   {15, 16},         {16, 16}, {17, 32}};
    for (auto [declared, registered] : sizes) {
        REALclassDefinition record{};
        record.dataSize = declared;
        MyREALRegisterClass(&record);
        EXPECT_EQ(record.dataSize, registered) << declared;
        ASSERT_FALSE(fake.registeredSizes.empty());
        EXPECT_EQ(fake.registeredSizes.back(), registered) << declared;
    }
}

TEST_F(ServiceBinding, NewPictureWriterRefusesSizesWithoutAskingTheHost) {
    fake.offered["newPicture"] = reinterpret_cast<void*>(FakeNewPicture);
    const std::pair<int, int> refused[] = {{0, 5}, {5, 0}, {32768, 1}, {1, 32768}, {-1, 3}};
    for (auto [w, h] : refused) {
        PictureWriter writer;
        EXPECT_FALSE(writer.NewPictureWriter(w, h)) << w << "x" << h;
    }
    EXPECT_EQ(fake.newPictureCalls, 0);
    PictureWriter writer;
    EXPECT_FALSE(writer.NewPictureWriter(32767, 1)); // asked, and the fake host gives nothing
    EXPECT_EQ(fake.newPictureCalls, 1);
}

// ---------------------------------------------------------------------------------------------
// Memory helpers

TEST(Memory, ClearMemoryOnlyForPositive32BitSizes) {
    for (long long size : {0LL, -1LL, 2147483648LL, -2147483648LL})
        EXPECT_EQ(AllocateClearMemory(size), nullptr) << size;
    for (long long size : {1LL, 16LL, 4099LL}) {
        auto* p = static_cast<unsigned char*>(AllocateClearMemory(size));
        ASSERT_NE(p, nullptr) << size;
        for (long long i = 0; i < size; ++i)
            ASSERT_EQ(p[i], 0) << size << " at " << i;
        FreeMemoryNow(p);
    }
    FreeMemoryNow(nullptr);
}

TEST_F(ServiceBinding, MemoryBlocksOutsideTheHostRangeAreNotRequested) {
    EXPECT_EQ(REALNewMemoryBlock(-1), nullptr);
    EXPECT_EQ(REALNewMemoryBlock(2147483647), nullptr);
    EXPECT_EQ(fake.asked["newMemoryBlock"], 0);
    REALNewMemoryBlock(0);
    EXPECT_EQ(fake.asked["newMemoryBlock"], 1);
}

} // namespace
