#pragma once
// Where the metrics endpoint listens: "ADDRESS:PORT", with ADDRESS an IPv4
// address (127.0.0.1, 0.0.0.0 for every IPv4 address), an IPv6 address in
// brackets ([::1], [::] for every IPv6 address, [fe80::1%eth0]) or localhost (the
// loopback addresses of both families), and PORT 0 to 65535 (0: any free port).
// Only the address given is bound; a host name other than localhost is refused,
// since what it resolves to may change and bind more than was asked.
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::metrics {

struct ListenAddress {
    std::string host;  // as given, without brackets
    std::uint16_t port = 0;
    // The socket addresses to bind, the first one first (localhost: 127.0.0.1, then ::1).
    std::vector<sockaddr_storage> sockets;
};

// Nothing, with error saying what is wrong with the text, when it names no address.
std::optional<ListenAddress> parseListenAddress(std::string_view text, std::string& error);

// "127.0.0.1:9464", "[::1]:9464": a socket address as a scraper would name it.
std::string socketAddressText(const sockaddr_storage& address);

}  // namespace velmora::metrics
