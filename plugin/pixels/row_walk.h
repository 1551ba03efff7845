// The acquisition and row walk of the operations that read several pictures and write one: the
// readers acquired in order, a writer, and the rows walked in step with every source row given in
// the writer's layout group, so that each operation has one loop per group whatever layouts its
// sources come in.
#pragma once

#include <array>
#include <cstdint>

#include "pixels/editor.h"
#include "pixels/layout_walk.h"

template <size_t N> class RowWalk {
  public:
    // Readers on the pictures, in order; false at the first one that cannot be read. Whatever was
    // acquired is released by the destructors, on this and every later failure.
    bool Read(const std::array<REALpicture, N>& pictures) {
        for (size_t i = 0; i < N; ++i)
            if (!readers[i].GetPictureReader(pictures[i])) return false;
        return true;
    }

    // Walks rows 0 to H - 1, columns 0 to W - 1, of the readers and the writer in step:
    // row(GroupTag, dst, n, src) is given n destination pixels and, for each reader, the same
    // columns of its row in the writer's group. A row of another group is converted a block at a
    // time; alpha is not carried over (a converted word is opaque).
    template <class Row> void Rows(int32_t W, int32_t H, const Row& row) {
        writingLargeOutput = IsLargeOutput(W, H);
        WithLayoutGroup(writer.pixelType, [&](auto group) {
            constexpr LayoutGroup G = decltype(group)::value;
            for (int32_t y = 0; y < H; ++y) {
                for (int32_t x = 0; x < W; x += kBlock) {
                    const int32_t n = W - x < kBlock ? W - x : kBlock;
                    std::array<const uint32_t*, N> src;
                    for (size_t i = 0; i < N; ++i)
                        src[i] = InGroup<G>(readers[i], x, n, converted[i]);
                    row(group, writer.rowPointer + x, n, src);
                }
                writer.AddPixelRow();
                for (PictureReader& reader : readers)
                    reader.AddPixelRow();
            }
        });
        writingLargeOutput = false;
    }

    std::array<PictureReader, N> readers;
    PictureWriter writer;

  private:
    static constexpr int32_t kBlock = 1024;

    // Columns x to x + n - 1 of the reader's current row in group G: the row itself when it is
    // of that group, else the block converted into buffer.
    template <LayoutGroup G>
    static const uint32_t* InGroup(PictureReader& reader, int32_t x, int32_t n,
                                   std::array<uint32_t, kBlock>& buffer) {
        const uint32_t* row = reader.rowPointer + x;
        if (GroupOf(reader.pixelType) == G) return row;
        WithLayoutGroup(reader.pixelType, [&](auto from) {
            constexpr LayoutGroup S = decltype(from)::value;
            for (int32_t i = 0; i < n; ++i)
                buffer[i] = Pack<G>(RedOf<S>(row[i]), GreenOf<S>(row[i]), BlueOf<S>(row[i]));
        });
        return buffer.data();
    }

    std::array<std::array<uint32_t, kBlock>, N> converted;
};
