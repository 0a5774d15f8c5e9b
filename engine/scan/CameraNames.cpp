#include "CameraNames.h"

#include "engine/common/Text.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace vp::CameraNames {

namespace {

void addUnique(std::vector<std::string>& keys, std::string value) {
    if (!value.empty() && std::find(keys.begin(), keys.end(), value) == keys.end()) keys.push_back(std::move(value));
}

std::string withoutSuffix(std::string text, std::string_view suffix) {
    if (text.size() > suffix.size() && text.ends_with(suffix)) text.resize(text.size() - suffix.size());
    return trimmed(text);
}

// Words cameras add after the maker's name ("OLYMPUS IMAGING CORP.", "LEICA CAMERA AG") or
// after the model ("... DIGITAL CAMERA"); the decoder's list uses the bare names.
constexpr std::array trailingWords{
    std::string_view(" corporation"), std::string_view(" corp."),   std::string_view(" corp"),
    std::string_view(" co., ltd."),   std::string_view(" co.,ltd."), std::string_view(" co., ltd"),
    std::string_view(", ltd."),       std::string_view(" ltd."),    std::string_view(" ltd"),
    std::string_view(" company"),     std::string_view(", inc."),   std::string_view(" inc."),
    std::string_view(" inc"),         std::string_view(" imaging"), std::string_view(" ag"),
    std::string_view(" gmbh"),        std::string_view(" a/s"),     std::string_view(" techwin"),
    std::string_view(" optical"),     std::string_view(" camera"),  std::string_view(" digital"),
};
// Models only lose these ("Canon EOS 300D DIGITAL" is the EOS 300D).
constexpr std::array trailingModelWords{std::string_view(" camera"), std::string_view(" digital")};

template <std::size_t Count>
std::string withoutTrailing(std::string text, const std::array<std::string_view, Count>& words) {
    for (bool changed = true; changed;) {
        changed = false;
        for (const auto word : words) {
            const std::string shorter = withoutSuffix(text, word);
            if (shorter != text) {
                text = shorter;
                changed = true;
            }
        }
    }
    return text;
}

std::string normalisedMake(std::string_view make) {
    std::string name = withoutTrailing(lowercased(trimmed(make)), trailingWords);
    if (name == "eastman kodak") return "kodak";
    return name;
}

// "M (Typ 240)" → "M"; an unclosed remark ("ILCE-7R (A7R") runs to the end.
std::string withoutRemarks(std::string_view text) {
    std::string result;
    int depth = 0;
    for (const char c : text) {
        if (c == '(') ++depth;
        else if (c == ')' && depth > 0) --depth;
        else if (depth == 0) result += c;
    }
    return trimmed(result);
}

// The model number of a Sony body under any of its spellings ("ILCE-7M3", "SLT-A99",
// "Alpha 7"), empty when the model is not written in one of them.
std::string sonyModelNumber(const std::string& model) {
    for (const std::string_view prefix : {"ilce-", "ilca-", "slt-a", "dslr-a", "alpha-", "alpha ", "a"}) {
        if (model.size() > prefix.size() && model.starts_with(prefix) &&
            std::isdigit(static_cast<unsigned char>(model[prefix.size()])) != 0)
            return model.substr(prefix.size());
    }
    return {};
}

} // namespace

std::string key(std::string_view name) {
    std::string result;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 && byte < 0x80) result += static_cast<char>(std::tolower(byte));
    }
    return result;
}

std::vector<std::string> listKeys(std::string_view entry) {
    std::vector<std::string> keys;
    const std::string text = lowercased(trimmed(entry));
    const std::string make = text.substr(0, text.find(' '));
    const std::string main = withoutRemarks(text);
    // "Canon EOS 77D / 9000D": the first name is whole, the others replace its last word.
    const auto names = split(main, '/');
    const std::string first = trimmed(names.front());
    addUnique(keys, key(first));
    const std::string firstStem = first.substr(0, first.rfind(' ') == std::string::npos ? 0 : first.rfind(' '));
    for (std::size_t i = 1; i < names.size(); ++i) {
        addUnique(keys, key(firstStem + " " + names[i]));
        addUnique(keys, key(make + " " + names[i]));
    }
    // A remark run into the name is a variant letter ("SLT-A55(V)" is also the SLT-A55V);
    // a spaced one may be the camera's other name ("ILCE-7M3 (A7 III)").
    for (auto open = text.find('('); open != std::string::npos; open = text.find('(', open + 1)) {
        const auto close = text.find(')', open);
        const std::string remark = text.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
        if (open > 0 && text[open - 1] != ' ') addUnique(keys, key(text.substr(0, open) + remark));
        else addUnique(keys, key(make + " " + remark));
    }
    return keys;
}

std::vector<std::string> lookupKeys(std::string_view make, std::string_view model) {
    const std::string fullMake = lowercased(trimmed(make));
    const std::string shortMake = normalisedMake(make);
    std::vector<std::string> models;
    for (std::string name : {withoutTrailing(lowercased(trimmed(model)), trailingModelWords),
                             withoutTrailing(withoutRemarks(lowercased(trimmed(model))), trailingModelWords)}) {
        // "NIKON D850" under "NIKON CORPORATION": the model repeats the make.
        for (const auto& repeated : {fullMake, shortMake})
            if (!repeated.empty() && name.starts_with(repeated + " ")) name = trimmed(name.substr(repeated.size()));
        if (!name.empty()) addUnique(models, name);
    }
    if (shortMake == "sony") {
        for (std::size_t i = 0, count = models.size(); i < count; ++i) {
            const std::string number = sonyModelNumber(models[i]);
            if (number.empty()) continue;
            for (const std::string_view prefix : {"ilce-", "slt-a", "alpha "})
                addUnique(models, std::string(prefix) + number);
        }
    }
    std::vector<std::string> keys;
    for (const auto& name : models) {
        for (const auto& maker : {shortMake, fullMake})
            if (!maker.empty()) addUnique(keys, key(maker + " " + name));
        // A model that names its own maker ("PENTAX K-1" from "RICOH IMAGING COMPANY, LTD.").
        addUnique(keys, key(name));
    }
    return keys;
}

bool isListed(const std::unordered_set<std::string>& listed, std::string_view make, std::string_view model) {
    const auto keys = lookupKeys(make, model);
    return std::any_of(keys.begin(), keys.end(), [&](const std::string& candidate) { return listed.contains(candidate); });
}

} // namespace vp::CameraNames
