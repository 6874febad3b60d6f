#pragma once

#include <string>
#include <vector>

// Certificates for TLS tests, made in memory with OpenSSL: a test CA (its certificate in a
// file, for SSL_CERT_FILE), server certificates it signs (valid or expired), and self-signed
// ones that nothing trusts.
namespace zelm::test {

/// What a test server presents: its certificate and key in PEM form.
struct TlsIdentity {
    std::string certificatePem;
    std::string keyPem;
    /// SHA-256 of the certificate as "AB:01:...", the form the error log shows.
    std::string fingerprint;
};

/// A CA made once per test process.
class TestCa {
public:
    /// The process's CA.
    static const TestCa& Get();

    /// The file holding the CA's certificate.
    const std::string& File() const { return m_file; }
    /// A server certificate for commonName with the subject alternative names (such as
    /// "DNS:localhost" or "IP:127.0.0.1"), valid now, or expired a day ago.
    TlsIdentity Issue(const std::string& commonName, const std::vector<std::string>& altNames,
                      bool expired = false) const;

    ~TestCa();
    TestCa(const TestCa&) = delete;
    TestCa& operator=(const TestCa&) = delete;

private:
    TestCa();
    std::string m_file;
    std::string m_certificatePem;
    std::string m_keyPem;
};

/// A self-signed certificate for localhost and 127.0.0.1 that no trust store knows.
TlsIdentity SelfSignedIdentity();

/// Points the default trust store (SSL_CERT_FILE) at one file while the object lives.
class TrustOnly {
public:
    explicit TrustOnly(const std::string& caFile);
    ~TrustOnly();
    TrustOnly(const TrustOnly&) = delete;
    TrustOnly& operator=(const TrustOnly&) = delete;

private:
    bool m_had = false;
    std::string m_previous;
};

} // namespace zelm::test
