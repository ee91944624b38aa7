#include "device/recording/JsonLine.h"

#include <cstdio>

namespace velmora::recording {
namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    bool parseWhole(JsonValue& value, std::string& error) {
        if (!parseValue(value, 0)) {
            error = error_.empty() ? "malformed JSON" : error_;
            return false;
        }
        skipSpace();
        if (position_ != text_.size()) {
            error = "text after the JSON value";
            return false;
        }
        return true;
    }

private:
    static constexpr int kMaxDepth = 16;  // a recording nests three deep; a hostile file no deeper

    void skipSpace() {
        while (position_ < text_.size() && (text_[position_] == ' ' || text_[position_] == '\t' ||
                                            text_[position_] == '\r' || text_[position_] == '\n'))
            ++position_;
    }
    bool take(char wanted) {
        skipSpace();
        if (position_ < text_.size() && text_[position_] == wanted) {
            ++position_;
            return true;
        }
        return false;
    }
    bool word(std::string_view literal) {
        if (text_.substr(position_, literal.size()) != literal) return false;
        position_ += literal.size();
        return true;
    }
    bool fail(const char* why) {
        if (error_.empty()) error_ = why;
        return false;
    }

    bool parseValue(JsonValue& value, int depth) {
        if (depth > kMaxDepth) return fail("nested too deep");
        skipSpace();
        if (position_ >= text_.size()) return fail("the line ends inside a value");
        const char first = text_[position_];
        if (first == '{') return parseObject(value, depth);
        if (first == '[') return parseArray(value, depth);
        if (first == '"') {
            value.type = JsonValue::Type::String;
            return parseString(value.text);
        }
        if (word("true") || word("false")) {
            value.type = JsonValue::Type::Bool;
            value.boolean = first == 't';
            return true;
        }
        if (word("null")) return true;
        return parseNumber(value);
    }

    bool parseNumber(JsonValue& value) {
        const std::size_t start = position_;
        if (position_ < text_.size() && text_[position_] == '-') ++position_;
        std::int64_t magnitude = 0;
        std::size_t digits = 0;
        while (position_ < text_.size() && text_[position_] >= '0' && text_[position_] <= '9') {
            if (magnitude > (INT64_MAX - 9) / 10) return fail("number too large");
            magnitude = magnitude * 10 + (text_[position_] - '0');
            ++position_;
            ++digits;
        }
        if (digits == 0) return fail("unexpected character");
        value.type = JsonValue::Type::Number;
        value.number = text_[start] == '-' ? -magnitude : magnitude;
        return true;
    }

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    void appendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool parseString(std::string& out) {
        ++position_;  // the opening quote
        while (position_ < text_.size()) {
            const char c = text_[position_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return fail("control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (position_ >= text_.size()) break;
            const char escaped = text_[position_++];
            switch (escaped) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    if (position_ + 4 > text_.size()) return fail("short \\u escape");
                    unsigned code = 0;
                    for (int i = 0; i < 4; ++i) {
                        const int digit = hexDigit(text_[position_++]);
                        if (digit < 0) return fail("bad \\u escape");
                        code = code * 16 + static_cast<unsigned>(digit);
                    }
                    appendUtf8(out, code);
                    break;
                }
                default: return fail("bad escape in a string");
            }
        }
        return fail("the line ends inside a string");
    }

    bool parseArray(JsonValue& value, int depth) {
        ++position_;
        value.type = JsonValue::Type::Array;
        if (take(']')) return true;
        do {
            JsonValue item;
            if (!parseValue(item, depth + 1)) return false;
            value.items.push_back(std::move(item));
        } while (take(','));
        return take(']') || fail("expected , or ] in an array");
    }

    bool parseObject(JsonValue& value, int depth) {
        ++position_;
        value.type = JsonValue::Type::Object;
        if (take('}')) return true;
        do {
            skipSpace();
            if (position_ >= text_.size() || text_[position_] != '"') return fail("expected a field name");
            std::string name;
            if (!parseString(name)) return false;
            if (!take(':')) return fail("expected : after a field name");
            JsonValue item;
            if (!parseValue(item, depth + 1)) return false;
            value.fields[name] = std::move(item);
        } while (take(','));
        return take('}') || fail("expected , or } in an object");
    }

    std::string_view text_;
    std::size_t position_ = 0;
    std::string error_;
};

}  // namespace

const JsonValue* JsonValue::field(const std::string& name) const {
    const auto found = fields.find(name);
    return found == fields.end() ? nullptr : &found->second;
}

std::optional<std::int64_t> JsonValue::numberField(const std::string& name) const {
    const JsonValue* value = field(name);
    if (value == nullptr || value->type != Type::Number) return std::nullopt;
    return value->number;
}

std::optional<std::string> JsonValue::textField(const std::string& name) const {
    const JsonValue* value = field(name);
    if (value == nullptr || value->type != Type::String) return std::nullopt;
    return value->text;
}

std::optional<bool> JsonValue::boolField(const std::string& name) const {
    const JsonValue* value = field(name);
    if (value == nullptr || value->type != Type::Bool) return std::nullopt;
    return value->boolean;
}

bool parseJson(std::string_view text, JsonValue& value, std::string& error) {
    value = JsonValue{};
    return Parser(text).parseWhole(value, error);
}

std::string jsonQuoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

void JsonObjectWriter::key(std::string_view name) {
    if (out_.size() > 1) out_ += ',';
    out_ += jsonQuoted(name);
    out_ += ':';
}

JsonObjectWriter& JsonObjectWriter::number(std::string_view name, std::int64_t value) {
    key(name);
    out_ += std::to_string(value);
    return *this;
}

JsonObjectWriter& JsonObjectWriter::text(std::string_view name, std::string_view value) {
    key(name);
    out_ += jsonQuoted(value);
    return *this;
}

JsonObjectWriter& JsonObjectWriter::boolean(std::string_view name, bool value) {
    key(name);
    out_ += value ? "true" : "false";
    return *this;
}

JsonObjectWriter& JsonObjectWriter::raw(std::string_view name, std::string_view json) {
    key(name);
    out_ += json;
    return *this;
}

}  // namespace velmora::recording
