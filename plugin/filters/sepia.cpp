#include "filters/sepia.h"

#include <cmath>
#include <limits>

#include "filters/walk.h"
#include "host/services.h"
#include "ops/operations.h"
#include "pixels/editor.h"

namespace sepia {

namespace {

PictureSepiaClassData* DataOf(REALobject instance) {
    return static_cast<PictureSepiaClassData*>(REALGetClassData(instance, &PictureSepiaClass));
}

void DropPicture(REALpicture& field) {
    if (field) {
        REALUnlockObject(field);
        field = nullptr;
    }
}

// The offset is added exactly: a gray value with a huge offset clamps the way the sum says, it
// does not wrap around.
int ClampSum(int32_t gray, int32_t offset) {
    const int64_t v = int64_t(gray) + offset;
    return v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v);
}

// Host integers wrap.
int32_t WrappingAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t WrappingMultiply(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

double GetFactor(REALobject instance, double PictureSepiaClassData::*field) {
    const PictureSepiaClassData* data = DataOf(instance);
    return data ? data->*field : 0.0;
}

void SetFactor(REALobject instance, double PictureSepiaClassData::*field, double value) {
    if (PictureSepiaClassData* data = DataOf(instance)) data->*field = value;
}

} // namespace

void PictureSepiaClassConstructor(REALobject instance) {
    PictureSepiaClassData* data = DataOf(instance);
    if (!data) return;
    data->FactorRed = 0.299;
    data->FactorGreen = 0.587;
    data->FactorBlue = 0.114;
}

void PictureSepiaClassDestructor(REALobject instance) {
    PictureSepiaClassData* data = DataOf(instance);
    if (!data) return;
    DropPicture(data->SourcePicture);
    DropPicture(data->DestinationPicture);
}

double GetFactorR(REALobject instance, int32_t) {
    return GetFactor(instance, &PictureSepiaClassData::FactorRed);
}
double GetFactorG(REALobject instance, int32_t) {
    return GetFactor(instance, &PictureSepiaClassData::FactorGreen);
}
double GetFactorB(REALobject instance, int32_t) {
    return GetFactor(instance, &PictureSepiaClassData::FactorBlue);
}
void SetFactorR(REALobject instance, int32_t, double value) {
    SetFactor(instance, &PictureSepiaClassData::FactorRed, value);
}
void SetFactorG(REALobject instance, int32_t, double value) {
    SetFactor(instance, &PictureSepiaClassData::FactorGreen, value);
}
void SetFactorB(REALobject instance, int32_t, double value) {
    SetFactor(instance, &PictureSepiaClassData::FactorBlue, value);
}

int32_t IntegerWeight(double weight) {
    const double scaled = std::trunc(weight * 1024);
    // Representable results: -2^31 to 2^31 - 1; everything else, NaN included, is the
    // indefinite value.
    if (!(scaled >= -2147483648.0 && scaled <= 2147483647.0))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(scaled);
}

int32_t GrayValue(int red, int green, int blue, int32_t kR, int32_t kG, int32_t kB) {
    const int32_t sum =
        WrappingAdd(WrappingAdd(WrappingMultiply(red, kR), WrappingMultiply(green, kG)),
                    WrappingMultiply(blue, kB));
    return sum / 1024;
}

bool Run(REALobject instance) {
    PictureSepiaClassData* data = DataOf(instance);
    if (!data || !data->SourcePicture) return false;

    PictureReader reader;
    if (!reader.GetPictureReader(data->SourcePicture)) return false;
    // The result never has an alpha channel, whatever the source.
    PictureWriter writer;
    if (!writer.NewPictureWriter(reader.width, reader.height)) return false;

    const FilterRectangle rect = ResolveFilterRectangle(data->MinX, data->MinY, data->MaxX,
                                                        data->MaxY, reader.width, reader.height);
    const int32_t kR = IntegerWeight(data->FactorRed);
    const int32_t kG = IntegerWeight(data->FactorGreen);
    const int32_t kB = IntegerWeight(data->FactorBlue);
    const int32_t offsetRed = data->SepiaRed;
    const int32_t offsetGreen = data->SepiaGreen;
    const int32_t offsetBlue = data->SepiaBlue;
    auto tone = [&](int& red, int& green, int& blue) {
        const int32_t gray = GrayValue(red, green, blue, kR, kG, kB);
        red = ClampSum(gray, offsetRed);
        green = ClampSum(gray, offsetGreen);
        blue = ClampSum(gray, offsetBlue);
    };
    const simd::SepiaParams params{kR, kG, kB, {offsetRed, offsetGreen, offsetBlue}};
    WalkFilterRectangle(reader, writer, rect, tone, simd::SepiaKernel(params));

    REALpicture result = writer.RenderPictureWriter();
    DropPicture(data->DestinationPicture);
    data->DestinationPicture = result;
    reader.clear();
    return result != nullptr;
}

} // namespace sepia
