// Setup shared by the picture operation tests: every host configuration with the matching alpha
// flag, pictures built from listed colours, and the checks every picture result goes through.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "qrx/host.h"
#include "support.h"

namespace optest {

using RGB = std::array<int, 3>;

// Every host configuration, with the pictures' alpha channel flag.
using HostAndAlpha = std::tuple<qrxtest::HostCase, bool>;

inline std::vector<HostAndAlpha> everyHost() {
    std::vector<HostAndAlpha> v;
    for (auto& c : qrxtest::plainHostCases())
        v.emplace_back(c, false);
    for (auto& c : qrxtest::alphaHostCases())
        v.emplace_back(c, true);
    return v;
}

inline std::string hostName(const testing::TestParamInfo<HostAndAlpha>& info) {
    return std::get<0>(info.param).name + (std::get<1>(info.param) ? "_alpha" : "_plain");
}

// A picture holding the given row of colours `rows` times over (so that row strides matter);
// alpha is `alpha` where the picture has an alpha channel.
inline qrx::Image rowImage(const std::vector<RGB>& row, bool hasAlpha, int rows = 1,
                           uint8_t alpha = 77) {
    qrx::Image img;
    img.width = int(row.size());
    img.height = rows;
    img.hasAlpha = hasAlpha;
    for (int y = 0; y < rows; ++y)
        for (const RGB& c : row)
            for (int v : {c[0], c[1], c[2], hasAlpha ? int(alpha) : 255})
                img.rgba.push_back(uint8_t(v));
    return img;
}

inline RGB rgbAt(const qrx::Picture& pic, int x, int y) {
    uint8_t p[4];
    pic.rgba(x, y, p);
    return {p[0], p[1], p[2]};
}

// The picture a call returned, checked to be a new picture of the source's size with an alpha
// channel exactly when `hasAlpha`; null (with a failure) otherwise. The result holds the picture,
// so it must outlive the pointer: a temporary result is refused.
inline const qrx::Picture* newResult(const qrx::CallResult& r, const qrx::Ref& source,
                                     bool hasAlpha) {
    EXPECT_FALSE(r.exception);
    const qrx::Ref* ref = std::get_if<qrx::Ref>(&r.result);
    if (!ref || !*ref) {
        ADD_FAILURE() << "nil result";
        return nullptr;
    }
    const auto* out = ref->as<qrx::Picture>();
    const auto* src = source.as<qrx::Picture>();
    EXPECT_NE(out, src) << "the result must be a new picture";
    EXPECT_EQ(out->width(), src->width());
    EXPECT_EQ(out->height(), src->height());
    EXPECT_EQ(out->hasAlpha(), hasAlpha);
    if (out == src || out->width() != src->width() || out->height() != src->height())
        return nullptr;
    return out;
}
const qrx::Picture* newResult(qrx::CallResult&&, const qrx::Ref&, bool) = delete;

} // namespace optest
