#include "app/Json.h"

#include <limits>
#include <vector>

#include "app/Utf8.h"

namespace velmora {
namespace {

// Builds the value from the parser's events, refusing at once what the limits
// forbid: the library's own builder takes any depth and any number, and can only
// be told after the whole text has been read.
class LimitedBuilder final : public nlohmann::json_sax<JsonValue> {
public:
    explicit LimitedBuilder(std::size_t maxDepth) : maxDepth_(maxDepth) {}

    bool null() override { return place(JsonValue()); }
    bool boolean(bool value) override { return place(JsonValue(value)); }
    bool number_integer(number_integer_t value) override { return place(JsonValue(value)); }
    bool number_unsigned(number_unsigned_t value) override {
        if (value > static_cast<number_unsigned_t>(std::numeric_limits<std::int64_t>::max()))
            return fail("number too large");
        // Held signed, as every number the program reads is.
        return place(JsonValue(static_cast<number_integer_t>(value)));
    }
    bool number_float(number_float_t, const string_t& text) override {
        // The library reads a whole number beyond 64 bits as a floating one.
        return fail(text.find_first_of(".eE") == string_t::npos ? "number too large"
                                                                : "a number that is not whole");
    }
    bool string(string_t& value) override { return place(JsonValue(std::move(value))); }
    bool binary(binary_t&) override { return fail("malformed JSON"); }  // never in JSON text
    bool start_object(std::size_t) override { return open(JsonValue::object()); }
    bool key(string_t& name) override {
        key_ = std::move(name);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(JsonValue::array()); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) override {
        // Decided by where the parser stood, not by its words: the reasons a user
        // can act on.
        if (!error_.empty()) return false;
        if (complete_) {
            error_ = "text after the JSON value";
        } else if (position > textSize_) {
            error_ = "the line ends inside a value";
        } else {
            error_ = "malformed JSON at byte " + std::to_string(position);
        }
        return false;
    }

    void expect(std::size_t textSize) { textSize_ = textSize; }
    const std::string& error() const { return error_; }
    JsonValue take() { return std::move(root_); }

private:
    bool fail(const char* why) {
        error_ = why;
        return false;
    }

    // Puts a value where the parser stands: the top, the next item of an array, or
    // the field just named (a name given twice keeps its last value).
    JsonValue* put(JsonValue&& value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        JsonValue& container = *open_.back();
        if (container.is_array()) {
            container.push_back(std::move(value));
            return &container.back();
        }
        JsonValue& field = container[key_];
        field = std::move(value);
        return &field;
    }
    bool place(JsonValue&& value) {
        if (open_.size() > maxDepth_) return fail("nested too deep");
        put(std::move(value));
        complete_ = open_.empty();
        return true;
    }
    bool open(JsonValue&& container) {
        if (open_.size() > maxDepth_) return fail("nested too deep");
        // The pointer stays good: nothing is added to the container's own parent
        // until the container is closed.
        open_.push_back(put(std::move(container)));
        return true;
    }
    bool close() {
        open_.pop_back();
        complete_ = open_.empty();
        return true;
    }

    std::size_t maxDepth_;
    std::size_t textSize_ = 0;
    JsonValue root_;
    std::vector<JsonValue*> open_;  // the containers the parser is inside, outermost first
    std::string key_;
    bool complete_ = false;
    std::string error_;
};

// A text that is not UTF-8, byte by byte: each byte as the character of its number.
std::string bytesAsCharacters(const std::string& bytes) {
    std::string text;
    for (const char character : bytes) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte < 0x80) {
            text += character;
        } else {
            text += static_cast<char>(0xC0 | byte >> 6);
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

void makeTextsUtf8(JsonDocument& value) {
    if (value.is_string()) {
        std::string& text = value.get_ref<std::string&>();
        if (!isValidUtf8(text)) text = bytesAsCharacters(text);
        return;
    }
    if (value.is_structured())
        for (JsonDocument& item : value) makeTextsUtf8(item);
}

}  // namespace

std::optional<JsonValue> parseJson(std::string_view text, const JsonLimits& limits, std::string& error) {
    if (text.size() > limits.maxBytes) {
        error = "longer than " + std::to_string(limits.maxBytes) + " bytes";
        return std::nullopt;
    }
    // The library takes a NUL byte for the end of the text and would ignore all
    // after it; no JSON holds one (a string writes it \u0000).
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
        error = "malformed JSON at byte " + std::to_string(nul + 1);
        return std::nullopt;
    }
    LimitedBuilder builder(limits.maxDepth);
    builder.expect(text.size());
    if (!JsonValue::sax_parse(text.begin(), text.end(), &builder)) {
        error = builder.error().empty() ? "malformed JSON" : builder.error();
        return std::nullopt;
    }
    return builder.take();
}

const JsonValue* jsonField(const JsonValue& object, const std::string& name) {
    const auto found = object.find(name);  // end() for a value that is no object
    return found == object.end() ? nullptr : &*found;
}

std::optional<std::int64_t> jsonNumberField(const JsonValue& object, const std::string& name) {
    const JsonValue* value = jsonField(object, name);
    if (value == nullptr || !value->is_number_integer()) return std::nullopt;
    return value->get<std::int64_t>();
}

std::optional<std::string> jsonTextField(const JsonValue& object, const std::string& name) {
    const JsonValue* value = jsonField(object, name);
    if (value == nullptr || !value->is_string()) return std::nullopt;
    return value->get_ref<const std::string&>();
}

std::optional<bool> jsonBoolField(const JsonValue& object, const std::string& name) {
    const JsonValue* value = jsonField(object, name);
    if (value == nullptr || !value->is_boolean()) return std::nullopt;
    return value->get<bool>();
}

std::string jsonLine(const JsonDocument& value) {
    return value.dump(-1, ' ', false, JsonDocument::error_handler_t::replace);
}

std::string asciiJson(JsonDocument value) {
    makeTextsUtf8(value);
    return value.dump(-1, ' ', true, JsonDocument::error_handler_t::replace);
}

}  // namespace velmora
