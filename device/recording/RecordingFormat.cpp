#include "device/recording/RecordingFormat.h"

#include <array>
#include <cstdio>

#include "device/recording/Base64.h"
#include "device/recording/JsonLine.h"

namespace velmora::recording {
namespace {

// The header's mark: a file that lacks it is no recording of ours.
constexpr std::string_view kRecordingMark = "velmora";

constexpr std::array<std::pair<ExchangeKind, std::string_view>, 10> kKindNames = {{
    {ExchangeKind::List, "list"},
    {ExchangeKind::Claim, "claim"},
    {ExchangeKind::Open, "open"},
    {ExchangeKind::Control, "ctrl"},
    {ExchangeKind::Close, "close"},
    {ExchangeKind::Arrivals, "arrivals"},
    {ExchangeKind::Wait, "wait"},
    {ExchangeKind::Watch, "watch"},
    {ExchangeKind::Hotplug, "hotplug"},
    {ExchangeKind::Poll, "poll"},
}};

std::string hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

std::string statusText(IOReturn status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

std::string setupText(const UsbSetup& setup) {
    std::string text;
    char byte[4];
    for (const std::uint8_t value : setup.wireBytes()) {
        std::snprintf(byte, sizeof byte, "%s%02X", text.empty() ? "" : " ", static_cast<unsigned>(value));
        text += byte;
    }
    return text;
}

// Reads "5A10" (or any hex up to the width's limit) into value.
bool parseHex(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
    std::string_view digits = text;
    if (digits.starts_with("0x") || digits.starts_with("0X")) digits.remove_prefix(2);
    if (digits.empty() || digits.size() > 16) return false;
    value = 0;
    for (const char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return false;
        value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    return value <= limit;
}

bool hexField(const JsonValue& object, const std::string& name, std::uint64_t limit, std::uint64_t& value,
              std::string& error) {
    const std::optional<std::string> text = object.textField(name);
    if (!text || !parseHex(*text, limit, value)) {
        error = "\"" + name + "\" is missing or no hex number";
        return false;
    }
    return true;
}

bool id16(const JsonValue& object, const std::string& name, std::uint16_t& value, std::string& error) {
    std::uint64_t wide = 0;
    if (!hexField(object, name, 0xFFFF, wide, error)) return false;
    value = static_cast<std::uint16_t>(wide);
    return true;
}

std::string deviceJson(const UsbDeviceInfo& device) {
    return JsonObjectWriter()
        .text("vid", hex16(device.vendorId))
        .text("pid", hex16(device.productId))
        .text("port", device.portPath)
        .text("key", device.platformKey)
        .finish();
}

bool deviceFromJson(const JsonValue& value, UsbDeviceInfo& device, std::string& error) {
    if (value.type != JsonValue::Type::Object) {
        error = "a device is no object";
        return false;
    }
    if (!id16(value, "vid", device.vendorId, error) || !id16(value, "pid", device.productId, error))
        return false;
    device.portPath = value.textField("port").value_or("");
    device.platformKey = value.textField("key").value_or("");
    return true;
}

bool setupFromText(const std::string& text, UsbSetup& setup) {
    std::array<std::uint8_t, 8> bytes{};
    std::size_t index = 0;
    std::size_t position = 0;
    while (index < bytes.size()) {
        while (position < text.size() && text[position] == ' ') ++position;
        std::uint64_t value = 0;
        if (position + 2 > text.size() || !parseHex(text.substr(position, 2), 0xFF, value)) return false;
        bytes[index++] = static_cast<std::uint8_t>(value);
        position += 2;
    }
    if (position != text.size()) return false;
    setup.bmRequestType = bytes[0];
    setup.bRequest = bytes[1];
    setup.wValue = static_cast<std::uint16_t>(bytes[2] | bytes[3] << 8);
    setup.wIndex = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
    setup.wLength = static_cast<std::uint16_t>(bytes[6] | bytes[7] << 8);
    return true;
}

bool statusField(const JsonValue& value, IOReturn& status, std::string& error) {
    std::uint64_t wide = 0;
    if (!hexField(value, "status", 0xFFFFFFFF, wide, error)) return false;
    status = static_cast<IOReturn>(wide);
    return true;
}

bool kindFromName(std::string_view name, ExchangeKind& kind) {
    for (const auto& [candidate, candidateName] : kKindNames) {
        if (candidateName != name) continue;
        kind = candidate;
        return true;
    }
    return false;
}

bool portOf(const JsonValue& value, Exchange& exchange, std::string& error) {
    const std::optional<std::string> port = value.textField("port");
    if (!port) {
        error = "\"port\" is missing";
        return false;
    }
    exchange.port = *port;
    return true;
}

bool controlFromJson(const JsonValue& value, Exchange& exchange, std::string& error) {
    const std::optional<std::string> setup = value.textField("setup");
    if (!setup || !setupFromText(*setup, exchange.setup)) {
        error = "\"setup\" is missing or not eight hex bytes";
        return false;
    }
    const std::optional<std::string> data = value.textField("data");
    if (data) {
        std::optional<std::vector<std::uint8_t>> bytes = fromBase64(*data);
        if (!bytes || bytes->size() != exchange.setup.wLength) {
            error = "\"data\" is not base64 of wLength bytes";
            return false;
        }
        exchange.data = std::move(*bytes);
    } else if (exchange.setup.wLength != 0) {
        error = "\"data\" is missing";
        return false;
    }
    return portOf(value, exchange, error) && statusField(value, exchange.status, error);
}

bool detailsFromJson(const JsonValue& value, Exchange& exchange, std::string& error) {
    switch (exchange.kind) {
        case ExchangeKind::List: {
            const JsonValue* devices = value.field("devices");
            if (devices == nullptr || devices->type != JsonValue::Type::Array) {
                error = "\"devices\" is missing";
                return false;
            }
            for (const JsonValue& item : devices->items) {
                UsbDeviceInfo device;
                if (!deviceFromJson(item, device, error)) return false;
                exchange.devices.push_back(std::move(device));
            }
            return true;
        }
        case ExchangeKind::Claim:
            exchange.problem = value.textField("problem").value_or("");
            return portOf(value, exchange, error) && statusField(value, exchange.status, error);
        case ExchangeKind::Open:
        case ExchangeKind::Hotplug: {
            const JsonValue* device = value.field("device");
            if (device == nullptr || !deviceFromJson(*device, exchange.device, error)) {
                if (error.empty()) error = "\"device\" is missing";
                return false;
            }
            exchange.port = exchange.device.portPath;
            if (exchange.kind == ExchangeKind::Hotplug) {
                exchange.arrived = value.boolField("arrived").value_or(false);
                return true;
            }
            return statusField(value, exchange.status, error);
        }
        case ExchangeKind::Control: return controlFromJson(value, exchange, error);
        case ExchangeKind::Close: return portOf(value, exchange, error);
        case ExchangeKind::Arrivals:
        case ExchangeKind::Wait:
            exchange.count = static_cast<std::uint64_t>(value.numberField("count").value_or(0));
            exchange.result = value.boolField("arrived").value_or(false);
            return portOf(value, exchange, error);
        case ExchangeKind::Watch: exchange.result = value.boolField("watching").value_or(false); return true;
        case ExchangeKind::Poll: return true;
    }
    return true;
}

}  // namespace

std::string_view exchangeKindName(ExchangeKind kind) {
    for (const auto& [candidate, name] : kKindNames)
        if (candidate == kind) return name;
    return "?";
}

std::string headerLine(const RecordingHeader& header) {
    std::string command = "[";
    for (const std::string& word : header.command) {
        if (command.size() > 1) command += ',';
        command += jsonQuoted(word);
    }
    command += ']';
    std::string table = "[";
    for (const RecordedHub& hub : header.table) {
        if (table.size() > 1) table += ',';
        table += JsonObjectWriter()
                     .text("vid", hex16(hub.vid))
                     .text("sspid", hex16(hub.sspid))
                     .text("hspid", hex16(hub.hspid))
                     .finish();
    }
    table += ']';
    std::string images = "[";
    for (const RecordedImage& image : header.images) {
        if (images.size() > 1) images += ',';
        images += JsonObjectWriter().text("path", image.path).text("sha256", image.sha256).finish();
    }
    images += ']';
    JsonObjectWriter line;
    line.text("recording", kRecordingMark).number("format", header.format).text("program", header.program);
    if (!header.run.empty()) line.text("run", header.run);
    return line.raw("command", command).raw("table", table).raw("images", images).finish();
}

std::string exchangeLine(const Exchange& exchange) {
    JsonObjectWriter line;
    line.number("n", static_cast<std::int64_t>(exchange.number)).text("e", exchangeKindName(exchange.kind));
    switch (exchange.kind) {
        case ExchangeKind::List: {
            std::string devices = "[";
            for (const UsbDeviceInfo& device : exchange.devices) {
                if (devices.size() > 1) devices += ',';
                devices += deviceJson(device);
            }
            line.raw("devices", devices + "]");
            break;
        }
        case ExchangeKind::Claim:
            line.text("port", exchange.port).text("status", statusText(exchange.status));
            if (!exchange.problem.empty()) line.text("problem", exchange.problem);
            break;
        case ExchangeKind::Open:
            line.raw("device", deviceJson(exchange.device)).text("status", statusText(exchange.status));
            break;
        case ExchangeKind::Control:
            line.text("port", exchange.port).text("setup", setupText(exchange.setup));
            if (!exchange.data.empty())
                line.text("data", toBase64(exchange.data.data(), exchange.data.size()));
            line.text("status", statusText(exchange.status));
            break;
        case ExchangeKind::Close: line.text("port", exchange.port); break;
        case ExchangeKind::Arrivals:
            line.text("port", exchange.port).number("count", static_cast<std::int64_t>(exchange.count));
            break;
        case ExchangeKind::Wait:
            line.text("port", exchange.port)
                .number("count", static_cast<std::int64_t>(exchange.count))
                .boolean("arrived", exchange.result);
            break;
        case ExchangeKind::Watch: line.boolean("watching", exchange.result); break;
        case ExchangeKind::Hotplug:
            line.raw("device", deviceJson(exchange.device)).boolean("arrived", exchange.arrived);
            break;
        case ExchangeKind::Poll: break;
    }
    line.number("t", exchange.at.count()).number("ms", exchange.took.count());
    return line.finish();
}

bool headerFromJson(const JsonValue& value, RecordingHeader& header, std::string& error) {
    if (value.type != JsonValue::Type::Object || value.textField("recording") != kRecordingMark) {
        error = "its first line is no recording header";
        return false;
    }
    const std::optional<std::int64_t> format = value.numberField("format");
    if (!format || *format < 1) {
        error = "its header has no format number";
        return false;
    }
    if (*format > kRecordingFormat) {
        error = "it is of recording format " + std::to_string(*format) + ", newer than the format " +
                std::to_string(kRecordingFormat) + " this program reads; replay it with a newer version";
        return false;
    }
    header.format = static_cast<int>(*format);
    header.program = value.textField("program").value_or("");
    header.run = value.textField("run").value_or("");
    header.command.clear();
    if (const JsonValue* command = value.field("command"))
        for (const JsonValue& word : command->items) header.command.push_back(word.text);
    header.table.clear();
    if (const JsonValue* table = value.field("table")) {
        for (const JsonValue& item : table->items) {
            RecordedHub hub;
            if (!id16(item, "vid", hub.vid, error) || !id16(item, "sspid", hub.sspid, error) ||
                !id16(item, "hspid", hub.hspid, error))
                return false;
            header.table.push_back(hub);
        }
    }
    header.images.clear();
    if (const JsonValue* images = value.field("images"))
        for (const JsonValue& item : images->items)
            header.images.push_back(
                {item.textField("path").value_or(""), item.textField("sha256").value_or("")});
    return true;
}

bool exchangeFromJson(const JsonValue& value, Exchange& exchange, std::string& error) {
    exchange = Exchange{};
    if (value.type != JsonValue::Type::Object) {
        error = "not a JSON object";
        return false;
    }
    const std::optional<std::int64_t> number = value.numberField("n");
    const std::optional<std::string> kind = value.textField("e");
    if (!number || *number < 1 || !kind || !kindFromName(*kind, exchange.kind)) {
        error = "no exchange number or kind";
        return false;
    }
    exchange.number = static_cast<std::uint64_t>(*number);
    // A year is far more than any run takes; a time beyond it is damage, and would
    // overflow the clock a replay adds it to.
    constexpr std::int64_t kLongestTimeMs = std::int64_t{366} * 24 * 60 * 60 * 1000;
    const std::int64_t at = value.numberField("t").value_or(0);
    const std::int64_t took = value.numberField("ms").value_or(0);
    if (at < -kLongestTimeMs || at > kLongestTimeMs || took > kLongestTimeMs) {
        error = "a time beyond a year";
        return false;
    }
    exchange.at = Milliseconds(at);
    exchange.took = Milliseconds(std::max<std::int64_t>(0, took));
    return detailsFromJson(value, exchange, error);
}

std::string describeExchange(const Exchange& exchange) {
    std::string text(exchangeKindName(exchange.kind));
    switch (exchange.kind) {
        case ExchangeKind::Control:
            text += ' ';
            text += setupText(exchange.setup);
            break;
        case ExchangeKind::Open:
            text += ' ';
            text += exchange.device.platformKey;
            break;
        default: break;
    }
    if (!exchange.port.empty()) {
        text += " on ";
        text += exchange.port;
    }
    return text;
}

}  // namespace velmora::recording
