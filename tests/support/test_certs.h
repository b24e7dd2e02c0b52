// Test support: certificates made at test time for the TLS tests, so no key is ever checked in.
// In `dir`: a test CA (ca.pem), a certificate for the given names signed by it
// (service.pem/.key), a self-signed one for the same names that nobody trusts
// (selfsigned.pem/.key), and one signed by the CA for another name, "other.test"
// (othername.pem/.key). Keys are P-256; certificates are valid from an hour ago for 30 days.
//
//   tobrel_test::TestCertificates certs;
//   ASSERT_TRUE(makeTestCertificates(dir.path(), {"*.facebook.com"}, &certs, &error)) << error;
//   web.start({certs.service + ":" + certs.serviceKey});
#ifndef TOBREL_TESTS_SUPPORT_TEST_CERTS_H
#define TOBREL_TESTS_SUPPORT_TEST_CERTS_H

#include <string>
#include <vector>

namespace tobrel_test {

struct TestCertificates {
  std::string ca;                          // PEM file of the CA certificate
  std::string caHashName;                  // "<subject hash>.0", its name in a CA folder
  std::string service, serviceKey;         // for the names given
  std::string selfSigned, selfSignedKey;   // the same names, not signed by the CA
  std::string otherName, otherNameKey;     // "other.test", signed by the CA
};

bool makeTestCertificates(const std::string& dir, const std::vector<std::string>& names, TestCertificates* out,
                          std::string* error);

}  // namespace tobrel_test

#endif
