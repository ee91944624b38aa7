#pragma once
// The little JSON a recording needs: one object per line, built field by field
// and read back into a tree of values. Not a general JSON library: numbers are
// whole numbers only, which is all a recording holds.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::recording {

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    std::int64_t number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> fields;

    // Field lookups of an object; null when absent or of another type.
    const JsonValue* field(const std::string& name) const;
    std::optional<std::int64_t> numberField(const std::string& name) const;
    std::optional<std::string> textField(const std::string& name) const;
    std::optional<bool> boolField(const std::string& name) const;
};

// Parses one whole line; false (with error) when it is not one JSON value.
bool parseJson(std::string_view text, JsonValue& value, std::string& error);

// Builds one object: {"a":1,"b":"x"}.
class JsonObjectWriter {
public:
    JsonObjectWriter& number(std::string_view name, std::int64_t value);
    JsonObjectWriter& text(std::string_view name, std::string_view value);
    JsonObjectWriter& boolean(std::string_view name, bool value);
    // A value already written as JSON (an array or an object).
    JsonObjectWriter& raw(std::string_view name, std::string_view json);
    std::string finish() const { return out_ + "}"; }

private:
    void key(std::string_view name);
    std::string out_ = "{";
};

// "\"text\"" with quotes, backslashes and control characters escaped.
std::string jsonQuoted(std::string_view text);

}  // namespace velmora::recording
