// A self-signed certificate for the simulator's HTTPS listener, made in
// memory at start (EC P-256 key, valid for 127.0.0.1 and localhost).
#pragma once

#include <memory>
#include <string>

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace gwsim {

struct X509Free {
  void operator()(X509 *cert) const { X509_free(cert); }
};
struct PkeyFree {
  void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

// Makes a key and a certificate signed with it. Returns false with the
// reason in *error; both owners are then empty.
bool MakeSelfSignedCertificate(X509Ptr *cert, PkeyPtr *key, std::string *error);

// The certificate in PEM form ("" when it cannot be written).
std::string CertificatePem(X509 *cert);

}  // namespace gwsim
