#pragma once

#include <cstdint>

// The settings tree's key and value names, and the defaults each reader applies when a value is
// absent. Every reader and writer takes its names from here, so a typo cannot split a setting.
namespace zelm::schema {

// Keys below SettingsRoot.

/// The key holding one subkey per mailbox.
inline constexpr const char* MailboxesKey = "Mailboxes";
/// The key below a mailbox holding one subkey per filter.
inline constexpr const char* FiltersKey = "Filters";

// Options, values of SettingsRoot.

/// Top edge of the main window (integer).
inline constexpr const char* Top = "Top";
/// Left edge of the main window (integer).
inline constexpr const char* Left = "Left";
/// Position of the shown mailbox in the sorted list, -1 for none (integer).
inline constexpr const char* LastMailbox = "LastMailbox";
/// Switch the session timer on at start-up (flag).
inline constexpr const char* TimerON = "TimerON";
/// Start with the window minimized (flag).
inline constexpr const char* Minimized = "Minimized";
/// Start with the user's session (flag).
inline constexpr const char* Launch = "Launch";
/// Seconds between timed sessions (string).
inline constexpr const char* SessionInterval = "SessionInterval";
/// Maximum delivery attempts, "0" for no maximum (string).
inline constexpr const char* MaxAttempts = "MaxAttempts";
/// Header field names that rules can test, ascending (list).
inline constexpr const char* HeaderFields = "HeaderFields";
/// List every mailbox with one UIDL and one LIST and read new headers pipelined (flag).
inline constexpr const char* FastListing = "FastListing";

// Mailbox values.

/// Process this mailbox in sessions (flag).
inline constexpr const char* MailboxEnabled = "MailboxEnabled";
/// Most entries kept in the message cache (string, whole number).
inline constexpr const char* Cache = "Cache";
/// POP3 server (string).
inline constexpr const char* Host = "Host";
/// POP3 user name (string).
inline constexpr const char* UserID = "UserID";
/// POP3 password, scrambled (string).
inline constexpr const char* Password = "Password";
/// POP3 port (string, whole number).
inline constexpr const char* Port = "Port";
/// SMTP server (string).
inline constexpr const char* SMTPHost = "SMTPHost";
/// SMTP port (string, whole number).
inline constexpr const char* SMTPPort = "SMTPPort";
/// Sender address of outgoing mail (string).
inline constexpr const char* SMTPFrom = "SMTPFrom";
/// Filter names in the order a session applies them (list).
inline constexpr const char* Operation = "Operation";
/// Screen by the accept list (flag).
inline constexpr const char* AcceptListEnabled = "AcceptListEnabled";
/// Screen by the reject list (flag).
inline constexpr const char* RejectListEnabled = "RejectListEnabled";
/// Forward rejected messages (flag).
inline constexpr const char* ForwardToEnabled = "ForwardToEnabled";
/// Where rejected messages are forwarded (string).
inline constexpr const char* ForwardAddress = "ForwardAddress";
/// Return rejected messages to their sender (flag).
inline constexpr const char* BounceEnabled = "BounceEnabled";
/// Delete rejected messages (flag).
inline constexpr const char* DeleteEnabled = "DeleteEnabled";
/// Pass over messages larger than LimitSize (flag).
inline constexpr const char* LimitMessageSizeEnabled = "LimitMessageSizeEnabled";
/// Size limit in bytes (string, whole number).
inline constexpr const char* LimitSize = "LimitSize";
/// POP3 connection security: SecurityNone, SecurityStartTls or SecurityTls (string).
inline constexpr const char* Pop3Security = "Pop3Security";
/// SHA-256 fingerprint (hex) of a POP3 server certificate the user accepted (string).
inline constexpr const char* Pop3CertFingerprint = "Pop3CertFingerprint";
/// SMTP connection security: SecurityNone, SecurityStartTls or SecurityTls (string).
inline constexpr const char* SMTPSecurity = "SMTPSecurity";
/// SHA-256 fingerprint (hex) of an SMTP server certificate the user accepted (string).
inline constexpr const char* SMTPCertFingerprint = "SMTPCertFingerprint";
/// Log in to the SMTP server with AUTH (flag).
inline constexpr const char* SMTPAuth = "SMTPAuth";
/// SMTP user name for AUTH (string).
inline constexpr const char* SMTPUserID = "SMTPUserID";
/// SMTP password for AUTH, scrambled like Password (string).
inline constexpr const char* SMTPPassword = "SMTPPassword";
/// Allow AUTH over an unencrypted connection when the SMTP server is on this machine's
/// loopback (flag; for test servers only).
inline constexpr const char* SMTPPlainAuthLoopback = "SMTPPlainAuthLoopback";

// The texts of Pop3Security and SMTPSecurity (compared without regard to case).

/// Plain TCP, exactly as without the setting.
inline constexpr const char* SecurityNone = "none";
/// Plain TCP switched to TLS by the protocol's command (POP3 STLS, SMTP STARTTLS).
inline constexpr const char* SecurityStartTls = "starttls";
/// TLS from the first byte.
inline constexpr const char* SecurityTls = "tls";

// Filter values.

/// Rule lines (list).
inline constexpr const char* Rules = "Rules";
/// Action lines (list).
inline constexpr const char* Actions = "Actions";
/// Text-extraction routine (list).
inline constexpr const char* TextExtract = "TextExtract";
/// Names of the variables the routine fills (list).
inline constexpr const char* TextVarNames = "TextVarNames";

// Defaults a session applies to an absent mailbox value, or to a number that is not one.

/// MailboxEnabled when absent: the mailbox is passed over.
inline constexpr bool SessionMailboxEnabled = false;
/// Cache limit when absent or not a number.
inline constexpr std::int32_t SessionCache = 100;
/// POP3 port when absent or not a number.
inline constexpr std::int32_t SessionPort = 110;
/// SMTP port when absent or not a number.
inline constexpr std::int32_t SessionSMTPPort = 25;
/// POP3 port when absent or not a number and Pop3Security is SecurityTls.
inline constexpr std::int32_t SessionTlsPort = 995;
/// SMTP port when absent or not a number and SMTPSecurity is SecurityTls.
inline constexpr std::int32_t SessionSMTPTlsPort = 465;
/// Pop3Security and SMTPSecurity when absent.
inline constexpr const char* SessionSecurity = SecurityNone;
/// SMTPAuth when absent.
inline constexpr bool SessionSMTPAuth = false;
/// SMTPPlainAuthLoopback when absent.
inline constexpr bool SessionSMTPPlainAuthLoopback = false;
/// Size limit when absent or not a number.
inline constexpr std::int32_t SessionLimitSize = 30000;
/// AcceptListEnabled when absent.
inline constexpr bool SessionAcceptListEnabled = true;
/// RejectListEnabled when absent.
inline constexpr bool SessionRejectListEnabled = true;
/// ForwardToEnabled when absent.
inline constexpr bool SessionForwardToEnabled = false;
/// BounceEnabled when absent.
inline constexpr bool SessionBounceEnabled = false;
/// DeleteEnabled when absent.
inline constexpr bool SessionDeleteEnabled = false;
/// LimitMessageSizeEnabled when absent.
inline constexpr bool SessionLimitMessageSizeEnabled = false;

// What the mailbox editor shows for an absent mailbox value.

/// Every one of the seven check boxes shows checked when its flag is absent.
inline constexpr bool EditorFlagShown = true;
/// The cache field at start-up when Cache is absent (empty when another mailbox is chosen).
inline constexpr const char* EditorStartupCache = "100";

// Values a newly created mailbox starts with.

/// POP3 port of a new mailbox.
inline constexpr const char* NewMailboxPort = "110";
/// SMTP port of a new mailbox.
inline constexpr const char* NewMailboxSMTPPort = "25";

// Options: what the options page shows before any setting is loaded (a first run), and what a
// reader uses when Top and Left exist but the value itself is absent.

/// Interval field before settings are loaded.
inline constexpr const char* PageSessionInterval = "60";
/// Maximum-attempts field before settings are loaded.
inline constexpr const char* PageMaxAttempts = "0";
/// LastMailbox before settings are loaded.
inline constexpr std::int32_t PageLastMailbox = 0;
/// SessionInterval when absent.
inline constexpr const char* StoredSessionInterval = "0";
/// MaxAttempts when absent; also what the command line uses without a window.
inline constexpr const char* StoredMaxAttempts = "2";
/// FastListing when absent.
inline constexpr bool StoredFastListing = false;
/// LastMailbox when absent.
inline constexpr std::int32_t StoredLastMailbox = 0;
/// LastMailbox written when no mailbox is shown.
inline constexpr std::int32_t NoMailboxShown = -1;
/// Seconds of the session interval when the text is not a number.
inline constexpr std::int32_t SessionIntervalNotANumber = 0;

/// The built-in header field names, ascending; none of them can be removed.
inline constexpr const char* BuiltInHeaderFields[] = {
    "Bcc",      "Cc",          "From", "Originator", "Recipients",
    "Reply-To", "Return-Path", "Size", "Subject",    "To"};

} // namespace zelm::schema
