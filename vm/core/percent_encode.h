// Percent-encoding of bytes, as URLs and URL-encoded bodies carry them. The log handler masks
// a secret in this form too, so it lives beside the core rather than in the HTTP client.
#ifndef TOBREL_VM_CORE_PERCENT_ENCODE_H
#define TOBREL_VM_CORE_PERCENT_ENCODE_H

#include <string>

// Percent-encoding of every byte but letters, digits and "-._~".
std::string percentEncode(const std::string& bytes);

#endif
