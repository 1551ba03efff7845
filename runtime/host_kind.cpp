#include <algorithm>
#include <cctype>

#include "qrx/host.h"

namespace qrx {

std::string_view hostKindName(HostKind kind) {
    switch (kind) {
    case HostKind::Desktop:
        return "desktop";
    case HostKind::Console:
        return "console";
    case HostKind::Web:
        return "web";
    }
    return "desktop";
}

std::optional<HostKind> hostKindFromName(std::string_view name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    for (HostKind k : {HostKind::Desktop, HostKind::Console, HostKind::Web})
        if (hostKindName(k) == lower) return k;
    return std::nullopt;
}

} // namespace qrx
