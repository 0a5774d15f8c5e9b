// SHA-256 of text held in memory (file contents are digested by the content reader, in a stream).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vp {

/// Lower-case hexadecimal, 64 characters.
std::string sha256Hex(std::string_view bytes);

/// SHA-256 over bytes given piece by piece. One thread at a time.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(std::string_view bytes);
    /// Lower-case hexadecimal, 64 characters; call once.
    std::string finish();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

} // namespace vp
