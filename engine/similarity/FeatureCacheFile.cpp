// The cache file's format: a binary property list, written and read with libplist. Only this
// file includes it.
#include "FeatureCache.h"
#include "FeatureExtractor.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <plist/plist.h>
#include <string_view>
#include <utility>

namespace vp::FeatureCacheFile {

namespace {

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<void, PlistDeleter>;

// Property-list dates count seconds from the first instant of 2001 (UTC).
constexpr std::int64_t referenceDateOffset = 978307200;

struct Malformed {};

// ---- writing

plist_t integer(std::int64_t value) { return plist_new_uint(static_cast<std::uint64_t>(value)); }

plist_t words(const std::vector<std::uint64_t>& values) {
    plist_t array = plist_new_array();
    for (const auto value : values) plist_array_append_item(array, plist_new_uint(value));
    return array;
}

plist_t encodeFaces(const FaceReading& reading) {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "faces", integer(reading.faces));
    plist_dict_set_item(dict, "eyesClosed", integer(reading.eyesClosed));
    plist_dict_set_item(dict, "smiling", integer(reading.smiling));
    plist_dict_set_item(dict, "revision", integer(reading.revision));
    return dict;
}

plist_t encodeFeatures(const ImageFeatures& features) {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "hashes", words(features.hashes));
    plist_t detail = plist_new_array();
    for (const auto& entry : features.detailHashes) plist_array_append_item(detail, words(entry));
    plist_dict_set_item(dict, "detailHashes", detail);
    if (features.featurePrint)
        plist_dict_set_item(dict, "featurePrint",
                            plist_new_data(reinterpret_cast<const char*>(features.featurePrint->data()),
                                           features.featurePrint->size()));
    plist_dict_set_item(dict, "featurePrintRevision", integer(features.featurePrintRevision));
    plist_dict_set_item(dict, "sharpness", plist_new_real(features.sharpness));
    plist_dict_set_item(dict, "meanLuma", plist_new_real(features.meanLuma));
    plist_dict_set_item(dict, "clipped", plist_new_real(features.clipped));
    if (features.captureDate) {
        using namespace std::chrono;
        const auto micros = duration_cast<microseconds>(features.captureDate->time_since_epoch()).count() -
                            referenceDateOffset * 1000000;
        const auto seconds = micros >= 0 ? micros / 1000000 : (micros - 999999) / 1000000;
        // Property-list dates hold whole seconds from 2001 in 32 bits, 1933 to 2069; a date
        // outside is left out rather than stored as another one.
        if (std::in_range<std::int32_t>(seconds)) {
            const auto rest = static_cast<std::int32_t>(micros - seconds * 1000000);
            plist_dict_set_item(dict, "captureDate", plist_new_date(static_cast<std::int32_t>(seconds), rest));
        }
    }
    plist_dict_set_item(dict, "pixelWidth", integer(features.pixelWidth));
    plist_dict_set_item(dict, "pixelHeight", integer(features.pixelHeight));
    plist_dict_set_item(dict, "version", integer(features.version));
    if (features.qualityScore) plist_dict_set_item(dict, "qualityScore", integer(*features.qualityScore));
    if (features.isUtility) plist_dict_set_item(dict, "isUtility", plist_new_bool(*features.isUtility ? 1 : 0));
    if (features.qualityRevision) plist_dict_set_item(dict, "qualityRevision", integer(*features.qualityRevision));
    if (features.faces) plist_dict_set_item(dict, "faces", encodeFaces(*features.faces));
    return dict;
}

// ---- reading: any node of the wrong kind makes the whole entry unusable

plist_t item(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (node == nullptr) throw Malformed{};
    return node;
}

plist_t optionalItem(plist_t dict, const char* key) { return plist_dict_get_item(dict, key); }

std::uint64_t unsignedValue(plist_t node) {
    if (plist_get_node_type(node) != PLIST_UINT) throw Malformed{};
    std::uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return value;
}

/// Every integer of a record is a count, a size or a revision: never negative, and never above
/// what a signed 64-bit field holds.
std::int64_t integerValue(plist_t node) {
    const std::uint64_t value = unsignedValue(node);
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) throw Malformed{};
    return static_cast<std::int64_t>(value);
}

/// A finite real between `lowest` and `highest`.
double realValue(plist_t node, double lowest, double highest) {
    double value = 0;
    if (plist_get_node_type(node) == PLIST_UINT)
        value = static_cast<double>(integerValue(node));
    else if (plist_get_node_type(node) == PLIST_REAL)
        plist_get_real_val(node, &value);
    else
        throw Malformed{};
    if (!std::isfinite(value) || value < lowest || value > highest) throw Malformed{};
    return value;
}

/// Exactly `count` words: a hash list of another length would be compared against the wrong
/// turns, or padded with zero bits that make unrelated pictures look alike.
std::vector<std::uint64_t> wordsValue(plist_t node, std::uint32_t count) {
    if (plist_get_node_type(node) != PLIST_ARRAY || plist_array_get_size(node) != count) throw Malformed{};
    std::vector<std::uint64_t> values;
    for (std::uint32_t i = 0; i < plist_array_get_size(node); ++i)
        values.push_back(unsignedValue(plist_array_get_item(node, i)));
    return values;
}

FaceReading facesValue(plist_t node) {
    if (plist_get_node_type(node) != PLIST_DICT) throw Malformed{};
    const FaceReading reading{integerValue(item(node, "faces")), integerValue(item(node, "eyesClosed")),
                              integerValue(item(node, "smiling")), integerValue(item(node, "revision"))};
    if (reading.eyesClosed > reading.faces || reading.smiling > reading.faces) throw Malformed{};
    return reading;
}

// The shapes every measurement has (see FeatureExtractor): four turns of the 64-bit hash and
// four turns of the four-word detail hash.
constexpr std::uint32_t turns = 4;
constexpr std::uint32_t detailWords = 4;
// Grey values run from 0 to 1, so the Laplacian from -4 to 4 and its variance up to 16; a
// rounding error may take a flat picture's variance a hair below 0.
constexpr double largestSharpness = 16;
constexpr double roundingSlack = 1e-9;

ImageFeatures decodeFeatures(plist_t dict) {
    if (plist_get_node_type(dict) != PLIST_DICT) throw Malformed{};
    ImageFeatures features;
    features.hashes = wordsValue(item(dict, "hashes"), turns);
    plist_t detail = item(dict, "detailHashes");
    if (plist_get_node_type(detail) != PLIST_ARRAY || plist_array_get_size(detail) != turns) throw Malformed{};
    for (std::uint32_t i = 0; i < turns; ++i)
        features.detailHashes.push_back(wordsValue(plist_array_get_item(detail, i), detailWords));
    if (plist_t print = optionalItem(dict, "featurePrint")) {
        if (plist_get_node_type(print) != PLIST_DATA) throw Malformed{};
        char* bytes = nullptr;
        std::uint64_t length = 0;
        plist_get_data_val(print, &bytes, &length);
        features.featurePrint = std::vector<std::uint8_t>(bytes, bytes + length);
        std::free(bytes);
        // A print that does not unpack would be compared as if it were one.
        if (!FeatureExtractor::observation(*features.featurePrint)) throw Malformed{};
    }
    features.featurePrintRevision = integerValue(item(dict, "featurePrintRevision"));
    features.sharpness = realValue(item(dict, "sharpness"), -roundingSlack, largestSharpness + roundingSlack);
    features.meanLuma = realValue(item(dict, "meanLuma"), 0, 1 + roundingSlack);
    features.clipped = realValue(item(dict, "clipped"), 0, 1 + roundingSlack);
    if (plist_t date = optionalItem(dict, "captureDate")) {
        if (plist_get_node_type(date) != PLIST_DATE) throw Malformed{};
        std::int32_t seconds = 0, micros = 0;
        plist_get_date_val(date, &seconds, &micros);
        // libplist reads a date before 2001 with a fraction of a second back with the wrong
        // sign on one part; capture dates are whole seconds, so such a date is not ours.
        if (micros < 0 || micros >= 1000000 || (seconds < 0 && micros != 0)) throw Malformed{};
        using namespace std::chrono;
        features.captureDate = Timestamp(duration_cast<Timestamp::duration>(
            std::chrono::seconds(static_cast<std::int64_t>(seconds) + referenceDateOffset) + microseconds(micros)));
    }
    features.pixelWidth = integerValue(item(dict, "pixelWidth"));
    features.pixelHeight = integerValue(item(dict, "pixelHeight"));
    // Any picture measured had both sides below this; their product must not overflow either.
    constexpr std::int64_t largestSide = std::int64_t{1} << 31;
    if (features.pixelWidth > largestSide || features.pixelHeight > largestSide) throw Malformed{};
    features.version = integerValue(item(dict, "version"));
    if (plist_t score = optionalItem(dict, "qualityScore")) {
        features.qualityScore = integerValue(score);
        if (*features.qualityScore > 100) throw Malformed{};
    }
    if (plist_t utility = optionalItem(dict, "isUtility")) {
        if (plist_get_node_type(utility) != PLIST_BOOLEAN) throw Malformed{};
        std::uint8_t value = 0;
        plist_get_bool_val(utility, &value);
        features.isUtility = value != 0;
    }
    if (plist_t revision = optionalItem(dict, "qualityRevision")) features.qualityRevision = integerValue(revision);
    if (plist_t faces = optionalItem(dict, "faces")) features.faces = facesValue(faces);
    return features;
}

/// A big-endian unsigned number of `size` bytes at `at`; none when it runs past the end.
std::optional<std::uint64_t> bigEndian(std::string_view data, std::uint64_t at, std::uint64_t size) {
    if (size == 0 || size > 8 || at > data.size() || size > data.size() - at) return std::nullopt;
    std::uint64_t value = 0;
    for (std::uint64_t i = 0; i < size; ++i) value = value << 8 | static_cast<unsigned char>(data[at + i]);
    return value;
}

/// True when every string object of the binary property list is free of NUL characters. libplist
/// asserts, and so aborts the whole process, when a dictionary key it hands out holds one; a
/// file with such a string is not one of ours. False also when the object table cannot be
/// walked, which libplist would refuse anyway.
bool stringsHaveNoNul(std::string_view data) {
    constexpr std::size_t trailerSize = 32;
    if (data.size() < 8 + trailerSize) return false;
    const std::uint64_t trailer = data.size() - trailerSize;
    const auto offsetSize = static_cast<std::uint64_t>(static_cast<unsigned char>(data[trailer + 6]));
    const auto objects = bigEndian(data, trailer + 8, 8);
    const auto table = bigEndian(data, trailer + 24, 8);
    if (!objects || !table || offsetSize == 0 || offsetSize > 8 || *table > trailer ||
        *objects > (trailer - *table) / offsetSize)
        return false;
    for (std::uint64_t object = 0; object < *objects; ++object) {
        const auto offset = bigEndian(data, *table + object * offsetSize, offsetSize);
        if (!offset || *offset >= trailer) return false;
        const auto marker = static_cast<unsigned char>(data[*offset]);
        const unsigned kind = marker >> 4;
        if (kind != 0x5 && kind != 0x6) continue; // ASCII and UTF-16 strings
        std::uint64_t length = marker & 0xF;
        std::uint64_t start = *offset + 1;
        if (length == 0xF) { // the length follows as an integer object
            if (start >= trailer || static_cast<unsigned char>(data[start]) >> 4 != 0x1) return false;
            const std::uint64_t size = std::uint64_t{1} << (static_cast<unsigned char>(data[start]) & 0xF);
            const auto counted = bigEndian(data, start + 1, size);
            if (!counted) return false;
            length = *counted;
            start += 1 + size;
        }
        const std::uint64_t unit = kind == 0x6 ? 2 : 1;
        if (start > trailer || length > (trailer - start) / unit) return false;
        for (std::uint64_t i = 0; i < length; ++i) {
            const bool nul = data[start + i * unit] == '\0' && (unit == 1 || data[start + i * unit + 1] == '\0');
            if (nul) return false;
        }
    }
    return true;
}

/// Keys are written as decimal numbers joined by ":" and "." (see FeatureCache::key); any other
/// key never matches a picture, and one of other bytes may not even be written back as read.
bool isKey(std::string_view name) {
    return !name.empty() && name.size() <= 128 && name.find_first_not_of("0123456789:.-") == std::string_view::npos;
}

} // namespace

std::map<std::string, ImageFeatures> decode(const std::string& data) {
    std::map<std::string, ImageFeatures> entries;
    // Only binary property lists are ours; anything else is treated as no cache at all.
    if (data.size() < 8 || data.compare(0, 6, "bplist") != 0 || data.size() > std::numeric_limits<std::uint32_t>::max() ||
        !stringsHaveNoNul(data))
        return entries;
    plist_t parsed = nullptr;
    plist_from_bin(data.data(), static_cast<std::uint32_t>(data.size()), &parsed);
    const Plist root(parsed);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return entries;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(root.get(), &iterator);
    while (true) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root.get(), iterator, &key, &value);
        if (key == nullptr) break;
        const std::string name(key);
        std::free(key);
        if (!isKey(name)) continue;
        try {
            entries.emplace(name, decodeFeatures(value));
        } catch (const Malformed&) {
            // An entry we cannot read is measured again.
        }
    }
    std::free(iterator);
    return entries;
}

std::string encode(const std::map<std::string, ImageFeatures>& entries) {
    const Plist root(plist_new_dict());
    for (const auto& [key, features] : entries) plist_dict_set_item(root.get(), key.c_str(), encodeFeatures(features));
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root.get(), &bytes, &length);
    std::string data(bytes != nullptr ? bytes : "", length);
    plist_to_bin_free(bytes);
    return data;
}

} // namespace vp::FeatureCacheFile
