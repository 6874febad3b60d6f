#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelm {

/// What a server's EHLO reply offers that the sender can use.
struct SmtpCapabilities {
    /// "STARTTLS": the connection can be switched to TLS.
    bool startTls = false;
    /// The AUTH mechanisms offered, in upper case, each once, in the server's order.
    std::vector<std::string> authMechanisms;

    /// The mechanism (upper case) is among authMechanisms.
    bool OffersAuth(std::string_view mechanism) const;
};

/// Reads the capability lines of an EHLO reply: every line after the first (the server's
/// greeting) whose code is 250, keywords without regard to case, AUTH also in its old
/// "AUTH=" form. Anything else is passed over.
SmtpCapabilities ParseEhloCapabilities(std::string_view reply);

} // namespace zelm
