#pragma once
// A plain HTTP client over a socket of its own, for the metrics endpoint's tests
// and for asking the Prometheus servers they start: what an ordinary or a hostile
// client sends, byte for byte. Every socket carries a guard timeout, so a
// regression fails a test instead of hanging the suite.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace velmora::testing {

inline constexpr int kProbeGuardSeconds = 20;

// A connected socket to 127.0.0.1:port (::1 with ipv6), or -1.
inline int connectLoopback(std::uint16_t port, bool ipv6 = false) {
    const int socket = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval guard{kProbeGuardSeconds, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &guard, sizeof guard);
    sockaddr_in four{};
    sockaddr_in6 six{};
    four.sin_family = AF_INET;
    four.sin_port = htons(port);
    four.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    six.sin6_family = AF_INET6;
    six.sin6_port = htons(port);
    six.sin6_addr = in6addr_loopback;
    const int result = ipv6 ? ::connect(socket, reinterpret_cast<sockaddr*>(&six), sizeof six)
                            : ::connect(socket, reinterpret_cast<sockaddr*>(&four), sizeof four);
    if (result != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

inline bool sendAll(int socket, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t count = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) return false;
        sent += static_cast<std::size_t>(count);
    }
    return true;
}

// Everything the peer sends until it closes (or resets) the connection.
inline std::string readToEnd(int socket) {
    std::string received;
    char buffer[8192];
    while (true) {
        const ssize_t count = ::recv(socket, buffer, sizeof buffer, 0);
        if (count <= 0) return received;
        received.append(buffer, static_cast<std::size_t>(count));
    }
}

// Sends request as it stands and returns the whole answer ("" when none came).
inline std::string askHttp(std::uint16_t port, const std::string& request, bool ipv6 = false) {
    const int socket = connectLoopback(port, ipv6);
    if (socket < 0) return {};
    sendAll(socket, request);
    std::string answer = readToEnd(socket);
    ::close(socket);
    return answer;
}

inline std::string getRequest(const std::string& target, const std::string& headers = {}) {
    return "GET " + target + " HTTP/1.1\r\nHost: probe\r\nConnection: close\r\n" + headers + "\r\n";
}

// The body of an answer (after its headers).
inline std::string bodyOf(const std::string& answer) {
    const std::size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

}  // namespace velmora::testing
