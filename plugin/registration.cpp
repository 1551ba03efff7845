#include "registration.h"

#include <array>
#include <iterator>

#include "filters/lut3d.h"
#include "filters/sepia.h"
#include "ops/operations.h"

namespace {

constexpr uint32_t kConsole = kMarkerConsoleSafe;

template <class Fn> void* Function(Fn* fn) {
    return reinterpret_cast<void*>(fn);
}

} // namespace

// Rows stay in registration order. A "// slot" line marks where rows of methods still to come go.
REALmethodDefinition pictureMethods[] = {
    {Function(ColornessQRX), nullptr, "ColornessQRX(threshold as integer = 10) as double", 0},
    {Function(ScrollVerticalQRX), nullptr,
     "ScrollVerticalQRX(delta as integer, wrap as boolean, scrollmask as boolean) as boolean", 0},
    {Function(ScrollHorizontalQRX), nullptr,
     "ScrollHorizontalQRX(delta as integer, wrap as boolean, scrollmask as boolean) as boolean", 0},
    {Function(ScrollQRX), nullptr,
     "ScrollQRX(deltaX as integer, deltaY as integer, wrap as boolean, scrollmask as boolean) as "
     "boolean",
     0},
    {Function(PictureHasMask), nullptr, "HasMaskQRX as boolean", kConsole},
    {Function(ContrastAbsBrightnessPicture3), nullptr,
     "ChangeContrastBrightnessAbsoluteQRX(ContrastRed as double, ContrastGreen as double, "
     "ContrastBlue as double, BrightnessRed as double, BrightnessGreen as double, BrightnessBlue "
     "as double) as picture",
     kConsole},
    {Function(ContrastLinBrightnessPicture3), nullptr,
     "ChangeContrastBrightnessLinearQRX(ContrastRed as double, ContrastGreen as double, "
     "ContrastBlue as double, BrightnessRed as double, BrightnessGreen as double, BrightnessBlue "
     "as double) as picture",
     kConsole},
    {Function(ContrastAbsBrightnessPicture1), nullptr,
     "ChangeContrastBrightnessAbsoluteQRX(Contrast as double, Brightness as double) as picture",
     kConsole},
    {Function(ContrastLinBrightnessPicture1), nullptr,
     "ChangeContrastBrightnessLinearQRX(Contrast as double, Brightness as double) as picture",
     kConsole},
    {Function(AbsBrightnessPicture3), nullptr,
     "ChangeBrightnessAbsoluteQRX(BrightnessRed as double, BrightnessGreen as double, "
     "BrightnessBlue as double) as picture",
     kConsole},
    {Function(LinBrightnessPicture3), nullptr,
     "ChangeBrightnessLinearQRX(BrightnessRed as double, BrightnessGreen as double, "
     "BrightnessBlue as double) as picture",
     kConsole},
    {Function(AbsBrightnessPicture1), nullptr,
     "ChangeBrightnessAbsoluteQRX(Brightness as double) as picture", kConsole},
    {Function(LinBrightnessPicture1), nullptr,
     "ChangeBrightnessLinearQRX(Brightness as double) as picture", kConsole},
    {Function(ContrastPicture1), nullptr, "ChangeContrastQRX(Contrast as double) as picture",
     kConsole},
    {Function(ContrastPicture3), nullptr,
     "ChangeContrastQRX(ContrastRed as double, ContrastGreen as double, ContrastBlue as double) "
     "as picture",
     kConsole},
    {Function(TransformPicture), nullptr, "ChangeCustomQRX(a as double, b as double) as picture",
     kConsole},
    {Function(InvertPicture), nullptr,
     "InvertQRX(left as integer,top as integer,width as integer,height as integer) as picture",
     kConsole},
    {Function(InvertPicture2), nullptr, "InvertQRX as picture", kConsole},
    {Function(InvertGrayPicture), nullptr,
     "InvertGrayQRX(left as integer,top as integer,width as integer,height as integer) as "
     "picture",
     kConsole},
    {Function(InvertGrayPicture2), nullptr, "InvertGrayQRX as picture", kConsole},
    {Function(ExtractColorRectangleMaskQRX), nullptr,
     "ExtractColorRectangleMaskQRX(left as integer,top as integer,width as integer,height as "
     "integer) as picture",
     kConsole},
    {Function(ExtractColorRectangleMaskQRX2), nullptr, "ExtractColorRectangleMaskQRX as picture",
     kConsole},
    {Function(GetEmbededMask), Function(SetEmbededMask),
     "EmbeddedMaskQRX(swap as boolean) as picture", kConsole},
    {Function(CountColorQRX), nullptr, "CountColorQRX(col as color) as integer", kConsole},
    {Function(CountColorsQRX), nullptr,
     "CountColorsQRX(byref red as memoryblock, byref blue as memoryblock, byref green as "
     "memoryblock, byref count as integer)",
     0},
    {Function(TransformColorsQRX), nullptr,
     "TransformColorsQRX(red as memoryblock, blue as memoryblock, green as memoryblock, dest as "
     "picture = nil) as picture",
     0},
    {Function(ReplaceColorQRX), nullptr,
     "ReplaceColorQRX(SearchColor as color, ReplaceWithColor as color) as picture", 0},
    {Function(ExtractColorQRX), nullptr,
     "ExtractColorQRX(SearchColor as color, ReplaceWithColor as color, BackGroundColor as color) "
     "as picture",
     0},
    {Function(SaturationPicture), nullptr, "ChangeSaturationQRX(Amount as integer) as picture",
     kConsole},
    {Function(ReplaceRedChannel), nullptr, "ReplaceRedChannelQRX(RedChannel as picture) as picture",
     kConsole},
    {Function(ReplaceGreenChannel), nullptr,
     "ReplaceGreenChannelQRX(GreenChannel as picture) as picture", kConsole},
    {Function(ReplaceBlueChannel), nullptr,
     "ReplaceBlueChannelQRX(BlueChannel as picture) as picture", kConsole},
    {Function(FindPicture), nullptr,
     "FindPicture(pic as picture, byref x as integer, byref y as integer) as boolean", kConsole},
    {Function(isWhite2), nullptr, "isWhiteQRX as boolean", kConsole},
    {Function(isWhite), nullptr,
     "isWhiteQRX(left as integer,top as integer,width as integer,height as integer) as boolean",
     kConsole},
    {Function(isBlack2), nullptr, "isBlackQRX as boolean", kConsole},
    {Function(isBlack), nullptr,
     "isBlackQRX(left as integer,top as integer,width as integer,height as integer) as boolean",
     kConsole},
    {Function(isGray2), nullptr, "isGrayQRX(tolerance as integer = 0) as boolean", kConsole},
    {Function(isGray), nullptr,
     "isGrayQRX(tolerance as integer, left as integer,top as integer,width as integer,height as "
     "integer) as boolean",
     kConsole},
};

REALclassDefinition pictureClass = {
    kPluginRecordVersion,
    "Picture",
    nullptr, // superclass
    0,       // no instance data
    0,
    nullptr, // constructor
    nullptr, // destructor
    nullptr, // properties
    0,
    pictureMethods,
    static_cast<int32_t>(std::size(pictureMethods)),
    {},
    REALconsoleSafe,
    nullptr,
    0,
    nullptr,
    0,
};

// ---- PictureLut3DQRX ----

namespace {

// A property the host reads and writes straight in the instance data, at byte position offset.
REALproperty DirectProperty(const char* name, const char* type, std::size_t offset,
                            uint32_t flags) {
    return {nullptr,
            name,
            type,
            flags,
            REALstandardGetter,
            REALstandardSetter,
            static_cast<uint32_t>(offset),
            {}};
}

// A property with accessor functions; they ignore the property parameter, which is left 0.
template <class Getter, class Setter>
REALproperty AccessorProperty(const char* name, const char* type, Getter* getter, Setter* setter,
                              uint32_t flags) {
    return {nullptr, name, type, flags, Function(getter), Function(setter), 0, {}};
}

REALproperty gLut3DProperties[] = {
    DirectProperty("SourcePicture", "Picture", offsetof(Lut3DClassData, SourcePicture), kConsole),
    DirectProperty("DestinationPicture", "Picture", offsetof(Lut3DClassData, DestinationPicture),
                   kConsole),
    DirectProperty("MaxX", "Integer", offsetof(Lut3DClassData, MaxX), kConsole),
    DirectProperty("MinX", "Integer", offsetof(Lut3DClassData, MinX), kConsole),
    DirectProperty("MaxY", "Integer", offsetof(Lut3DClassData, MaxY), kConsole),
    DirectProperty("MinY", "Integer", offsetof(Lut3DClassData, MinY), kConsole),
};

REALmethodDefinition gLut3DMethods[] = {
    // Close releases what destruction would: it is the destructor itself.
    {Function(lut3d::Lut3DClassDestructor), nullptr, "Close", kConsole},
    {Function(lut3d::Run), nullptr, "Run as boolean", kConsole},
    {Function(lut3d::GetPMX), Function(lut3d::SetPMX),
     "Table(r as UInt32, g as UInt32, b as UInt32, x as UInt32) as double", kConsole},
};

} // namespace

// The data size is the record's exact size; registration rounds it up for the host.
REALclassDefinition Lut3DClass = {
    kPluginRecordVersion,
    "PictureLut3DQRX",
    nullptr, // superclass
    sizeof(Lut3DClassData),
    0,
    lut3d::Lut3DClassConstructor,
    lut3d::Lut3DClassDestructor,
    gLut3DProperties,
    static_cast<int32_t>(std::size(gLut3DProperties)),
    gLut3DMethods,
    static_cast<int32_t>(std::size(gLut3DMethods)),
    {},
    REALconsoleSafe,
    nullptr,
    0,
    nullptr,
    0,
};

// ---- PictureSepiaQRX ----

namespace {

REALproperty gSepiaProperties[] = {
    DirectProperty("SourcePicture", "Picture", offsetof(PictureSepiaClassData, SourcePicture), 0),
    DirectProperty("DestinationPicture", "Picture",
                   offsetof(PictureSepiaClassData, DestinationPicture), 0),
    DirectProperty("MaxX", "Integer", offsetof(PictureSepiaClassData, MaxX), 0),
    DirectProperty("MinX", "Integer", offsetof(PictureSepiaClassData, MinX), 0),
    DirectProperty("MaxY", "Integer", offsetof(PictureSepiaClassData, MaxY), 0),
    DirectProperty("MinY", "Integer", offsetof(PictureSepiaClassData, MinY), 0),
    DirectProperty("SepiaRed", "Integer", offsetof(PictureSepiaClassData, SepiaRed), 0),
    DirectProperty("SepiaGreen", "Integer", offsetof(PictureSepiaClassData, SepiaGreen), 0),
    DirectProperty("SepiaBlue", "Integer", offsetof(PictureSepiaClassData, SepiaBlue), 0),
    AccessorProperty("FactorRed", "Double", sepia::GetFactorR, sepia::SetFactorR, 0),
    AccessorProperty("FactorBlue", "Double", sepia::GetFactorB, sepia::SetFactorB, 0),
    AccessorProperty("FactorGreen", "Double", sepia::GetFactorG, sepia::SetFactorG, 0),
};

REALmethodDefinition gSepiaMethods[] = {
    {Function(sepia::PictureSepiaClassDestructor), nullptr, "Close", 0},
    {Function(sepia::Run), nullptr, "Run as boolean", 0},
};

} // namespace

REALclassDefinition PictureSepiaClass = {
    kPluginRecordVersion,
    "PictureSepiaQRX",
    nullptr, // superclass
    sizeof(PictureSepiaClassData),
    0,
    sepia::PictureSepiaClassConstructor,
    sepia::PictureSepiaClassDestructor,
    gSepiaProperties,
    static_cast<int32_t>(std::size(gSepiaProperties)),
    gSepiaMethods,
    static_cast<int32_t>(std::size(gSepiaMethods)),
    {},
    0,
    nullptr,
    0,
    nullptr,
    0,
};

#if defined(__i386__)
// On the 32-bit module the records carry exactly these sizes and byte positions.
static_assert(sizeof(Lut3DClassData) == 139992);
static_assert(sizeof(PictureSepiaClassData) == 64);
static_assert(offsetof(Lut3DClassData, SourcePicture) == 0);
static_assert(offsetof(Lut3DClassData, DestinationPicture) == 4);
static_assert(offsetof(Lut3DClassData, MaxX) == 16);
static_assert(offsetof(Lut3DClassData, MinX) == 8);
static_assert(offsetof(Lut3DClassData, MaxY) == 20);
static_assert(offsetof(Lut3DClassData, MinY) == 12);
static_assert(offsetof(PictureSepiaClassData, SourcePicture) == 24);
static_assert(offsetof(PictureSepiaClassData, DestinationPicture) == 28);
static_assert(offsetof(PictureSepiaClassData, MaxX) == 40);
static_assert(offsetof(PictureSepiaClassData, MinX) == 32);
static_assert(offsetof(PictureSepiaClassData, MaxY) == 44);
static_assert(offsetof(PictureSepiaClassData, MinY) == 36);
static_assert(offsetof(PictureSepiaClassData, SepiaRed) == 48);
static_assert(offsetof(PictureSepiaClassData, SepiaGreen) == 52);
static_assert(offsetof(PictureSepiaClassData, SepiaBlue) == 56);
#endif

namespace {

std::array gGlobalMethodRows{
    REALmethodDefinition{Function(BinaryStringtoPicture), nullptr,
                         "BinaryStringtoPictureQRX(data as String) as Picture", kConsole},
    REALmethodDefinition{Function(PicturetoBinaryString), nullptr,
                         "PicturetoBinaryStringQRX(p as picture) as string", kConsole},
    REALmethodDefinition{Function(CombinePicturesQRX), nullptr,
                         "CombinePicturesQRX(red as picture, blue as picture, green as picture) "
                         "as picture",
                         kConsole},
    REALmethodDefinition{Function(MergePicture), nullptr,
                         "MergePictureQRX(source1 as picture, source2 as picture) as picture",
                         kConsole},
    REALmethodDefinition{Function(TintPicture), nullptr,
                         "TintPictureQRX(source as picture, GreyBase as color, SepiaBase as "
                         "color) as picture",
                         kConsole},
    REALmethodDefinition{
        Function(RenderSamples), nullptr,
        "RenderSamplesQRX(Samples as memoryblock, SampleCount as integer, Smooth as integer, "
        "Width as integer, Height as integer, outlinewidth as integer, BackColor as "
        "color=&c88B5C4, ForeColor as color=&c274C5A, OutLineColor as color=&c203F4E, Bits as "
        "Integer = 8, AutoScale as boolean = false) as Picture",
        kConsole},
};
std::array<REALclassDefinition*, 2> gClassRecords{&PictureSepiaClass, &Lut3DClass};

} // namespace

constinit const std::span<REALmethodDefinition> globalMethods{gGlobalMethodRows};
constinit const std::span<REALclassDefinition* const> registeredClasses{gClassRecords};
