#pragma once

#include <cstdint>
#include <string>

#include "core/config_store.h"

namespace zelm {

/// One mailbox's values as a session reads them, with the session's defaults applied.
struct MailboxSettings {
    /// The mailbox key could be opened (a missing key reads as a disabled mailbox).
    bool keyFound = false;
    bool mailboxEnabled = false;
    bool limitMessageSizeEnabled = false;
    bool acceptListEnabled = true;
    bool rejectListEnabled = true;
    bool forwardToEnabled = false;
    bool bounceEnabled = false;
    bool deleteEnabled = false;
    std::int32_t cacheLimit = 100;
    std::int32_t limitSize = 30000;
    std::string forwardAddress;
    std::string host;
    std::string userId;
    /// The decoded password.
    std::string password;
    std::int32_t port = 110;
    std::string smtpHost;
    /// The bare sender address taken from "SMTPFrom".
    std::string smtpFrom;
    std::int32_t smtpPort = 25;
};

/// Reads a mailbox's settings afresh; absent values and numbers that are not numbers give the
/// session's defaults. Throws ZelmError when the store cannot be read.
MailboxSettings ReadMailboxSettings(SettingsDb& db, const std::string& mailbox);

} // namespace zelm
