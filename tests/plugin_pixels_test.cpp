// The plugin's own building blocks, linked statically and driven without a host runtime: row
// movement of editors, console flag translation and the lazy binding of host services (pixel
// layouts and rectangle clipping are held to the models by ops_driver_test.cpp).
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
