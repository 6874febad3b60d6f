#include "tests/support/test_certificates.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdexcept>
#include <unistd.h>

namespace zelm::test {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Certificate = std::unique_ptr<X509, CertificateFree>;

void Require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test certificates: ") + what);
}

// P-256 keys: made in a moment, unlike RSA ones.
Key NewKey() {
    Key key(EVP_EC_gen("P-256"));
    Require(key != nullptr, "cannot make a key");
    return key;
}

Key ReadKey(const std::string& pem) {
    BIO* in = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    Key key(PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr));
    BIO_free(in);
    Require(key != nullptr, "cannot read a key");
    return key;
}

Certificate ReadCertificate(const std::string& pem) {
    BIO* in = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    Certificate certificate(PEM_read_bio_X509(in, nullptr, nullptr, nullptr));
    BIO_free(in);
    Require(certificate != nullptr, "cannot read a certificate");
    return certificate;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    Require(extension != nullptr, "cannot make an extension");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

// A certificate for key, signed by issuerKey (issuer null: self-signed).
Certificate Build(const std::string& commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                  bool isCa, const std::vector<std::string>& altNames, bool expired) {
    static long serial = 1;
    Certificate certificate(X509_new());
    X509* cert = certificate.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), ++serial);
    const long day = 24 * 60 * 60;
    X509_gmtime_adj(X509_getm_notBefore(cert), expired ? -3 * day : -day);
    X509_gmtime_adj(X509_getm_notAfter(cert), expired ? -day : 2 * day);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
    X509* signer = issuer ? issuer : cert;
    AddExtension(cert, signer, NID_subject_key_identifier, "hash");
    AddExtension(cert, signer, NID_authority_key_identifier, "keyid:always");
    if (isCa) {
        AddExtension(cert, signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert, signer, NID_basic_constraints, "CA:FALSE");
        AddExtension(cert, signer, NID_ext_key_usage, "serverAuth");
    }
    if (!altNames.empty()) {
        std::string names;
        for (const auto& altName : altNames)
            names += (names.empty() ? "" : ",") + altName;
        AddExtension(cert, signer, NID_subject_alt_name, names);
    }
    Require(X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256()) > 0, "cannot sign");
    return certificate;
}

std::string Pem(X509* certificate) {
    BIO* out = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(out, certificate);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    std::string pem(data, static_cast<std::size_t>(length));
    BIO_free(out);
    return pem;
}

std::string Pem(EVP_PKEY* key) {
    BIO* out = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    std::string pem(data, static_cast<std::size_t>(length));
    BIO_free(out);
    return pem;
}

std::string FingerprintOf(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(certificate, EVP_sha256(), digest, &length);
    std::string text;
    char hex[4];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : ":%02X", digest[i]);
        text += hex;
    }
    return text;
}

TlsIdentity Identity(X509* certificate, EVP_PKEY* key) {
    return {Pem(certificate), Pem(key), FingerprintOf(certificate)};
}

} // namespace

const TestCa& TestCa::Get() {
    static const TestCa ca;
    return ca;
}

TestCa::TestCa() {
    const Key key = NewKey();
    const Certificate certificate =
        Build("Zelm Test CA", key.get(), nullptr, nullptr, true, {}, false);
    m_certificatePem = Pem(certificate.get());
    m_keyPem = Pem(key.get());
    char path[] = "/tmp/zelm-test-ca-XXXXXX";
    const int fd = ::mkstemp(path);
    Require(fd >= 0, "cannot create the CA file");
    ::close(fd);
    m_file = path;
    std::ofstream(m_file, std::ios::binary) << m_certificatePem;
}

TestCa::~TestCa() {
    ::unlink(m_file.c_str());
}

TlsIdentity TestCa::Issue(const std::string& commonName, const std::vector<std::string>& altNames,
                          bool expired) const {
    const Key caKey = ReadKey(m_keyPem);
    const Certificate ca = ReadCertificate(m_certificatePem);
    const Key key = NewKey();
    const Certificate certificate =
        Build(commonName, key.get(), ca.get(), caKey.get(), false, altNames, expired);
    return Identity(certificate.get(), key.get());
}

TlsIdentity SelfSignedIdentity() {
    const Key key = NewKey();
    const Certificate certificate = Build("localhost", key.get(), nullptr, nullptr, false,
                                          {"DNS:localhost", "IP:127.0.0.1"}, false);
    return Identity(certificate.get(), key.get());
}

TrustOnly::TrustOnly(const std::string& caFile) {
    if (const char* previous = std::getenv("SSL_CERT_FILE")) {
        m_had = true;
        m_previous = previous;
    }
    ::setenv("SSL_CERT_FILE", caFile.c_str(), 1);
}

TrustOnly::~TrustOnly() {
    if (m_had) {
        ::setenv("SSL_CERT_FILE", m_previous.c_str(), 1);
    } else {
        ::unsetenv("SSL_CERT_FILE");
    }
}

} // namespace zelm::test
