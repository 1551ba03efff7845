// Declarations as a plugin hands them over: any text is parsed or refused with DeclarationError.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "qrx/declaration.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        qrx::Declaration d = qrx::parseDeclaration(text);
        // What a parsed declaration promises: its required parameters come first.
        if (d.requiredCount() > d.params.size()) __builtin_trap();
        for (size_t i = d.requiredCount(); i < d.params.size(); ++i)
            if (!d.params[i].defaultValue) __builtin_trap();
    } catch (const qrx::DeclarationError&) {
    }
    return 0;
}
