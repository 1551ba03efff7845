#include "filters/lut3d.h"

#include <memory>
#include <new>

#include "filters/walk.h"
#include "host/services.h"
#include "ops/operations.h"
#include "pixels/editor.h"
#include "pixels/layout_walk.h"
#include "simd/lut3d.h"

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

// The three output bytes of one colour, as Run interpolates it: on each axis its cell's lower
// node v / 17, its upper node (node 15 itself for 255, the only value on node 15) and its fraction
// (v - 17 * node) / 17.0, through SumXYZ and ComponentByte. Decision: every x86 processor with SSE4
// and every Arm one with NEON has a vector loop (simd/lut3d.h), so this one is written to be
// plainly right rather than fast; it runs under QRX_SIMD=scalar, on older processors, and when the
// vector loop's nodes cannot be allocated.
void MapColour(const Lut3DClassData* data, int red, int green, int blue, int out[3]) {
    const int r0 = red / kNodeStep, g0 = green / kNodeStep, b0 = blue / kNodeStep;
    const double fr = (red - kNodeStep * r0) / 17.0, fg = (green - kNodeStep * g0) / 17.0,
                 fb = (blue - kNodeStep * b0) / 17.0;
    auto upper = [](int node) { return node < kLastRunNode ? node + 1 : kLastRunNode; };
    for (int x = 0; x < 3; ++x)
        out[x] =
            ComponentByte(SumXYZ(fr, fg, fb, r0, g0, b0, upper(r0), upper(g0), upper(b0), x, data));
}

// The scalar loop for one pair of layout groups. A run of equal colours (flat areas, repeated
// pixels) is interpolated once: the word stored is a function of the colour alone.
template <LayoutGroup S, LayoutGroup D>
void MapRowIn(const Lut3DClassData* data, const uint32_t* src, uint32_t* dst, int32_t count) {
    uint32_t lastColour = 0xFFFFFFFFu; // no colour: above 24 bits
    uint32_t lastWord = 0;
    for (int32_t i = 0; i < count; ++i) {
        int red, green, blue;
        Components<S>(src[i], red, green, blue);
        const auto colour = static_cast<uint32_t>(red | (green << 8) | (blue << 16));
        if (colour != lastColour) {
            int out[3];
            MapColour(data, red, green, blue, out);
            lastColour = colour;
            lastWord = Stored<D>(out[0], out[1], out[2]);
        }
        dst[i] = lastWord;
    }
}

// The nodes the vector map reads (simd/lut3d.h), copied out of the table; null without memory.
struct alignas(32) MapNode {
    double entry[4];
};
std::unique_ptr<MapNode[]> MapNodes(const double* table) {
    constexpr int n = simd::kLut3DMapNodes;
    std::unique_ptr<MapNode[]> nodes(new (std::nothrow) MapNode[n * n * n]);
    for (int i = 0; nodes && i < n * n * n; ++i) {
        const double* node = table + EntryIndex(i / n / n, i / n % n, i % n, 0);
        nodes[i] = {{node[0], node[1], node[2], 0}};
    }
    return nodes;
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
    if (!writer.NewPictureWriter(reader)) return false;

    const FilterRectangle rect = ResolveFilterRectangle(data->MinX, data->MinY, data->MaxX,
                                                        data->MaxY, reader.width, reader.height);
    WithLayoutGroups(reader.pixelType, writer.pixelType, [&](auto s, auto d) {
        constexpr LayoutGroup S = decltype(s)::value, D = decltype(d)::value;
        const simd::Lut3DFn kernel = simd::MapRowThroughLut3D();
        if (const auto nodes = kernel ? MapNodes(data->table) : nullptr) {
            WalkSpanRowsInStep(
                reader, writer, rect, [&](const uint32_t* src, uint32_t* dst, int32_t n) {
                    kernel(nodes[0].entry, src, dst, n, PlacesOf<S>(), PlacesOf<D>());
                });
            return;
        }
        WalkSpanRowsInStep(reader, writer, rect,
                           [&](const uint32_t* src, uint32_t* dst, int32_t n) {
                               MapRowIn<S, D>(data, src, dst, n);
                           });
    });

    data->DestinationPicture = writer.RenderPictureWriter();
    reader.clear();
    return data->DestinationPicture != nullptr;
}

} // namespace lut3d
