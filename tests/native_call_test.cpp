// Calls through callNative to local functions of many shapes, one row each: results of every type,
// argument order (positional weights catch swapped arguments), arguments beyond the registers of
// either class, and writes through byref pointers.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "native_call.h"

namespace qrx {
namespace {

int32_t gX = 0, gY = 0;
int gCalls = 0;
double gRead = -0.125;

// The functions called, each of its own shape.
struct F {
    static NativeValue i32(int32_t v) { return NativeValue{.i32 = v}; }
    static NativeValue u32(uint32_t v) { return NativeValue{.u32 = v}; }
    static NativeValue f64(double v) { return NativeValue{.f64 = v}; }
    static NativeValue u8(uint8_t v) { return NativeValue{.u8 = v}; }
    static NativeValue ptr(void* v) { return NativeValue{.ptr = v}; }

    static void noArgs() { ++gCalls; }
    static int32_t negate(int32_t a) { return -a; }
    static uint32_t halfUnsigned(uint32_t a) { return a / 2; }
    static uint8_t isOdd(int32_t a) { return uint8_t(a & 1); }
    static bool boolAnd(bool a, bool b) { return a && b; }
    static bool isNegative(double d) { return d < 0; }
    static uint8_t maxByte() { return 255; }
    static double mixed(int32_t a, double b, uint32_t c, uint8_t flag, double d) {
        return flag ? a + b * 10 + c * 100.0 + d * 1000 : -1;
    }
    static double manyDoubles(int32_t n, double a, double b, double c, double d, double e, double f,
                              double g, double h, double i, double j) {
        return n * (a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f + 7 * g + 8 * h + 9 * i + 10 * j);
    }
    static double manyInts(void* self, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e,
                           uint32_t c1, uint32_t c2, uint32_t c3, int32_t bits, uint8_t flag) {
        return (self ? 1e12 : 0) + a + 2. * b + 3. * c + 4. * d + 5. * e + 6. * c1 + 7. * c2 +
               8. * c3 + 9. * bits + 10. * flag;
    }
    static uint8_t findAt(void* pic, int32_t* x, int32_t* y) {
        return pic ? (*x = 17, *y = -3, 1) : 0;
    }
    static double readDouble(const double* p) { return *p; }
    static void* second(void* a, void* b) { return a ? b : nullptr; }
};
using enum NativeType;

struct NativeCase {
    const char* name;
    void* fn;
    NativeType result;
    std::vector<NativeType> params;
    std::vector<NativeValue> args;
    double expected; // the result as a number (Pointer: compared to args[1].ptr when not 0)
};

template <class Fn> void* fn(Fn* f) {
    return reinterpret_cast<void*>(f);
}

TEST(NativeCall, EveryShape) {
    static int self = 0;
    const std::vector<NativeType> elevenDoubles = {Int32,  Double, Double, Double, Double, Double,
                                                   Double, Double, Double, Double, Double};
    const NativeCase cases[] = {
        {"void", fn(F::noArgs), Void, {}, {}, 0},
        {"negate_max", fn(F::negate), Int32, {Int32}, {F::i32(-2147483647)}, 2147483647},
        {"unsigned", fn(F::halfUnsigned), UInt32, {UInt32}, {F::u32(0xFFFFFFFEu)}, 0x7FFFFFFF},
        {"byte_odd", fn(F::isOdd), UInt8, {Int32}, {F::i32(-7)}, 1},
        {"bool_of_double", fn(F::isNegative), UInt8, {Double}, {F::f64(-0.5)}, 1},
        {"bools_01", fn(F::boolAnd), UInt8, {UInt8, UInt8}, {F::u8(0), F::u8(1)}, 0},
        {"bools_11", fn(F::boolAnd), UInt8, {UInt8, UInt8}, {F::u8(1), F::u8(1)}, 1},
        {"max_byte", fn(F::maxByte), UInt8, {}, {}, 255},
        {"mixed_classes",
         fn(F::mixed),
         Double,
         {Int32, Double, UInt32, UInt8, Double},
         {F::i32(-1), F::f64(0.5), F::u32(3), F::u8(1), F::f64(2.0)},
         -1 + 5 + 300 + 2000},
        {"eleven_doubles",
         fn(F::manyDoubles),
         Double,
         elevenDoubles,
         {F::i32(-2), F::f64(.5), F::f64(1), F::f64(1.5), F::f64(2), F::f64(2.5), F::f64(3),
          F::f64(3.5), F::f64(4), F::f64(4.5), F::f64(5)},
         -2 * 192.5},
        {"eleven_integers",
         fn(F::manyInts),
         Double,
         {Pointer, Int32, Int32, Int32, Int32, Int32, UInt32, UInt32, UInt32, Int32, UInt8},
         {F::ptr(&self), F::i32(1), F::i32(-2), F::i32(3), F::i32(-4), F::i32(5), F::u32(0x88B5C4),
          F::u32(0x274C5A), F::u32(0xFFFFFFFFu), F::i32(8), F::u8(1)},
         1e12 + 15 + 6. * 0x88B5C4 + 7. * 0x274C5A + 8. * 0xFFFFFFFF + 72 + 10},
        {"byref_found",
         fn(F::findAt),
         UInt8,
         {Pointer, Pointer, Pointer},
         {F::ptr(&self), F::ptr(&gX), F::ptr(&gY)},
         1},
        {"read_through_pointer", fn(F::readDouble), Double, {Pointer}, {F::ptr(&gRead)}, -0.125},
        {"pointer_result",
         fn(F::second),
         Pointer,
         {Pointer, Pointer},
         {F::ptr(&self), F::ptr(&gRead)},
         1},
    };
    for (const NativeCase& c : cases) {
        gCalls = 0, gX = 0, gY = 0;
        const NativeValue r = callNative(c.fn, c.result, c.params, c.args);
        const double got = c.result == Int32     ? r.i32
                           : c.result == UInt32  ? r.u32
                           : c.result == UInt8   ? r.u8
                           : c.result == Double  ? r.f64
                           : c.result == Pointer ? (r.ptr == c.args[1].ptr ? 1 : 0)
                                                 : (r.ptr == nullptr ? 0 : 1);
        EXPECT_EQ(got, c.expected) << c.name;
        EXPECT_EQ(gCalls, c.fn == fn(F::noArgs) ? 1 : 0) << c.name;
        EXPECT_EQ(std::pair(gX, gY), c.fn == fn(F::findAt) ? std::pair(17, -3) : std::pair(0, 0));
    }
}

TEST(NativeCall, RefusesBadCalls) {
    const NativeType one[] = {Int32}, none[] = {Void};
    const NativeValue arg[] = {F::i32(1)};
    EXPECT_THROW(callNative(nullptr, Void, {}, {}), std::invalid_argument);
    EXPECT_THROW(callNative(fn(F::negate), Int32, one, {}), std::invalid_argument);
    EXPECT_THROW(callNative(fn(F::negate), Int32, none, arg), std::invalid_argument);
}

// A parsed declaration drives the call, as the runtime calls a registered method: every declared
// type as its C type, byref ones as pointers.
TEST(NativeCall, FromParsedDeclaration) {
    const Declaration d = parseDeclaration(
        "T(a as integer, b as UInt32, c as color, d as double, e as boolean, f as string, g as "
        "picture, h as memoryblock, i as Graphics, byref j as double) as double");
    std::vector<NativeType> types;
    for (const Param& p : d.params)
        types.push_back(nativeTypeOf(p.type, p.byRef));
    EXPECT_EQ(types, (std::vector<NativeType>{Int32, UInt32, UInt32, Double, UInt8, Pointer,
                                              Pointer, Pointer, Pointer, Pointer}));
    auto table = +[](int32_t a, uint32_t b, uint32_t c, double d, uint8_t e, void*, void*, void*,
                     void*, double* j) -> double { return a + b * 2.0 + c * 4.0 + d + e + *j; };
    double j = 0.25;
    const NativeValue v =
        callNative(fn(table), nativeTypeOf(*d.result), types,
                   std::vector<NativeValue>{F::i32(-1), F::u32(3), F::u32(5), F::f64(0.5), F::u8(1),
                                            F::ptr(nullptr), F::ptr(nullptr), F::ptr(nullptr),
                                            F::ptr(nullptr), F::ptr(&j)});
    EXPECT_EQ(v.f64, -1 + 6 + 20 + 0.5 + 1 + 0.25);
}

} // namespace
} // namespace qrx
