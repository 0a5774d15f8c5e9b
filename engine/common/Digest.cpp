#include "Digest.h"

#include "Text.h"

#include <openssl/evp.h>

namespace vp {

std::string sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    return hexadecimal(digest, length);
}

} // namespace vp
