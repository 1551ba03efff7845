// Calling a registered function whose signature is known only at run time (through libffi).
#pragma once

#include <cstdint>
#include <span>

#include "qrx/declaration.h"

namespace qrx {

enum class NativeType { Void, Int32, UInt32, Double, UInt8, Pointer };

union NativeValue {
    int32_t i32;
    uint32_t u32;
    double f64;
    uint8_t u8;
    void* ptr;
};

// The C type a declared parameter or result travels as: Integer -> Int32, UInt32 and Color ->
// UInt32, Double -> Double, Boolean -> UInt8, objects -> Pointer; any byref parameter -> Pointer
// (the address of a value of its own type).
NativeType nativeTypeOf(const Type& type, bool byRef = false);

// Calls fn(args...) with the C calling convention and returns its result (zero for Void).
NativeValue callNative(void* fn, NativeType result, std::span<const NativeType> params,
                       std::span<const NativeValue> args);

} // namespace qrx
