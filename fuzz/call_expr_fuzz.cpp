// Call expressions as a user types them: parsed, or refused with a column inside the text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "call_expr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        qrx::cli::CallExpr call = qrx::cli::parseCall(text);
        for (const auto& a : call.args)
            if (a.column < 1 || a.column > size) __builtin_trap();
    } catch (const qrx::cli::CallSyntaxError& e) {
        if (e.column() > size + 1) __builtin_trap();
    }
    return 0;
}
