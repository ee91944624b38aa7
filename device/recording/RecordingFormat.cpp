#include "device/recording/RecordingFormat.h"

#include <array>

#include "app/Hex.h"
#include "app/Json.h"
#include "device/recording/Base64.h"

namespace velmora::recording {
namespace {

// The header's mark: a file that lacks it is no recording of ours.
constexpr std::string_view kRecordingMark = "velmora";

// A recording nests three deep; a hostile line no deeper than this. The longest
// line a run writes is a transfer of 64 KiB (88 KiB of base64) or a header with a
// long command line; a longer one is refused before it is parsed.
constexpr JsonLimits kLineLimits{4 * 1024 * 1024, 16};

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

constexpr std::size_t kIdDigits = 4;
constexpr std::size_t kMostDigits = 16;

std::string setupText(const UsbSetup& setup) {
    return hexBytes(setup.wireBytes(), HexCase::Upper, " ");
}

bool hexField(const JsonValue& object, const std::string& name, std::uint64_t limit, std::uint64_t& value,
              std::string& error) {
    // Written as "2FE3" or "0x00000000"; read in either case, with or without the
    // "0x", as long as the number fits.
    std::optional<std::string> text = jsonTextField(object, name);
    if (text && (text->starts_with("0x") || text->starts_with("0X"))) text->erase(0, 2);
    const std::optional<std::uint64_t> read = text ? parseHex(*text, 1, kMostDigits) : std::nullopt;
    if (!read || *read > limit) {
        error = "\"" + name + "\" is missing or no hex number";
        return false;
    }
    value = *read;
    return true;
}

bool id16(const JsonValue& object, const std::string& name, std::uint16_t& value, std::string& error) {
    std::uint64_t wide = 0;
    if (!hexField(object, name, 0xFFFF, wide, error)) return false;
    value = static_cast<std::uint16_t>(wide);
    return true;
}

JsonDocument idsJson(std::initializer_list<std::pair<const char*, std::uint16_t>> ids) {
    JsonDocument object = JsonDocument::object();
    for (const auto& [name, id] : ids) object[name] = hexText(id, kIdDigits);
    return object;
}

JsonDocument deviceJson(const UsbDeviceInfo& device) {
    JsonDocument object = idsJson({{"vid", device.vendorId}, {"pid", device.productId}});
    object["port"] = device.portPath;
    object["key"] = device.platformKey;
    return object;
}

// The items of an array field; none when it is absent or no array.
const JsonValue::array_t& itemsOf(const JsonValue& object, const std::string& name) {
    static const JsonValue::array_t kNone;
    const JsonValue* items = jsonField(object, name);
    return items != nullptr && items->is_array() ? items->get_ref<const JsonValue::array_t&>() : kNone;
}

bool deviceFromJson(const JsonValue& value, UsbDeviceInfo& device, std::string& error) {
    if (!value.is_object()) {
        error = "a device is no object";
        return false;
    }
    if (!id16(value, "vid", device.vendorId, error) || !id16(value, "pid", device.productId, error))
        return false;
    device.portPath = jsonTextField(value, "port").value_or("");
    device.platformKey = jsonTextField(value, "key").value_or("");
    return true;
}

bool setupFromText(const std::string& text, UsbSetup& setup) {
    const std::optional<std::vector<std::uint8_t>> bytes = bytesFromHex(text, " ");
    if (!bytes || bytes->size() != setup.wireBytes().size()) return false;
    const std::vector<std::uint8_t>& wire = *bytes;
    setup.bmRequestType = wire[0];
    setup.bRequest = wire[1];
    setup.wValue = static_cast<std::uint16_t>(wire[2] | wire[3] << 8);
    setup.wIndex = static_cast<std::uint16_t>(wire[4] | wire[5] << 8);
    setup.wLength = static_cast<std::uint16_t>(wire[6] | wire[7] << 8);
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
    const std::optional<std::string> port = jsonTextField(value, "port");
    if (!port) {
        error = "\"port\" is missing";
        return false;
    }
    exchange.port = *port;
    return true;
}

bool controlFromJson(const JsonValue& value, Exchange& exchange, std::string& error) {
    const std::optional<std::string> setup = jsonTextField(value, "setup");
    if (!setup || !setupFromText(*setup, exchange.setup)) {
        error = "\"setup\" is missing or not eight hex bytes";
        return false;
    }
    const std::optional<std::string> data = jsonTextField(value, "data");
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
            const JsonValue* devices = jsonField(value, "devices");
            if (devices == nullptr || !devices->is_array()) {
                error = "\"devices\" is missing";
                return false;
            }
            for (const JsonValue& item : *devices) {
                UsbDeviceInfo device;
                if (!deviceFromJson(item, device, error)) return false;
                exchange.devices.push_back(std::move(device));
            }
            return true;
        }
        case ExchangeKind::Claim:
            exchange.problem = jsonTextField(value, "problem").value_or("");
            return portOf(value, exchange, error) && statusField(value, exchange.status, error);
        case ExchangeKind::Open:
        case ExchangeKind::Hotplug: {
            const JsonValue* device = jsonField(value, "device");
            if (device == nullptr || !deviceFromJson(*device, exchange.device, error)) {
                if (error.empty()) error = "\"device\" is missing";
                return false;
            }
            exchange.port = exchange.device.portPath;
            if (exchange.kind == ExchangeKind::Hotplug) {
                exchange.arrived = jsonBoolField(value, "arrived").value_or(false);
                return true;
            }
            return statusField(value, exchange.status, error);
        }
        case ExchangeKind::Control: return controlFromJson(value, exchange, error);
        case ExchangeKind::Close: return portOf(value, exchange, error);
        case ExchangeKind::Arrivals:
        case ExchangeKind::Wait:
            exchange.count = static_cast<std::uint64_t>(jsonNumberField(value, "count").value_or(0));
            exchange.result = jsonBoolField(value, "arrived").value_or(false);
            return portOf(value, exchange, error);
        case ExchangeKind::Watch:
            exchange.result = jsonBoolField(value, "watching").value_or(false);
            return true;
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
    JsonDocument line = JsonDocument::object();
    line["recording"] = kRecordingMark;
    line["format"] = header.format;
    line["program"] = header.program;
    line["command"] = header.command;
    JsonDocument& table = line["table"] = JsonDocument::array();
    for (const RecordedHub& hub : header.table)
        table.push_back(idsJson({{"vid", hub.vid}, {"sspid", hub.sspid}, {"hspid", hub.hspid}}));
    JsonDocument& images = line["images"] = JsonDocument::array();
    for (const RecordedImage& image : header.images)
        images.push_back(JsonDocument{{"path", image.path}, {"sha256", image.sha256}});
    return jsonLine(line);
}

std::string exchangeLine(const Exchange& exchange) {
    JsonDocument line = JsonDocument::object();
    line["n"] = static_cast<std::int64_t>(exchange.number);
    line["e"] = exchangeKindName(exchange.kind);
    switch (exchange.kind) {
        case ExchangeKind::List: {
            JsonDocument& devices = line["devices"] = JsonDocument::array();
            for (const UsbDeviceInfo& device : exchange.devices) devices.push_back(deviceJson(device));
            break;
        }
        case ExchangeKind::Claim:
            line["port"] = exchange.port;
            line["status"] = statusText(exchange.status);
            if (!exchange.problem.empty()) line["problem"] = exchange.problem;
            break;
        case ExchangeKind::Open:
            line["device"] = deviceJson(exchange.device);
            line["status"] = statusText(exchange.status);
            break;
        case ExchangeKind::Control:
            line["port"] = exchange.port;
            line["setup"] = setupText(exchange.setup);
            if (!exchange.data.empty()) line["data"] = toBase64(exchange.data.data(), exchange.data.size());
            line["status"] = statusText(exchange.status);
            break;
        case ExchangeKind::Close: line["port"] = exchange.port; break;
        case ExchangeKind::Arrivals:
        case ExchangeKind::Wait:
            line["port"] = exchange.port;
            line["count"] = static_cast<std::int64_t>(exchange.count);
            if (exchange.kind == ExchangeKind::Wait) line["arrived"] = exchange.result;
            break;
        case ExchangeKind::Watch: line["watching"] = exchange.result; break;
        case ExchangeKind::Hotplug:
            line["device"] = deviceJson(exchange.device);
            line["arrived"] = exchange.arrived;
            break;
        case ExchangeKind::Poll: break;
    }
    line["t"] = static_cast<std::int64_t>(exchange.at.count());
    line["ms"] = static_cast<std::int64_t>(exchange.took.count());
    return jsonLine(line);
}

bool parseLine(std::string_view line, JsonValue& value, std::string& error) {
    std::optional<JsonValue> parsed = parseJson(line, kLineLimits, error);
    if (!parsed) return false;
    value = std::move(*parsed);
    return true;
}

bool headerFromJson(const JsonValue& value, RecordingHeader& header, std::string& error) {
    if (!value.is_object() || jsonTextField(value, "recording") != kRecordingMark) {
        error = "its first line is no recording header";
        return false;
    }
    const std::optional<std::int64_t> format = jsonNumberField(value, "format");
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
    header.program = jsonTextField(value, "program").value_or("");
    header.command.clear();
    for (const JsonValue& word : itemsOf(value, "command"))
        header.command.push_back(word.is_string() ? word.get<std::string>() : std::string());
    header.table.clear();
    for (const JsonValue& item : itemsOf(value, "table")) {
        RecordedHub hub;
        if (!id16(item, "vid", hub.vid, error) || !id16(item, "sspid", hub.sspid, error) ||
            !id16(item, "hspid", hub.hspid, error))
            return false;
        header.table.push_back(hub);
    }
    header.images.clear();
    for (const JsonValue& item : itemsOf(value, "images"))
        header.images.push_back(
            {jsonTextField(item, "path").value_or(""), jsonTextField(item, "sha256").value_or("")});
    return true;
}

bool exchangeFromJson(const JsonValue& value, Exchange& exchange, std::string& error) {
    exchange = Exchange{};
    if (!value.is_object()) {
        error = "not a JSON object";
        return false;
    }
    const std::optional<std::int64_t> number = jsonNumberField(value, "n");
    const std::optional<std::string> kind = jsonTextField(value, "e");
    if (!number || *number < 1 || !kind || !kindFromName(*kind, exchange.kind)) {
        error = "no exchange number or kind";
        return false;
    }
    exchange.number = static_cast<std::uint64_t>(*number);
    // A year is far more than any run takes; a time beyond it is damage, and would
    // overflow the clock a replay adds it to.
    constexpr std::int64_t kLongestTimeMs = std::int64_t{366} * 24 * 60 * 60 * 1000;
    const std::int64_t at = jsonNumberField(value, "t").value_or(0);
    const std::int64_t took = jsonNumberField(value, "ms").value_or(0);
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
