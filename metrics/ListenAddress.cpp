#include "metrics/ListenAddress.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>

#include <charconv>
#include <cstring>

#include "metrics/MetricsMessages.h"

namespace velmora::metrics {
namespace {

std::optional<std::uint16_t> parsePort(std::string_view text) {
    unsigned value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || failure != std::errc() || end != text.data() + text.size() || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// A numeric address of the family, with its port; nothing when host is not one.
std::optional<sockaddr_storage> numericAddress(const std::string& host, int family, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr)
        return std::nullopt;
    sockaddr_storage address{};
    std::memcpy(&address, found->ai_addr, found->ai_addrlen);
    ::freeaddrinfo(found);
    return address;
}

// getaddrinfo takes "1.2" and "127.1" as IPv4 addresses; only the four numbers count here.
bool dottedQuad(const std::string& host) {
    in_addr parsed{};
    return ::inet_pton(AF_INET, host.c_str(), &parsed) == 1;
}

}  // namespace

std::optional<ListenAddress> parseListenAddress(std::string_view text, std::string& error) {
    const std::string given(text);
    ListenAddress address;
    std::string_view portText;
    bool bracketed = false;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = messages::badListenAddress(given, messages::kListenAddressForm);
            return std::nullopt;
        }
        address.host = std::string(text.substr(1, close - 1));
        portText = text.substr(close + 2);
        bracketed = true;
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string_view::npos) {
            error = messages::badListenAddress(given, messages::kListenAddressForm);
            return std::nullopt;
        }
        address.host = std::string(text.substr(0, colon));
        portText = text.substr(colon + 1);
        if (address.host.find(':') != std::string::npos) {
            error = messages::badListenAddress(given, messages::kListenIpv6Brackets);
            return std::nullopt;
        }
    }
    const std::optional<std::uint16_t> port = parsePort(portText);
    if (!port) {
        error = messages::badListenAddress(given, messages::kListenPortRange);
        return std::nullopt;
    }
    address.port = *port;
    if (!bracketed && address.host == "localhost") {
        address.sockets.push_back(*numericAddress("127.0.0.1", AF_INET, address.port));
        address.sockets.push_back(*numericAddress("::1", AF_INET6, address.port));
        return address;
    }
    const std::optional<sockaddr_storage> numeric =
        bracketed
            ? numericAddress(address.host, AF_INET6, address.port)
            : (dottedQuad(address.host) ? numericAddress(address.host, AF_INET, address.port) : std::nullopt);
    if (!numeric) {
        error = messages::badListenAddress(given, address.host.empty() ? messages::kListenAddressMissing
                                                                       : messages::kListenAddressNotNumeric);
        return std::nullopt;
    }
    address.sockets.push_back(*numeric);
    return address;
}

std::string socketAddressText(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN + IF_NAMESIZE + 2] = {};
    char service[8] = {};
    const auto size =
        static_cast<socklen_t>(address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), size, host, sizeof host, service,
                      sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "?";
    if (address.ss_family == AF_INET6) return std::string("[") + host + "]:" + service;
    return std::string(host) + ":" + service;
}

}  // namespace velmora::metrics
