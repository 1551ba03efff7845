#include "host/tables.h"

#include <array>
#include <iterator>
#include <vector>

#include "filters/lut3d_data.h"
#include "filters/sepia_data.h"
#include "ops/brightness.h"
#include "ops/contrast.h"
#include "ops/custom.h"
#include "ops/invert.h"
#include "ops/tint.h"

namespace {

constexpr uint32_t kConsole = kMarkerConsoleSafe;

template <class Fn> void* Function(Fn* fn) {
    return reinterpret_cast<void*>(fn);
}

} // namespace

REALmethodDefinition pictureMethods[] = {
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
    {Function(SaturationPicture), nullptr, "ChangeSaturationQRX(Amount as integer) as picture",
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

namespace {

std::array gGlobalMethodRows{
    REALmethodDefinition{Function(TintPicture), nullptr,
                         "TintPictureQRX(source as picture, GreyBase as color, SepiaBase as "
                         "color) as picture",
                         kConsole},
};
std::array<REALclassDefinition*, 0> gClassRecords{};

} // namespace

constinit const std::span<REALmethodDefinition> globalMethods{gGlobalMethodRows};
constinit const std::span<REALclassDefinition* const> registeredClasses{gClassRecords};

namespace {

// A copy of one class record and of the entries of its lists.
struct ClassSnapshot {
    REALclassDefinition* record;
    REALclassDefinition saved;
    std::vector<REALmethodDefinition> methods, moreMethods;
    std::vector<REALproperty> properties, moreProperties;
};

template <class T> std::vector<T> CopyEntries(const T* entries, int32_t count) {
    if (!entries || count < 1) return {};
    return std::vector<T>(entries, entries + count);
}

template <class T> void PutBack(T* entries, const std::vector<T>& saved) {
    for (std::size_t i = 0; i < saved.size(); ++i)
        entries[i] = saved[i];
}

ClassSnapshot TakeSnapshot(REALclassDefinition* record) {
    return {record,
            *record,
            CopyEntries(record->methods, record->methodCount),
            CopyEntries(record->moreMethods, record->moreMethodCount),
            CopyEntries(record->properties, record->propertyCount),
            CopyEntries(record->moreProperties, record->morePropertyCount)};
}

struct TablesSnapshot {
    std::vector<ClassSnapshot> classes;
    std::vector<REALmethodDefinition> globals;
};

TablesSnapshot TakeTablesSnapshot() {
    TablesSnapshot snapshot;
    for (REALclassDefinition* record : registeredClasses)
        snapshot.classes.push_back(TakeSnapshot(record));
    snapshot.classes.push_back(TakeSnapshot(&pictureClass));
    snapshot.globals.assign(globalMethods.begin(), globalMethods.end());
    return snapshot;
}

// Taken before anything can adapt the tables: initialised after the tables in this unit.
const TablesSnapshot gPristineTables = TakeTablesSnapshot();

} // namespace

void RestoreRegistrationTables() {
    for (const ClassSnapshot& c : gPristineTables.classes) {
        *c.record = c.saved;
        PutBack(c.record->methods, c.methods);
        PutBack(c.record->moreMethods, c.moreMethods);
        PutBack(c.record->properties, c.properties);
        PutBack(c.record->moreProperties, c.moreProperties);
    }
    PutBack(globalMethods.data(), gPristineTables.globals);
}
