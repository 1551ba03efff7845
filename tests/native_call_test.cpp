// Calls through callNative to local functions of many shapes: results, argument order and
// side effects through pointers.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "native_call.h"

namespace qrx {
namespace {

using NT = NativeType;

NativeValue i32(int32_t v) {
    NativeValue n{};
    n.i32 = v;
    return n;
}
NativeValue u32(uint32_t v) {
    NativeValue n{};
    n.u32 = v;
    return n;
}
NativeValue f64(double v) {
    NativeValue n{};
    n.f64 = v;
    return n;
}
NativeValue u8(uint8_t v) {
    NativeValue n{};
    n.u8 = v;
    return n;
}
NativeValue ptr(void* v) {
    NativeValue n{};
    n.ptr = v;
    return n;
}

template <class F> void* fnAddress(F* f) {
    return reinterpret_cast<void*>(f);
}

NativeValue call(void* fn, NT result, std::vector<NT> params, std::vector<NativeValue> args) {
    return callNative(fn, result, params, args);
}

int noArgsCalls = 0;
void noArgs() {
    ++noArgsCalls;
}
int32_t answer() {
    return -42;
}
int32_t negate(int32_t a) {
    return -a;
}
uint32_t halfUnsigned(uint32_t a) {
    return a / 2;
}
uint8_t isOdd(int32_t a) {
    return static_cast<uint8_t>(a & 1);
}
bool boolAnd(bool a, bool b) {
    return a && b;
}
bool isNegative(double d) {
    return d < 0;
}
uint8_t maxByte() {
    return 255;
}
double scale(int32_t a, double b) {
    return a * b;
}
// Positional weights catch swapped arguments.
int32_t weighted3(int32_t a, int32_t b, int32_t c) {
    return a * 100 + b * 10 + c;
}
double mixed(int32_t a, double b, uint32_t c, uint8_t flag, double d) {
    return flag ? a + b * 10 + c * 100.0 + d * 1000 : -1;
}
// Doubles after integers and integers after doubles, beyond the registers of either class.
double manyDoubles(int32_t n, double a, double b, double c, double d, double e, double f, double g,
                   double h, double i, double j) {
    return n * (a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f + 7 * g + 8 * h + 9 * i + 10 * j);
}
int64_t manyIntsSum = 0;
void* manyInts(void* self, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, uint32_t col1,
               uint32_t col2, uint32_t col3, int32_t bits, uint8_t autoScale) {
    manyIntsSum = a + 2LL * b + 3LL * c + 4LL * d + 5LL * e + 6LL * col1 + 7LL * col2 + 8LL * col3 +
                  9LL * bits + 10LL * autoScale;
    return self;
}
// Writes through byref pointers: the shape of a method with byref integer results.
uint8_t findAt(void* pic, int32_t* x, int32_t* y) {
    if (pic == nullptr) return 0;
    *x = 17;
    *y = -3;
    return 1;
}
void swapPointers(void** a, void** b) {
    void* t = *a;
    *a = *b;
    *b = t;
}
double readDouble(const double* p) {
    return *p;
}

TEST(NativeCall, VoidAndNoArguments) {
    noArgsCalls = 0;
    NativeValue r = call(fnAddress(noArgs), NT::Void, {}, {});
    EXPECT_EQ(noArgsCalls, 1);
    EXPECT_EQ(r.ptr, nullptr);
    EXPECT_EQ(call(fnAddress(answer), NT::Int32, {}, {}).i32, -42);
}

struct IntCase {
    void* fn;
    NT result;
    NT param;
    NativeValue arg;
    uint32_t expectedBits; // the result's bits as 32-bit unsigned
};

TEST(NativeCall, SingleArgumentResults) {
    const IntCase cases[] = {
        {fnAddress(negate), NT::Int32, NT::Int32, i32(5), static_cast<uint32_t>(-5)},
        {fnAddress(negate), NT::Int32, NT::Int32, i32(-2147483647), 2147483647u},
        {fnAddress(halfUnsigned), NT::UInt32, NT::UInt32, u32(0xFFFFFFFEu), 0x7FFFFFFFu},
        {fnAddress(isOdd), NT::UInt8, NT::Int32, i32(-7), 1},
        {fnAddress(isOdd), NT::UInt8, NT::Int32, i32(8), 0},
        {fnAddress(isNegative), NT::UInt8, NT::Double, f64(-0.5), 1},
        {fnAddress(isNegative), NT::UInt8, NT::Double, f64(0.5), 0},
    };
    for (const IntCase& c : cases) {
        NativeValue r = callNative(c.fn, c.result, std::span(&c.param, 1), std::span(&c.arg, 1));
        uint32_t bits = c.result == NT::UInt8   ? r.u8
                        : c.result == NT::Int32 ? static_cast<uint32_t>(r.i32)
                                                : r.u32;
        EXPECT_EQ(bits, c.expectedBits);
    }
    EXPECT_EQ(call(fnAddress(maxByte), NT::UInt8, {}, {}).u8, 255);
}

TEST(NativeCall, BooleanArgumentsAndResult) {
    const std::pair<uint8_t, uint8_t> inputs[] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
    for (auto [a, b] : inputs) {
        NativeValue r = call(fnAddress(boolAnd), NT::UInt8, {NT::UInt8, NT::UInt8}, {u8(a), u8(b)});
        EXPECT_EQ(r.u8, (a && b) ? 1 : 0) << int(a) << "," << int(b);
    }
}

TEST(NativeCall, ArgumentOrderAndMixedClasses) {
    EXPECT_EQ(call(fnAddress(weighted3), NT::Int32, {NT::Int32, NT::Int32, NT::Int32},
                   {i32(1), i32(2), i32(3)})
                  .i32,
              123);
    EXPECT_EQ(call(fnAddress(weighted3), NT::Int32, {NT::Int32, NT::Int32, NT::Int32},
                   {i32(-1), i32(0), i32(-9)})
                  .i32,
              -109);
    EXPECT_DOUBLE_EQ(
        call(fnAddress(scale), NT::Double, {NT::Int32, NT::Double}, {i32(-3), f64(1.5)}).f64, -4.5);
    EXPECT_DOUBLE_EQ(call(fnAddress(mixed), NT::Double,
                          {NT::Int32, NT::Double, NT::UInt32, NT::UInt8, NT::Double},
                          {i32(-1), f64(0.5), u32(3), u8(1), f64(2.0)})
                         .f64,
                     -1 + 5 + 300 + 2000);
    EXPECT_DOUBLE_EQ(call(fnAddress(mixed), NT::Double,
                          {NT::Int32, NT::Double, NT::UInt32, NT::UInt8, NT::Double},
                          {i32(-1), f64(0.5), u32(3), u8(0), f64(2.0)})
                         .f64,
                     -1.0);
}

TEST(NativeCall, ElevenArguments) {
    std::vector<NT> types(11, NT::Double);
    types[0] = NT::Int32;
    std::vector<NativeValue> args{i32(-2)};
    for (int k = 1; k <= 10; ++k)
        args.push_back(f64(k * 0.5));
    double expected = 0;
    for (int k = 1; k <= 10; ++k)
        expected += k * (k * 0.5);
    EXPECT_DOUBLE_EQ(call(fnAddress(manyDoubles), NT::Double, types, args).f64, -2 * expected);

    int self = 0;
    manyIntsSum = 0;
    NativeValue r = call(fnAddress(manyInts), NT::Pointer,
                         {NT::Pointer, NT::Int32, NT::Int32, NT::Int32, NT::Int32, NT::Int32,
                          NT::UInt32, NT::UInt32, NT::UInt32, NT::Int32, NT::UInt8},
                         {ptr(&self), i32(1), i32(-2), i32(3), i32(-4), i32(5), u32(0x88B5C4),
                          u32(0x274C5A), u32(0xFFFFFFFFu), i32(8), u8(1)});
    EXPECT_EQ(r.ptr, &self);
    EXPECT_EQ(manyIntsSum,
              1 - 4 + 9 - 16 + 25 + 6LL * 0x88B5C4 + 7LL * 0x274C5A + 8LL * 0xFFFFFFFFLL + 72 + 10);
}

TEST(NativeCall, ByRefPointers) {
    int32_t x = 0, y = 0;
    int pic = 0;
    NativeValue found = call(fnAddress(findAt), NT::UInt8, {NT::Pointer, NT::Pointer, NT::Pointer},
                             {ptr(&pic), ptr(&x), ptr(&y)});
    EXPECT_EQ(found.u8, 1);
    EXPECT_EQ(x, 17);
    EXPECT_EQ(y, -3);

    x = 5;
    y = 6;
    NativeValue missing =
        call(fnAddress(findAt), NT::UInt8, {NT::Pointer, NT::Pointer, NT::Pointer},
             {ptr(nullptr), ptr(&x), ptr(&y)});
    EXPECT_EQ(missing.u8, 0);
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 6);

    int a = 1, b = 2;
    void* pa = &a;
    void* pb = &b;
    call(fnAddress(swapPointers), NT::Void, {NT::Pointer, NT::Pointer}, {ptr(&pa), ptr(&pb)});
    EXPECT_EQ(pa, &b);
    EXPECT_EQ(pb, &a);

    double d = -0.125;
    EXPECT_EQ(call(fnAddress(readDouble), NT::Double, {NT::Pointer}, {ptr(&d)}).f64, -0.125);
}

TEST(NativeCall, RefusesBadCalls) {
    EXPECT_THROW(call(nullptr, NT::Void, {}, {}), std::invalid_argument);
    EXPECT_THROW(call(fnAddress(negate), NT::Int32, {NT::Int32}, {}), std::invalid_argument);
    EXPECT_THROW(call(fnAddress(negate), NT::Int32, {NT::Void}, {i32(1)}), std::invalid_argument);
}

TEST(NativeTypeOf, MapsDeclaredTypes) {
    struct Case {
        TypeKind kind;
        bool byRef;
        NT expected;
    };
    const Case cases[] = {
        {TypeKind::Integer, false, NT::Int32},      {TypeKind::UInt32, false, NT::UInt32},
        {TypeKind::Color, false, NT::UInt32},       {TypeKind::Double, false, NT::Double},
        {TypeKind::Boolean, false, NT::UInt8},      {TypeKind::String, false, NT::Pointer},
        {TypeKind::Picture, false, NT::Pointer},    {TypeKind::MemoryBlock, false, NT::Pointer},
        {TypeKind::Object, false, NT::Pointer},     {TypeKind::Integer, true, NT::Pointer},
        {TypeKind::Double, true, NT::Pointer},      {TypeKind::Boolean, true, NT::Pointer},
        {TypeKind::MemoryBlock, true, NT::Pointer},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nativeTypeOf(Type{c.kind, "t"}, c.byRef), c.expected)
            << static_cast<int>(c.kind) << " byref " << c.byRef;
    }
}

// A parsed declaration drives the call: the path the runtime takes for a registered method.
TEST(NativeCall, FromParsedDeclaration) {
    Declaration d = parseDeclaration("Table(r as UInt32, g as UInt32, b as UInt32) as double");
    std::vector<NT> types;
    for (const Param& p : d.params)
        types.push_back(nativeTypeOf(p.type, p.byRef));
    auto table = +[](uint32_t r, uint32_t g, uint32_t b) -> double { return r * 0.5 + g - b; };
    NativeValue v =
        call(fnAddress(table), nativeTypeOf(*d.result), types, {u32(7), u32(100), u32(1)});
    EXPECT_DOUBLE_EQ(v.f64, 102.5);
}

} // namespace
} // namespace qrx
