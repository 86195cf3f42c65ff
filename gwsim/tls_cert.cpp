// The simulator's self-signed certificate, made with OpenSSL at start.
#include "gwsim/tls_cert.h"

#include <openssl/pem.h>

#include <openssl/err.h>
#include <openssl/x509v3.h>

namespace gwsim {
namespace {

bool AddExtension(X509 *cert, int nid, const char *value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (extension == nullptr) return false;
  int added = X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
  return added == 1;
}

bool FillCertificate(X509 *cert, EVP_PKEY *key) {
  X509_NAME *name = X509_get_subject_name(cert);
  const unsigned char *commonName = reinterpret_cast<const unsigned char *>("127.0.0.1");
  const unsigned char *organisation = reinterpret_cast<const unsigned char *>("gwsim");
  return X509_set_version(cert, 2) == 1 &&
         ASN1_INTEGER_set(X509_get_serialNumber(cert), 1) == 1 &&
         X509_gmtime_adj(X509_getm_notBefore(cert), -3600) != nullptr &&
         X509_gmtime_adj(X509_getm_notAfter(cert), 3650L * 24 * 3600) != nullptr &&
         X509_set_pubkey(cert, key) == 1 &&
         X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, organisation, -1, -1, 0) == 1 &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, commonName, -1, -1, 0) == 1 &&
         X509_set_issuer_name(cert, name) == 1 &&
         AddExtension(cert, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") &&
         AddExtension(cert, NID_basic_constraints, "critical,CA:FALSE") &&
         X509_sign(cert, key, EVP_sha256()) > 0;
}

}  // namespace

bool MakeSelfSignedCertificate(X509Ptr *cert, PkeyPtr *key, std::string *error) {
  PkeyPtr newKey(EVP_EC_gen("P-256"));
  X509Ptr newCert(X509_new());
  if (!newKey || !newCert || !FillCertificate(newCert.get(), newKey.get())) {
    char reason[256];
    ERR_error_string_n(ERR_get_error(), reason, sizeof(reason));
    *error = std::string("cannot make the TLS certificate: ") + reason;
    ERR_clear_error();
    return false;
  }
  *cert = std::move(newCert);
  *key = std::move(newKey);
  return true;
}

std::string CertificatePem(X509 *cert) {
  BIO *bio = BIO_new(BIO_s_mem());
  if (bio == nullptr) return "";
  std::string pem;
  if (PEM_write_bio_X509(bio, cert) == 1) {
    char *data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    if (length > 0 && data != nullptr) pem.assign(data, static_cast<size_t>(length));
  }
  BIO_free(bio);
  return pem;
}

}  // namespace gwsim
