// Why a catalog could not be read: the one error every catalog reader throws, with the sentence
// a person reads.
#pragma once

#include <stdexcept>
#include <string>

namespace vp {

class CatalogReadError : public std::runtime_error {
public:
    enum class Kind { unreadable, unknownLayout, notACatalog };

    static CatalogReadError unreadable(std::string detail) { return {Kind::unreadable, std::move(detail), {}}; }
    static CatalogReadError unknownLayout(std::string detail) { return {Kind::unknownLayout, std::move(detail), {}}; }
    /// `sentence` names the kind of catalog that was expected.
    static CatalogReadError notACatalog(std::string sentence) { return {Kind::notACatalog, {}, std::move(sentence)}; }

    Kind kind() const { return m_kind; }
    const std::string& detail() const { return m_detail; }
    /// The full sentence, as `what()` gives it.
    std::string description() const { return what(); }

private:
    CatalogReadError(Kind kind, std::string detail, std::string sentence);

    Kind m_kind;
    std::string m_detail;
};

} // namespace vp
