#include "filters/lut3d.h"

#include "filters/walk.h"
#include "host/services.h"
#include "pixels/editor.h"

namespace lut3d {

namespace {

// The largest node Run interpolates from: 15 x 17 = 255.
constexpr int kLastRunNode = 15;
constexpr int kNodeStep = 17;

Lut3DClassData* DataOf(REALobject instance) {
    return static_cast<Lut3DClassData*>(REALGetClassData(instance, &Lut3DClass));
}

bool InTable(uint32_t r, uint32_t g, uint32_t b, uint32_t x) {
    return r < kLut3DNodes && g < kLut3DNodes && b < kLut3DNodes && x < 3;
}

std::size_t EntryIndex(uint32_t r, uint32_t g, uint32_t b, uint32_t x) {
    return ((std::size_t(r) * kLut3DNodes + g) * kLut3DNodes + b) * 3 + x;
}

// The cell of one component value v (0 to 255) and its position in it.
struct Cell {
    int i0, i1;
    double f;
};

Cell CellOf(int v) {
    const int i0 = v / kNodeStep;
    const int i1 = i0 + 1 > kLastRunNode ? kLastRunNode : i0 + 1;
    return {i0, i1, (v - kNodeStep * i0) / 17.0};
}

void DropPicture(REALpicture& field) {
    if (field) {
        REALUnlockObject(field);
        field = nullptr;
    }
}

} // namespace

void Lut3DClassConstructor(REALobject) {}

void Lut3DClassDestructor(REALobject instance) {
    Lut3DClassData* data = DataOf(instance);
    if (!data) return;
    DropPicture(data->SourcePicture);
    DropPicture(data->DestinationPicture);
}

double GetPMX(REALobject instance, uint32_t r, uint32_t g, uint32_t b, uint32_t x) {
    const Lut3DClassData* data = DataOf(instance);
    if (!data || !InTable(r, g, b, x)) return 0.0;
    return data->table[EntryIndex(r, g, b, x)];
}

void SetPMX(REALobject instance, uint32_t r, uint32_t g, uint32_t b, uint32_t x, double value) {
    Lut3DClassData* data = DataOf(instance);
    if (!data || !InTable(r, g, b, x)) return;
    data->table[EntryIndex(r, g, b, x)] = value;
}

double SumXYZ(double fr, double fg, double fb, int r0, int g0, int b0, int r1, int g1, int b1,
              int x, const Lut3DClassData* data) {
    auto P = [&](int r, int g, int b) { return data->table[EntryIndex(r, g, b, x)]; };
    const double P000 = P(r0, g0, b0);
    const double P111 = P(r1, g1, b1);
    // One of six tetrahedra along the diagonal P000-P111; the terms are summed left to right.
    if (fr > fg) {
        if (fg > fb)
            return (1 - fr) * P000 + (fr - fg) * P(r1, g0, b0) + (fg - fb) * P(r1, g1, b0) +
                   fb * P111;
        if (fr > fb)
            return (1 - fr) * P000 + (fr - fb) * P(r1, g0, b0) + (fb - fg) * P(r1, g0, b1) +
                   fg * P111;
        return (1 - fb) * P000 + (fb - fr) * P(r0, g0, b1) + (fr - fg) * P(r1, g0, b1) + fg * P111;
    }
    if (fb > fg)
        return (1 - fb) * P000 + (fb - fg) * P(r0, g0, b1) + (fg - fr) * P(r0, g1, b1) + fr * P111;
    if (fb > fr)
        return (1 - fg) * P000 + (fg - fb) * P(r0, g1, b0) + (fb - fr) * P(r0, g1, b1) + fr * P111;
    return (1 - fg) * P000 + (fg - fr) * P(r0, g1, b0) + (fr - fb) * P(r1, g1, b0) + fb * P111;
}

bool Run(REALobject instance) {
    Lut3DClassData* data = DataOf(instance);
    if (!data) return false;
    // Whatever happens next, the previous result is gone.
    DropPicture(data->DestinationPicture);
    if (!data->SourcePicture) return false;

    PictureReader reader;
    if (!reader.GetPictureReader(data->SourcePicture)) return false;
    PictureWriter writer;
    if (!writer.NewPictureWriter(reader)) {
        reader.clear();
        return false;
    }

    const FilterRectangle rect = ResolveFilterRectangle(data->MinX, data->MinY, data->MaxX,
                                                        data->MaxY, reader.width, reader.height);
    WalkFilterRectangle(reader, writer, rect, [data](int& red, int& green, int& blue) {
        const Cell r = CellOf(red), g = CellOf(green), b = CellOf(blue);
        int out[3];
        for (int x = 0; x < 3; ++x)
            out[x] =
                ComponentByte(SumXYZ(r.f, g.f, b.f, r.i0, g.i0, b.i0, r.i1, g.i1, b.i1, x, data));
        red = out[0];
        green = out[1];
        blue = out[2];
    });

    data->DestinationPicture = writer.RenderPictureWriter();
    reader.clear();
    return data->DestinationPicture != nullptr;
}

} // namespace lut3d
