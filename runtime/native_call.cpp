// Calls through libffi: the call interface is described from NativeType lists at run time.
#include "native_call.h"

#include <ffi.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace qrx {

namespace {

ffi_type* ffiTypeOf(NativeType type) {
    switch (type) {
    case NativeType::Void:
        return &ffi_type_void;
    case NativeType::Int32:
        return &ffi_type_sint32;
    case NativeType::UInt32:
        return &ffi_type_uint32;
    case NativeType::Double:
        return &ffi_type_double;
    case NativeType::UInt8:
        return &ffi_type_uint8;
    case NativeType::Pointer:
        return &ffi_type_pointer;
    }
    throw std::invalid_argument("unknown native type " + std::to_string(static_cast<int>(type)));
}

} // namespace

NativeType nativeTypeOf(const Type& type, bool byRef) {
    if (byRef) return NativeType::Pointer;
    switch (type.kind) {
    case TypeKind::Integer:
        return NativeType::Int32;
    case TypeKind::UInt32:
    case TypeKind::Color:
        return NativeType::UInt32;
    case TypeKind::Double:
        return NativeType::Double;
    case TypeKind::Boolean:
        return NativeType::UInt8;
    case TypeKind::String:
    case TypeKind::Picture:
    case TypeKind::MemoryBlock:
    case TypeKind::Object:
        return NativeType::Pointer;
    }
    throw std::invalid_argument("unknown type kind of \"" + type.name + "\"");
}

// The call interface is prepared afresh for every call: preparing it costs little next to the
// picture work behind any registered method, and it keeps the call free of shared state.
NativeValue callNative(void* fn, NativeType result, std::span<const NativeType> params,
                       std::span<const NativeValue> args) {
    if (fn == nullptr) throw std::invalid_argument("native call through a null function");
    if (params.size() != args.size()) {
        throw std::invalid_argument("native call with " + std::to_string(args.size()) +
                                    " arguments for " + std::to_string(params.size()) +
                                    " parameters");
    }
    std::vector<ffi_type*> types;
    std::vector<void*> values;
    types.reserve(params.size());
    values.reserve(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
        if (params[i] == NativeType::Void) {
            throw std::invalid_argument("native call with a void parameter at position " +
                                        std::to_string(i + 1));
        }
        types.push_back(ffiTypeOf(params[i]));
        // Every member of the union starts at its address; libffi only reads argument values.
        values.push_back(const_cast<NativeValue*>(&args[i]));
    }

    ffi_cif cif;
    if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(types.size()), ffiTypeOf(result),
                     types.data()) != FFI_OK) {
        throw std::runtime_error("cannot prepare a native call interface");
    }

    // libffi widens integral results narrower than a register into a full ffi_arg.
    union {
        ffi_arg integral;
        double f64;
        void* ptr;
    } ret{};
    ffi_call(&cif, FFI_FN(fn), &ret, values.data());

    NativeValue out{};
    out.ptr = nullptr;
    switch (result) {
    case NativeType::Void:
        break;
    case NativeType::Int32:
        out.i32 = static_cast<int32_t>(ret.integral);
        break;
    case NativeType::UInt32:
        out.u32 = static_cast<uint32_t>(ret.integral);
        break;
    case NativeType::UInt8:
        out.u8 = static_cast<uint8_t>(ret.integral);
        break;
    case NativeType::Double:
        out.f64 = ret.f64;
        break;
    case NativeType::Pointer:
        out.ptr = ret.ptr;
        break;
    }
    return out;
}

} // namespace qrx
