#include "session/mailbox_settings.h"

#include "core/schema.h"
#include "core/string_helpers.h"
#include "core/zelm_error.h"
#include "messages/header_summary.h"

namespace zelm {

namespace {

// A flag that exists is taken as stored; only a missing one gets the session's default.
bool ReadFlag(ConfigStore& key, const char* name, bool defaultValue) {
    return key.ValueExists(name) ? key.ReadBool(name) : defaultValue;
}

// Numbers are kept as typed; text that is not a number reads as the default.
std::int32_t ReadNumber(ConfigStore& key, const char* name, std::int32_t defaultValue) {
    return key.ValueExists(name) ? TextToIntDef(key.ReadString(name), defaultValue) : defaultValue;
}

// A port that is absent or not a number: the usual one for the connection's security.
std::int32_t ReadPort(ConfigStore& key, const char* name, ConnectionSecurity security,
                      std::int32_t plainDefault, std::int32_t tlsDefault) {
    return ReadNumber(key, name, security == ConnectionSecurity::Tls ? tlsDefault : plainDefault);
}

// Never taken as a plain connection: a text that is not understood stops the mailbox.
ConnectionSecurity ReadSecurity(ConfigStore& key, const char* name) {
    const std::string text = key.ReadString(name);
    const auto security = ParseConnectionSecurity(text);
    if (!security) {
        throw ZelmError(std::string(name) + " \"" + text + "\" is none of \"" +
                        schema::SecurityNone + "\", \"" + schema::SecurityStartTls + "\" and \"" +
                        schema::SecurityTls + "\"");
    }
    return *security;
}

} // namespace

MailboxSettings ReadMailboxSettings(SettingsDb& db, const std::string& mailbox) {
    MailboxSettings settings;
    ConfigStore key(db);
    if (!key.OpenKey(MailboxKeyPath(mailbox), false)) {
        return settings;
    }
    settings.keyFound = true;
    settings.mailboxEnabled = ReadFlag(key, schema::MailboxEnabled, schema::SessionMailboxEnabled);
    settings.limitMessageSizeEnabled =
        ReadFlag(key, schema::LimitMessageSizeEnabled, schema::SessionLimitMessageSizeEnabled);
    settings.acceptListEnabled =
        ReadFlag(key, schema::AcceptListEnabled, schema::SessionAcceptListEnabled);
    settings.rejectListEnabled =
        ReadFlag(key, schema::RejectListEnabled, schema::SessionRejectListEnabled);
    settings.forwardToEnabled =
        ReadFlag(key, schema::ForwardToEnabled, schema::SessionForwardToEnabled);
    settings.bounceEnabled = ReadFlag(key, schema::BounceEnabled, schema::SessionBounceEnabled);
    settings.deleteEnabled = ReadFlag(key, schema::DeleteEnabled, schema::SessionDeleteEnabled);
    settings.cacheLimit = ReadNumber(key, schema::Cache, schema::SessionCache);
    settings.limitSize = ReadNumber(key, schema::LimitSize, schema::SessionLimitSize);
    settings.forwardAddress = key.ReadString(schema::ForwardAddress);
    settings.host = key.ReadString(schema::Host);
    settings.userId = key.ReadString(schema::UserID);
    settings.password = UnscramblePassword(key.ReadString(schema::Password));
    settings.pop3Security = ReadSecurity(key, schema::Pop3Security);
    settings.pop3CertFingerprint = key.ReadString(schema::Pop3CertFingerprint);
    settings.port = ReadPort(key, schema::Port, settings.pop3Security, schema::SessionPort,
                             schema::SessionTlsPort);
    settings.smtpHost = key.ReadString(schema::SMTPHost);
    settings.smtpFrom = ExtractAddress(key.ReadString(schema::SMTPFrom));
    settings.smtpSecurity = ReadSecurity(key, schema::SMTPSecurity);
    settings.smtpCertFingerprint = key.ReadString(schema::SMTPCertFingerprint);
    settings.smtpPort = ReadPort(key, schema::SMTPPort, settings.smtpSecurity,
                                 schema::SessionSMTPPort, schema::SessionSMTPTlsPort);
    settings.smtpAuth = ReadFlag(key, schema::SMTPAuth, schema::SessionSMTPAuth);
    settings.smtpUserId = key.ReadString(schema::SMTPUserID);
    settings.smtpPassword = UnscramblePassword(key.ReadString(schema::SMTPPassword));
    settings.smtpPlainAuthLoopback =
        ReadFlag(key, schema::SMTPPlainAuthLoopback, schema::SessionSMTPPlainAuthLoopback);
    key.CloseKey();
    return settings;
}

} // namespace zelm
