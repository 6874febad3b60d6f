// EHLO replies come from any server: no byte string may crash the capability parser, and what
// it reports holds only what the reply offered: upper-case mechanisms without blanks or control
// characters (they reach log lines), each once.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string_view>

#include "protocols/smtp_capabilities.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const zelm::SmtpCapabilities offered = zelm::ParseEhloCapabilities(reply);
    std::set<std::string_view> seen;
    for (const auto& mechanism : offered.authMechanisms) {
        Check(!mechanism.empty());
        Check(seen.insert(mechanism).second);
        for (const char c : mechanism) {
            Check(static_cast<unsigned char>(c) > 32 && !(c >= 'a' && c <= 'z'));
        }
        Check(offered.OffersAuth(mechanism));
    }
    // A capability needs a line of its own after the greeting.
    if (reply.find('\n') == std::string_view::npos) {
        Check(!offered.startTls && offered.authMechanisms.empty());
    }
    return 0;
}
