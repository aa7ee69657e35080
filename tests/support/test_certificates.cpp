#include "support/test_certificates.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Certificate = std::unique_ptr<X509, CertificateFree>;
using File = std::unique_ptr<std::FILE, FileClose>;

void check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("test certificates: ") + what);
}

Key new_key() {
    // P-256 keys are made in a moment, unlike RSA ones.
    Key key(EVP_EC_gen("P-256"));
    check(key != nullptr, "key generation");
    return key;
}

void add_extension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    check(extension != nullptr, "extension");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

Certificate new_certificate(EVP_PKEY* key, const char* common_name) {
    Certificate certificate(X509_new());
    check(certificate != nullptr, "certificate");
    X509_set_version(certificate.get(), 2);
    unsigned char serial[8];
    check(RAND_bytes(serial, sizeof serial) == 1, "serial");
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 24 * 3600);
    X509_set_pubkey(certificate.get(), key);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(common_name), -1, -1,
                               0);
    return certificate;
}

void write_pem(const std::string& path, X509* certificate, EVP_PKEY* key) {
    File file(std::fopen(path.c_str(), "wb"));
    check(file != nullptr, "cannot write a PEM file");
    if (certificate)
        check(PEM_write_X509(file.get(), certificate) == 1, "PEM certificate");
    if (key)
        check(PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1, "PEM key");
}

} // namespace

TestCertificates make_test_certificates(const std::string& directory, const std::string& server_ip) {
    Key ca_key = new_key();
    Certificate ca = new_certificate(ca_key.get(), "Quillmoor test authority");
    X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
    add_extension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
    add_extension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    add_extension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
    check(X509_sign(ca.get(), ca_key.get(), EVP_sha256()) > 0, "signing the authority");

    Key server_key = new_key();
    Certificate server = new_certificate(server_key.get(), server_ip.c_str());
    X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get()));
    add_extension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
    add_extension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature");
    add_extension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
    add_extension(server.get(), ca.get(), NID_subject_alt_name, ("IP:" + server_ip).c_str());
    add_extension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
    check(X509_sign(server.get(), ca_key.get(), EVP_sha256()) > 0, "signing the server certificate");

    TestCertificates files{directory + "/ca.pem", directory + "/server.pem", directory + "/server-key.pem"};
    write_pem(files.ca_file, ca.get(), nullptr);
    write_pem(files.certificate_file, server.get(), nullptr);
    write_pem(files.key_file, nullptr, server_key.get());
    return files;
}
