// makeTestCertificates: a small CA and three server certificates, built with the TLS library.
#include "test_certs.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdio.h>

#include <memory>

namespace tobrel_test {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

bool addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (extension == nullptr) return false;
  const bool added = X509_add_ext(cert, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

// A certificate for `key` named `commonName`, signed by issuer/issuerKey (itself when null).
Cert makeCert(EVP_PKEY* key, const std::string& commonName, const std::vector<std::string>& names, bool isCa,
              X509* issuer, EVP_PKEY* issuerKey, long serial) {
  Cert cert(X509_new(), X509_free);
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* subject = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("tobrel tests"), -1,
                             -1, 0);
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                             -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  bool ok = addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  if (isCa) {
    ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE") &&
         addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    std::string alternatives;
    for (const std::string& name : names) alternatives += (alternatives.empty() ? "DNS:" : ",DNS:") + name;
    ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE") &&
         addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature") &&
         addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth") &&
         addExtension(cert.get(), signer, NID_subject_alt_name, alternatives);
  }
  if (issuer != nullptr) ok = ok && addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  if (!ok || X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256()) == 0) cert.reset();
  return cert;
}

bool writePem(const std::string& path, X509* cert, EVP_PKEY* key) {
  FILE* file = fopen(path.c_str(), "w");
  if (file == nullptr) return false;
  const bool ok = cert != nullptr ? PEM_write_X509(file, cert) == 1
                                  : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  return fclose(file) == 0 && ok;
}

}  // namespace

bool makeTestCertificates(const std::string& dir, const std::vector<std::string>& names, TestCertificates* out,
                          std::string* error) {
  Key caKey(EVP_EC_gen("P-256"), EVP_PKEY_free), serviceKey(EVP_EC_gen("P-256"), EVP_PKEY_free),
      selfKey(EVP_EC_gen("P-256"), EVP_PKEY_free), otherKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
  if (!caKey || !serviceKey || !selfKey || !otherKey) {
    *error = "cannot make keys";
    return false;
  }
  Cert ca = makeCert(caKey.get(), "tobrel test CA", {}, true, nullptr, nullptr, 1);
  if (!ca) {
    *error = "cannot make the CA";
    return false;
  }
  Cert service = makeCert(serviceKey.get(), names.empty() ? "service" : names[0], names, false, ca.get(),
                          caKey.get(), 2);
  Cert self = makeCert(selfKey.get(), names.empty() ? "service" : names[0], names, false, nullptr, nullptr, 3);
  Cert other = makeCert(otherKey.get(), "other.test", {"other.test"}, false, ca.get(), caKey.get(), 4);
  if (!service || !self || !other) {
    *error = "cannot make the server certificates";
    return false;
  }
  out->ca = dir + "/ca.pem";
  out->service = dir + "/service.pem";
  out->serviceKey = dir + "/service.key";
  out->selfSigned = dir + "/selfsigned.pem";
  out->selfSignedKey = dir + "/selfsigned.key";
  out->otherName = dir + "/othername.pem";
  out->otherNameKey = dir + "/othername.key";
  char hash[32];
  snprintf(hash, sizeof hash, "%08lx.0", X509_NAME_hash_ex(X509_get_subject_name(ca.get()), nullptr, nullptr, nullptr));
  out->caHashName = hash;
  if (!writePem(out->ca, ca.get(), nullptr) || !writePem(out->service, service.get(), nullptr) ||
      !writePem(out->serviceKey, nullptr, serviceKey.get()) || !writePem(out->selfSigned, self.get(), nullptr) ||
      !writePem(out->selfSignedKey, nullptr, selfKey.get()) || !writePem(out->otherName, other.get(), nullptr) ||
      !writePem(out->otherNameKey, nullptr, otherKey.get())) {
    *error = "cannot write the certificates under " + dir;
    return false;
  }
  return true;
}

}  // namespace tobrel_test
