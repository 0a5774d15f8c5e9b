#include "Digest.h"

#include "Text.h"

#include <openssl/evp.h>

#include <memory>

namespace vp {

std::string sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    return hexadecimal(digest, length);
}

struct Sha256::Context {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
};

Sha256::Sha256() : m_context(std::make_unique<Context>()) {
    EVP_DigestInit_ex(m_context->context.get(), EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::add(std::string_view bytes) { EVP_DigestUpdate(m_context->context.get(), bytes.data(), bytes.size()); }

std::string Sha256::finish() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context->context.get(), digest, &length);
    return hexadecimal(digest, length);
}

} // namespace vp
