#pragma once
// Every JSON the program reads or writes goes through one library (Debian's
// nlohmann-json3-dev) and through this door to it: reading untrusted text within
// limits and without exceptions, looking fields up without throwing on a value of
// another type, and writing text for a file or for a terminal.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// What a parse gives: an object's fields in a sorted map, so a hostile line of a
// million fields costs a million lookups of log n, not n.
using JsonValue = nlohmann::json;
// What the program writes: fields in the order they were set.
using JsonDocument = nlohmann::ordered_json;

struct JsonLimits {
    std::size_t maxBytes = 0;  // the text as a whole, checked before any parsing
    std::size_t maxDepth = 0;  // the top value is at depth 0, its members at 1
};

// Reads text as exactly one JSON value. Numbers must be whole and fit a signed
// 64-bit integer: the program writes no others. Nothing, with the reason in error,
// for anything else; never throws.
std::optional<JsonValue> parseJson(std::string_view text, const JsonLimits& limits, std::string& error);

// Fields of an object; nothing when the value is no object, the field is absent or
// of another type.
const JsonValue* jsonField(const JsonValue& object, const std::string& name);
std::optional<std::int64_t> jsonNumberField(const JsonValue& object, const std::string& name);
std::optional<std::string> jsonTextField(const JsonValue& object, const std::string& name);
std::optional<bool> jsonBoolField(const JsonValue& object, const std::string& name);

// One line of a file: compact, UTF-8 as it stands, control characters escaped; a
// byte that is not part of UTF-8 becomes U+FFFD, so the line is always JSON.
std::string jsonLine(const JsonDocument& value);

// For a terminal or a pipe: compact and printable ASCII only (controls, DEL, C1 and
// everything beyond ASCII escaped), so printing it cannot drive a terminal. Texts
// that are not UTF-8 (an image's strings are raw bytes) go byte by byte, each byte
// as the character of its number, so no byte is lost.
std::string asciiJson(JsonDocument value);

}  // namespace velmora
