// Calls through callNative to local functions of many shapes, one row each: results of every type,
// argument order (positional weights catch swapped arguments), arguments beyond the registers of
// the floating-point class, and writes through byref pointers. (The declared types of every
// registered method, up to twelve integer-class arguments, reach it through the driver's calls.)
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "native_call.h"

namespace qrx {
namespace {

int32_t gX = 0, gY = 0;
int gCalls = 0;
double gTarget = 0; // an address for the pointer result

// The functions called, each of its own shape.
struct F {
    static void noArgs() { ++gCalls; }
    static int32_t negate(int32_t a) { return -a; }
    static uint32_t halfUnsigned(uint32_t a) { return a / 2; }
    static uint8_t isOdd(int32_t a) { return uint8_t(a & 1); }
    static bool boolAnd(bool a, bool b) { return a && b; }
    static double mixed(int32_t a, double b, uint32_t c, uint8_t flag, double d) {
        return flag ? a + b * 10 + c * 100.0 + d * 1000 : -1;
    }
    static double manyDoubles(int32_t n, double a, double b, double c, double d, double e, double f,
                              double g, double h, double i, double j) {
        return n * (a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f + 7 * g + 8 * h + 9 * i + 10 * j);
    }
    static uint8_t findAt(void* pic, int32_t* x, int32_t* y) {
        return pic ? (*x = 17, *y = -3, 1) : 0;
    }
    static void* second(void* a, void* b) { return a ? b : nullptr; }
};
template <class Fn> void* fn(Fn* f) {
    return reinterpret_cast<void*>(f);
}
using enum NativeType;
constexpr auto I = [](int32_t v) { return NativeValue{.i32 = v}; };
constexpr auto U = [](uint32_t v) { return NativeValue{.u32 = v}; };
constexpr auto D = [](double v) { return NativeValue{.f64 = v}; };
constexpr auto B = [](uint8_t v) { return NativeValue{.u8 = v}; };
constexpr auto P = [](void* v) { return NativeValue{.ptr = v}; };

struct NativeCase {
    const char* name;
    void* fn;
    NativeType result;
    std::vector<NativeType> params;
    std::vector<NativeValue> args;
    double expected; // the result as a number; a Pointer result: 1 when it is &gTarget
};

TEST(NativeCall, EveryShape) {
    // clang-format off
    const NativeCase cases[] = {
        {"void", fn(F::noArgs), Void, {}, {}, 0},
        {"negate_max", fn(F::negate), Int32, {Int32}, {I(-2147483647)}, 2147483647},
        {"unsigned", fn(F::halfUnsigned), UInt32, {UInt32}, {U(0xFFFFFFFEu)}, 0x7FFFFFFF},
        {"byte_odd", fn(F::isOdd), UInt8, {Int32}, {I(-7)}, 1},
        {"bools", fn(F::boolAnd), UInt8, {UInt8, UInt8}, {B(1), B(1)}, 1},
        {"mixed_classes", fn(F::mixed), Double, {Int32, Double, UInt32, UInt8, Double},
         {I(-1), D(0.5), U(3), B(1), D(2.0)}, -1 + 5 + 300 + 2000},
        {"eleven_doubles", fn(F::manyDoubles), Double, {Int32, Double, Double, Double, Double,
         Double, Double, Double, Double, Double, Double}, {I(-2), D(.5), D(1), D(1.5), D(2),
         D(2.5), D(3), D(3.5), D(4), D(4.5), D(5)}, -2 * 192.5},
        {"byref_found", fn(F::findAt), UInt8, {Pointer, Pointer, Pointer},
         {P(&gTarget), P(&gX), P(&gY)}, 1},
        {"pointer_result", fn(F::second), Pointer, {Pointer, Pointer}, {P(&gX), P(&gTarget)}, 1},
    };
    // clang-format on
    for (const NativeCase& c : cases) {
        gCalls = 0, gX = 0, gY = 0;
        const NativeValue r = callNative(c.fn, c.result, c.params, c.args);
        const double got = c.result == Int32     ? r.i32
                           : c.result == UInt32  ? r.u32
                           : c.result == UInt8   ? r.u8
                           : c.result == Double  ? r.f64
                           : c.result == Pointer ? double(r.ptr == &gTarget)
                                                 : double(r.ptr != nullptr);
        EXPECT_EQ(got, c.expected) << c.name;
        EXPECT_EQ(gCalls, c.fn == fn(F::noArgs) ? 1 : 0) << c.name;
        EXPECT_EQ(std::pair(gX, gY), c.fn == fn(F::findAt) ? std::pair(17, -3) : std::pair(0, 0));
    }
}

TEST(NativeCall, RefusesBadCalls) {
    const NativeType one[] = {Int32}, none[] = {Void};
    const NativeValue arg[] = {I(1)};
    EXPECT_THROW(callNative(nullptr, Void, {}, {}), std::invalid_argument);
    EXPECT_THROW(callNative(fn(F::negate), Int32, one, {}), std::invalid_argument);
    EXPECT_THROW(callNative(fn(F::negate), Int32, none, arg), std::invalid_argument);
}

} // namespace
} // namespace qrx
