// .cube texts: parsed and resampled onto the filter's grid, or refused with CubeError.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cube.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        qrx::cli::Cube cube = qrx::cli::parseCube(text, "fuzz.cube");
        if (cube.is3D()) {
            if (cube.data.size() != size_t(cube.size3D) * cube.size3D * cube.size3D)
                __builtin_trap();
            auto table = qrx::cli::lutTable(cube);
            if (table.size() !=
                size_t(qrx::cli::kLutNodes) * qrx::cli::kLutNodes * qrx::cli::kLutNodes * 3)
                __builtin_trap();
        } else {
            if (cube.data.size() != size_t(cube.size1D)) __builtin_trap();
            (void)qrx::cli::curveTables(cube);
        }
    } catch (const qrx::cli::CubeError&) {
    }
    return 0;
}
