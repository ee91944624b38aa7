#pragma once
// What the metrics endpoint and file say when they cannot do what was asked. A
// front end names its own option before them ("--metrics: ...").
#include <string>

namespace velmora::metrics::messages {

inline constexpr const char* kListenAddressForm =
    "expected ADDRESS:PORT, such as 127.0.0.1:9464, [::1]:9464 or localhost:9464";
inline constexpr const char* kListenIpv6Brackets = "put an IPv6 address in brackets, such as [::1]:9464";
inline constexpr const char* kListenPortRange = "the port must be a number from 0 to 65535";
inline constexpr const char* kListenAddressMissing =
    "name the address to listen on (0.0.0.0 for every IPv4 address, [::] for every IPv6 address)";
inline constexpr const char* kListenAddressNotNumeric =
    "the address must be an IPv4 address, an IPv6 address in brackets or localhost";
inline constexpr const char* kMetricsFileSuffix = ".prom";

inline std::string badListenAddress(const std::string& given, const std::string& reason) {
    return "'" + given + "' is not an address to listen on: " + reason;
}

inline std::string cannotListen(const std::string& address, const std::string& reason) {
    return "cannot listen on " + address + ": " + reason;
}

inline std::string badMetricsFileName(const std::string& path) {
    return "'" + path + "': the textfile collector of node_exporter reads only files whose names end in " +
           kMetricsFileSuffix;
}

inline std::string metricsFileNotWritten(const std::string& path, const std::string& reason) {
    return "metrics file '" + path + "' not written: " + reason;
}

inline std::string metricsFileWrittenAgain(const std::string& path) {
    return "metrics file '" + path + "' written again";
}

}  // namespace velmora::metrics::messages
