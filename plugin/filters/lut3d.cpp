#include "filters/lut3d.h"

#include "filters/walk.h"
#include "host/services.h"
#include "ops/operations.h"
#include "pixels/editor.h"
#include "pixels/layout_walk.h"
#include "simd/lut3d.h"

#include <memory>
#include <new>

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

// Table offsets between neighbouring nodes on the red, green and blue axes.
constexpr int32_t kAxisStride[3] = {kLut3DNodes * kLut3DNodes * 3, kLut3DNodes * 3, 3};

// The cell of one component value on one axis as table offsets: where the entries of its lower
// node start on that axis, and how far those of its upper node lie from them (0 for 255, whose
// cell is node 15 alone).
struct AxisCell {
    int32_t base;
    int32_t step;
};

// Everything about a colour's cell that depends on its components alone, worked out at compile
// time: the scalar loop then looks up what Run's cell arithmetic and the tetrahedron tests of
// SumXYZ work out.
struct CellTables {
    AxisCell axis[3][256];
    // v - 17 * (v / 17): the position of v in its cell in seventeenths; its fraction is this
    // divided by 17.0, so fractions compare as these positions do.
    uint8_t position[256];
    // The tetrahedron SumXYZ picks, 0 to 5 in the order of its tests, by the positions
    // (r * 17 + g) * 17 + b of the three components.
    uint8_t tetrahedron[kNodeStep * kNodeStep * kNodeStep];
};

constexpr int TetrahedronOf(int fr, int fg, int fb) {
    if (fr > fg) {
        if (fg > fb) return 0;
        return fr > fb ? 1 : 2;
    }
    if (fb > fg) return 3;
    return fb > fr ? 4 : 5;
}

constexpr CellTables MakeCellTables() {
    CellTables t{};
    for (int v = 0; v < 256; ++v) {
        const int i0 = v / kNodeStep;
        const int i1 = i0 + 1 > kLastRunNode ? kLastRunNode : i0 + 1;
        for (int a = 0; a < 3; ++a)
            t.axis[a][v] = {i0 * kAxisStride[a], (i1 - i0) * kAxisStride[a]};
        t.position[v] = static_cast<uint8_t>(v - kNodeStep * i0);
    }
    for (int r = 0; r < kNodeStep; ++r)
        for (int g = 0; g < kNodeStep; ++g)
            for (int b = 0; b < kNodeStep; ++b)
                t.tetrahedron[(r * kNodeStep + g) * kNodeStep + b] =
                    static_cast<uint8_t>(TetrahedronOf(r, g, b));
    return t;
}

constexpr CellTables kCells = MakeCellTables();

// The axes of each tetrahedron from the largest fraction down (0 red, 1 green, 2 blue): its
// corners are P000, the lower corner moved up the first axis, then up the second too, and P111;
// its weights are 1 - fa, fa - fb, fb - fc and fc for the fractions fa, fb, fc of the axes in this
// order. This is every row of SumXYZ, with the same products summed in the same order.
constexpr uint8_t kAxisOrder[6][3] = {{0, 1, 2}, {0, 2, 1}, {2, 0, 1},
                                      {2, 1, 0}, {1, 2, 0}, {1, 0, 2}};

// The fraction of each cell position: (v - 17 * (v / 17)) / 17.0.
struct Fractions {
    double f[kNodeStep];
    Fractions() {
        for (int m = 0; m < kNodeStep; ++m)
            f[m] = m / 17.0;
    }
};

// The three output bytes of one colour, exactly as SumXYZ and ComponentByte give them.
[[gnu::always_inline]] inline void MapColour(const double* table, const Fractions& fractions,
                                             int red, int green, int blue, int out[3]) {
    const AxisCell& cr = kCells.axis[0][red];
    const AxisCell& cg = kCells.axis[1][green];
    const AxisCell& cb = kCells.axis[2][blue];
    const int pr = kCells.position[red], pg = kCells.position[green], pb = kCells.position[blue];
    const uint8_t* order = kAxisOrder[kCells.tetrahedron[(pr * kNodeStep + pg) * kNodeStep + pb]];
    const double f[3] = {fractions.f[pr], fractions.f[pg], fractions.f[pb]};
    const int32_t step[3] = {cr.step, cg.step, cb.step};
    const double fa = f[order[0]], fb = f[order[1]], fc = f[order[2]];
    const double w0 = 1 - fa, w1 = fa - fb, w2 = fb - fc, w3 = fc;
    const double* p0 = table + (cr.base + cg.base + cb.base);
    const double* p1 = p0 + step[order[0]];
    const double* p2 = p1 + step[order[1]];
    const double* p3 = p0 + (cr.step + cg.step + cb.step);
    for (int x = 0; x < 3; ++x)
        out[x] = ComponentByte(w0 * p0[x] + w1 * p1[x] + w2 * p2[x] + w3 * p3[x]);
}

// The scalar loop for one pair of layout groups. A run of equal colours (flat areas, repeated
// pixels) is interpolated once: the word stored is a function of the colour alone.
template <LayoutGroup S, LayoutGroup D>
void MapRowIn(const double* table, const Fractions& fractions, const uint32_t* src, uint32_t* dst,
              int32_t count) {
    uint32_t lastColour = 0xFFFFFFFFu; // no colour: above 24 bits
    uint32_t lastWord = 0;
    for (int32_t i = 0; i < count; ++i) {
        int red, green, blue;
        Components<S>(src[i], red, green, blue);
        const auto colour = static_cast<uint32_t>(red | (green << 8) | (blue << 16));
        if (colour != lastColour) {
            int out[3];
            MapColour(table, fractions, red, green, blue, out);
            lastColour = colour;
            lastWord = Stored<D>(out[0], out[1], out[2]);
        }
        dst[i] = lastWord;
    }
}

// The nodes the vector map reads (simd/lut3d.h), copied out of the table; null if no memory.
struct FreeAligned {
    void operator()(double* p) const { ::operator delete[](p, std::align_val_t(64)); }
};
std::unique_ptr<double[], FreeAligned> MapNodes(const double* table) {
    constexpr int n = simd::kLut3DMapNodes;
    std::unique_ptr<double[], FreeAligned> nodes(
        new (std::align_val_t(64), std::nothrow) double[simd::kLut3DMapEntries]);
    if (!nodes) return nodes;
    double* out = nodes.get();
    for (int r = 0; r < n; ++r)
        for (int g = 0; g < n; ++g)
            for (int b = 0; b < n; ++b, out += 4) {
                const double* node = table + EntryIndex(r, g, b, 0);
                out[0] = node[0];
                out[1] = node[1];
                out[2] = node[2];
                out[3] = 0;
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
    const double* table = data->table;
    WithLayoutGroups(reader.pixelType, writer.pixelType, [&](auto s, auto d) {
        constexpr LayoutGroup S = decltype(s)::value, D = decltype(d)::value;
        const simd::Lut3DFn kernel = simd::MapRowThroughLut3D();
        if (const auto nodes = kernel ? MapNodes(table) : nullptr) {
            WalkSpanRowsInStep(reader, writer, rect,
                               [&](const uint32_t* src, uint32_t* dst, int32_t n) {
                                   kernel(nodes.get(), src, dst, n, PlacesOf<S>(), PlacesOf<D>());
                               });
            return;
        }
        const Fractions fractions;
        WalkSpanRowsInStep(reader, writer, rect,
                           [&](const uint32_t* src, uint32_t* dst, int32_t n) {
                               MapRowIn<S, D>(table, fractions, src, dst, n);
                           });
    });

    data->DestinationPicture = writer.RenderPictureWriter();
    reader.clear();
    return data->DestinationPicture != nullptr;
}

} // namespace lut3d
