#pragma once

#include <cstdint>
#include <string>

#include "core/config_store.h"
#include "core/schema.h"
#include "protocols/tls.h"

namespace zelm {

/// One mailbox's values as a session reads them, with the session's defaults applied.
struct MailboxSettings {
    /// The mailbox key could be opened (a missing key reads as a disabled mailbox).
    bool keyFound = false;
    bool mailboxEnabled = schema::SessionMailboxEnabled;
    bool limitMessageSizeEnabled = schema::SessionLimitMessageSizeEnabled;
    bool acceptListEnabled = schema::SessionAcceptListEnabled;
    bool rejectListEnabled = schema::SessionRejectListEnabled;
    bool forwardToEnabled = schema::SessionForwardToEnabled;
    bool bounceEnabled = schema::SessionBounceEnabled;
    bool deleteEnabled = schema::SessionDeleteEnabled;
    std::int32_t cacheLimit = schema::SessionCache;
    std::int32_t limitSize = schema::SessionLimitSize;
    std::string forwardAddress;
    std::string host;
    std::string userId;
    /// The decoded password.
    std::string password;
    std::int32_t port = schema::SessionPort;
    std::string smtpHost;
    /// The bare sender address taken from "SMTPFrom".
    std::string smtpFrom;
    std::int32_t smtpPort = schema::SessionSMTPPort;
    /// How the POP3 and SMTP conversations are protected, and the certificates accepted.
    ConnectionSecurity pop3Security = ConnectionSecurity::None;
    std::string pop3CertFingerprint;
    ConnectionSecurity smtpSecurity = ConnectionSecurity::None;
    std::string smtpCertFingerprint;
    /// SMTP AUTH with its user name and decoded password.
    bool smtpAuth = schema::SessionSMTPAuth;
    std::string smtpUserId;
    std::string smtpPassword;
    /// AUTH may go over a plain connection to a server on loopback.
    bool smtpPlainAuthLoopback = schema::SessionSMTPPlainAuthLoopback;
};

/// Reads a mailbox's settings afresh; absent values and numbers that are not numbers give the
/// session's defaults (an absent port of a "tls" mailbox: 995 or 465). Throws ZelmError when
/// the store cannot be read, or a security value is none of "none", "starttls" and "tls".
MailboxSettings ReadMailboxSettings(SettingsDb& db, const std::string& mailbox);

} // namespace zelm
