// The whole registered surface, as the host receives it: every class, property, method and global
// method in registration order, with exact declarations, flags on hosts before and after the
// console flags, and instance-data sizes.
#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "filters/lut3d_data.h"
#include "filters/sepia_data.h"
#include "qrx/host.h"
#include "support.h"

namespace {

struct SurfaceRow {
    const char* declaration;
    bool console; // carries the console marker
    bool assignable;
};

const SurfaceRow kPictureMethods[] = {
    {"ColornessQRX(threshold as integer = 10) as double", false, false},
    {"ScrollVerticalQRX(delta as integer, wrap as boolean, scrollmask as boolean) as boolean",
     false, false},
    {"ScrollHorizontalQRX(delta as integer, wrap as boolean, scrollmask as boolean) as boolean",
     false, false},
    {"ScrollQRX(deltaX as integer, deltaY as integer, wrap as boolean, scrollmask as boolean) as "
     "boolean",
     false, false},
    {"HasMaskQRX as boolean", true, false},
    {"ChangeContrastBrightnessAbsoluteQRX(ContrastRed as double, ContrastGreen as double, "
     "ContrastBlue as double, BrightnessRed as double, BrightnessGreen as double, BrightnessBlue "
     "as double) as picture",
     true, false},
    {"ChangeContrastBrightnessLinearQRX(ContrastRed as double, ContrastGreen as double, "
     "ContrastBlue as double, BrightnessRed as double, BrightnessGreen as double, BrightnessBlue "
     "as double) as picture",
     true, false},
    {"ChangeContrastBrightnessAbsoluteQRX(Contrast as double, Brightness as double) as picture",
     true, false},
    {"ChangeContrastBrightnessLinearQRX(Contrast as double, Brightness as double) as picture", true,
     false},
    {"ChangeBrightnessAbsoluteQRX(BrightnessRed as double, BrightnessGreen as double, "
     "BrightnessBlue as double) as picture",
     true, false},
    {"ChangeBrightnessLinearQRX(BrightnessRed as double, BrightnessGreen as double, BrightnessBlue "
     "as double) as picture",
     true, false},
    {"ChangeBrightnessAbsoluteQRX(Brightness as double) as picture", true, false},
    {"ChangeBrightnessLinearQRX(Brightness as double) as picture", true, false},
    {"ChangeContrastQRX(Contrast as double) as picture", true, false},
    {"ChangeContrastQRX(ContrastRed as double, ContrastGreen as double, ContrastBlue as double) as "
     "picture",
     true, false},
    {"ChangeCustomQRX(a as double, b as double) as picture", true, false},
    {"InvertQRX(left as integer,top as integer,width as integer,height as integer) as picture",
     true, false},
    {"InvertQRX as picture", true, false},
    {"InvertGrayQRX(left as integer,top as integer,width as integer,height as integer) as picture",
     true, false},
    {"InvertGrayQRX as picture", true, false},
    {"ExtractColorRectangleMaskQRX(left as integer,top as integer,width as integer,height as "
     "integer) as picture",
     true, false},
    {"ExtractColorRectangleMaskQRX as picture", true, false},
    {"EmbeddedMaskQRX(swap as boolean) as picture", true, true},
    {"CountColorQRX(col as color) as integer", true, false},
    {"CountColorsQRX(byref red as memoryblock, byref blue as memoryblock, byref green as "
     "memoryblock, byref count as integer)",
     false, false},
    {"TransformColorsQRX(red as memoryblock, blue as memoryblock, green as memoryblock, dest as "
     "picture = nil) as picture",
     false, false},
    {"ReplaceColorQRX(SearchColor as color, ReplaceWithColor as color) as picture", false, false},
    {"ExtractColorQRX(SearchColor as color, ReplaceWithColor as color, BackGroundColor as color) "
     "as picture",
     false, false},
    {"ChangeSaturationQRX(Amount as integer) as picture", true, false},
    {"ReplaceRedChannelQRX(RedChannel as picture) as picture", true, false},
    {"ReplaceGreenChannelQRX(GreenChannel as picture) as picture", true, false},
    {"ReplaceBlueChannelQRX(BlueChannel as picture) as picture", true, false},
    {"FindPicture(pic as picture, byref x as integer, byref y as integer) as boolean", true, false},
    {"isWhiteQRX as boolean", true, false},
    {"isWhiteQRX(left as integer,top as integer,width as integer,height as integer) as boolean",
     true, false},
    {"isBlackQRX as boolean", true, false},
    {"isBlackQRX(left as integer,top as integer,width as integer,height as integer) as boolean",
     true, false},
    {"isGrayQRX(tolerance as integer = 0) as boolean", true, false},
    {"isGrayQRX(tolerance as integer, left as integer,top as integer,width as integer,height as "
     "integer) as boolean",
     true, false},
};
const char* const kGlobalMethods[] = {
    "BinaryStringtoPictureQRX(data as String) as Picture",
    "PicturetoBinaryStringQRX(p as picture) as string",
    "CombinePicturesQRX(red as picture, blue as picture, green as picture) as picture",
    "MergePictureQRX(source1 as picture, source2 as picture) as picture",
    "TintPictureQRX(source as picture, GreyBase as color, SepiaBase as color) as picture",
    "RenderSamplesQRX(Samples as memoryblock, SampleCount as integer, Smooth as integer, Width as "
    "integer, Height as integer, outlinewidth as integer, BackColor as color=&c88B5C4, ForeColor "
    "as color=&c274C5A, OutLineColor as color=&c203F4E, Bits as Integer = 8, AutoScale as boolean "
    "= false) as Picture",
};

struct PropertyRow {
    const char* name;
    const char* type;
    bool direct;
    uint32_t offset; // in the instance data, for a direct property
};

#define DIRECT(cls, name, type)                                                                    \
    { #name, type, true, uint32_t(offsetof(cls, name)) }
const PropertyRow kLut3DProperties[] = {
    DIRECT(Lut3DClassData, SourcePicture, "Picture"),
    DIRECT(Lut3DClassData, DestinationPicture, "Picture"),
    DIRECT(Lut3DClassData, MaxX, "Integer"),
    DIRECT(Lut3DClassData, MinX, "Integer"),
    DIRECT(Lut3DClassData, MaxY, "Integer"),
    DIRECT(Lut3DClassData, MinY, "Integer"),
};

const PropertyRow kSepiaProperties[] = {
    DIRECT(PictureSepiaClassData, SourcePicture, "Picture"),
    DIRECT(PictureSepiaClassData, DestinationPicture, "Picture"),
    DIRECT(PictureSepiaClassData, MaxX, "Integer"),
    DIRECT(PictureSepiaClassData, MinX, "Integer"),
    DIRECT(PictureSepiaClassData, MaxY, "Integer"),
    DIRECT(PictureSepiaClassData, MinY, "Integer"),
    DIRECT(PictureSepiaClassData, SepiaRed, "Integer"),
    DIRECT(PictureSepiaClassData, SepiaGreen, "Integer"),
    DIRECT(PictureSepiaClassData, SepiaBlue, "Integer"),
    {"FactorRed", "Double", false, 0},
    {"FactorBlue", "Double", false, 0},
    {"FactorGreen", "Double", false, 0},
};
#undef DIRECT

uint32_t roundUp16(size_t n) {
    return uint32_t((n + 15) / 16 * 16);
}

// Host versions on either side of the console flags, and a host that tells no version.
class Surface : public testing::TestWithParam<std::optional<double>> {
  protected:
    // The flags a console-marked entry reaches the host with on this version.
    uint32_t consoleFlags() const { return GetParam() && *GetParam() >= 2010.029 ? 4u : 0u; }
};

TEST_P(Surface, RegistrationOrder) {
    qrx::HostConfig config;
    config.version = GetParam();
    auto host = qrxtest::loadHost(config);
    std::vector<std::string> want = {"class PictureSepiaQRX", "class PictureLut3DQRX",
                                     "extension Picture"};
    for (const char* d : kGlobalMethods)
        want.push_back(std::string("method ") + d);
    EXPECT_EQ(host->registrationLog(), want);
}

TEST_P(Surface, PictureMethodsAndGlobals) {
    qrx::HostConfig config;
    config.version = GetParam();
    auto host = qrxtest::loadHost(config);
    const qrx::ClassInfo* picture = host->findClass("Picture");
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(picture->extensions.size(), std::size(kPictureMethods));
    for (size_t i = 0; i < std::size(kPictureMethods); ++i) {
        const qrx::MethodInfo& m = picture->extensions[i];
        const SurfaceRow& want = kPictureMethods[i];
        EXPECT_EQ(m.decl.text, want.declaration) << "row " << i + 1;
        EXPECT_EQ(m.flags, want.console ? consoleFlags() : 0u) << want.declaration;
        EXPECT_EQ(m.setter != nullptr, want.assignable) << want.declaration;
    }
    const auto& globals = host->globalMethods();
    ASSERT_EQ(globals.size(), std::size(kGlobalMethods));
    for (size_t i = 0; i < globals.size(); ++i) {
        EXPECT_EQ(globals[i].decl.text, kGlobalMethods[i]);
        EXPECT_EQ(globals[i].flags, consoleFlags()) << kGlobalMethods[i];
    }
}

TEST_P(Surface, FilterClasses) {
    qrx::HostConfig config;
    config.version = GetParam();
    auto host = qrxtest::loadHost(config);
    struct ClassCase {
        const char* name;
        uint32_t dataSize;
        uint32_t classFlags;
        uint32_t memberFlags;
        std::vector<PropertyRow> properties;
        std::vector<std::string> methods;
    } const cases[] = {
        {"PictureSepiaQRX",
         roundUp16(sizeof(PictureSepiaClassData)),
         0,
         0,
         {std::begin(kSepiaProperties), std::end(kSepiaProperties)},
         {"Close", "Run as boolean"}},
        {"PictureLut3DQRX",
         roundUp16(sizeof(Lut3DClassData)),
         4,
         consoleFlags(),
         {std::begin(kLut3DProperties), std::end(kLut3DProperties)},
         {"Close", "Run as boolean",
          "Table(r as UInt32, g as UInt32, b as UInt32, x as UInt32) as double"}},
    };
    for (const ClassCase& c : cases) {
        const qrx::ClassInfo* cls = host->findClass(c.name);
        ASSERT_NE(cls, nullptr) << c.name;
        EXPECT_EQ(cls->dataSize, c.dataSize) << c.name;
        EXPECT_EQ(cls->dataSize % 16, 0u) << c.name;
        EXPECT_EQ(cls->flags, c.classFlags) << c.name;
        ASSERT_EQ(cls->properties.size(), c.properties.size()) << c.name;
        for (size_t i = 0; i < c.properties.size(); ++i) {
            const qrx::PropertyInfo& p = cls->properties[i];
            EXPECT_EQ(p.name, c.properties[i].name) << c.name;
            EXPECT_EQ(p.type.name, c.properties[i].type) << c.name << "." << p.name;
            EXPECT_EQ(p.direct(), c.properties[i].direct) << c.name << "." << p.name;
            EXPECT_EQ(p.setter == REALstandardSetter, c.properties[i].direct) << p.name;
            if (p.direct()) {
                EXPECT_EQ(p.offset, c.properties[i].offset) << c.name << "." << p.name;
            }
            EXPECT_EQ(p.flags, c.memberFlags) << c.name << "." << p.name;
        }
        ASSERT_EQ(cls->methods.size(), c.methods.size()) << c.name;
        for (size_t i = 0; i < c.methods.size(); ++i) {
            EXPECT_EQ(cls->methods[i].decl.text, c.methods[i]) << c.name;
            EXPECT_EQ(cls->methods[i].flags, c.memberFlags) << c.methods[i];
            // Only the table can be assigned to.
            EXPECT_EQ(cls->methods[i].setter != nullptr, c.methods[i].starts_with("Table"));
        }
        // Close is the destructor itself.
        EXPECT_EQ(cls->methods[0].function, reinterpret_cast<void*>(cls->destructor)) << c.name;
    }
    // Natively the lookup table's data is exactly the registered 140000 bytes.
    EXPECT_EQ(host->findClass("PictureLut3DQRX")->dataSize, 140000u);
}

INSTANTIATE_TEST_SUITE_P(HostVersions, Surface,
                         testing::Values(std::optional<double>(2010.028),
                                         std::optional<double>(2010.029), std::nullopt),
                         [](const auto& info) {
                             return !info.param               ? std::string("no_version")
                                    : *info.param >= 2010.029 ? std::string("v2010_029")
                                                              : std::string("v2010_028");
                         });

} // namespace
