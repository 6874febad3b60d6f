#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The real POP3 (Dovecot) and SMTP (aiosmtpd) servers that scripts/test starts on loopback.
// Tests that need them must fail, not skip, when they are missing: every accessor throws, and
// gtest reports the exception as the test's failure.
namespace zelm::test {

/// Dovecot's POP3 port (ZELM_TEST_POP3_PORT); it offers STLS.
int RealPop3Port();
/// Dovecot's POP3 port with TLS from the first byte (ZELM_TEST_POP3S_PORT).
int RealPop3sPort();
/// The SMTP sink's port (ZELM_TEST_SMTP_PORT).
int RealSmtpPort();
/// The sink requiring STARTTLS and then AUTH (ZELM_TEST_SMTP_STARTTLS_PORT).
int RealSmtpStartTlsPort();
/// The sink with TLS from the first byte, requiring AUTH (ZELM_TEST_SMTPS_PORT).
int RealSmtpsPort();
/// The CA that signed the servers' certificate for localhost and 127.0.0.1 (ZELM_TEST_CA_FILE).
std::string RealCaFile();
/// The folder holding user uNN's maildir as uNN/Maildir (ZELM_TEST_MAILROOT).
std::string RealMailRoot();
/// The SMTP sink's spool folder (ZELM_TEST_SMTP_SPOOL).
std::string RealSmtpSpool();

/// The password of every Dovecot test user.
inline constexpr const char* kRealPassword = "pw";
/// The one user the SMTP sinks with AUTH accept, and its password.
inline constexpr const char* kRealSmtpUser = "smtpuser";
inline constexpr const char* kRealSmtpPassword = "smtppw";

/// One Dovecot test user's maildir. Each test takes users of its own, so tests can run in
/// parallel.
class RealMailbox {
public:
    /// user is "u01" to "u50".
    explicit RealMailbox(std::string user);

    /// The user name to log in with.
    const std::string& User() const { return m_user; }
    /// Removes every message, so the next login sees an empty mailbox.
    void Clear() const;
    /// Drops a message file into Maildir/new (mode 0666) and returns its path; messages are
    /// numbered by the server in the order they were dropped.
    std::string Drop(const std::string& content) const;
    /// Number of messages in the maildir (new and cur).
    std::size_t Count() const;

private:
    std::string m_user;
    std::string m_maildir;
};

/// One message the SMTP sink received.
struct SpoolMessage {
    /// The spool name without extension ("000007").
    std::string name;
    /// The data exactly as received, after the server's dot-unstuffing.
    std::string data;
    /// The MAIL FROM address.
    std::string mailFrom;
    /// The RCPT TO addresses in order.
    std::vector<std::string> recipients;
};

/// Every message in the spool, in arrival order.
std::vector<SpoolMessage> ReadSmtpSpool();
/// Waits up to limitMs until at least count spool messages hold marker in their data, and
/// returns those found (fewer when the time ran out).
std::vector<SpoolMessage> WaitForSpoolMessages(const std::string& marker, std::size_t count,
                                               int limitMs = 10000);

} // namespace zelm::test
