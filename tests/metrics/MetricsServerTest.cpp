#include <dirent.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "metrics/ListenAddress.h"
#include "metrics/MetricsServer.h"
#include "metrics/StationMetrics.h"
#include "tests/support/HttpProbe.h"

namespace velmora::metrics {
namespace {

using testing::askHttp;
using testing::bodyOf;
using testing::getRequest;

constexpr const char* kOpenMetricsAccept = "Accept: application/openmetrics-text;version=1.0.0\r\n";

TEST(ListenAddressTest, TakesAddressesAndRefusesTheRest) {
    const struct {
        const char* text;
        std::size_t sockets;  // 0: refused
        const char* reason;   // part of the refusal
    } cases[] = {
        {"127.0.0.1:9464", 1, ""},
        {"0.0.0.0:0", 1, ""},
        {"[::1]:65535", 1, ""},
        {"[::]:9464", 1, ""},
        {"localhost:9464", 2, ""},
        {"", 0, "expected ADDRESS:PORT"},
        {"9464", 0, "expected ADDRESS:PORT"},
        {"[::1]9464", 0, "expected ADDRESS:PORT"},
        {"[::1", 0, "expected ADDRESS:PORT"},
        {"::1:9464", 0, "in brackets"},
        {":9464", 0, "name the address"},
        {"127.0.0.1:", 0, "from 0 to 65535"},
        {"127.0.0.1:65536", 0, "from 0 to 65535"},
        {"127.0.0.1:-1", 0, "from 0 to 65535"},
        {"127.0.0.1:80x", 0, "from 0 to 65535"},
        {"127.1:80", 0, "IPv4 address"},
        {"example.com:80", 0, "IPv4 address"},
        {"[127.0.0.1]:80", 0, "IPv4 address"},
        {"[localhost]:80", 0, "IPv4 address"},
    };
    for (const auto& one : cases) {
        std::string error;
        const std::optional<ListenAddress> address = parseListenAddress(one.text, error);
        EXPECT_EQ(address ? address->sockets.size() : 0, one.sockets) << one.text;
        EXPECT_NE(error.find(one.reason), std::string::npos) << one.text << ": " << error;
    }
}

std::size_t threadCount() {
    std::size_t count = 0;
    DIR* tasks = ::opendir("/proc/self/task");
    while (const dirent* entry = ::readdir(tasks)) count += entry->d_name[0] != '.';
    ::closedir(tasks);
    return count;
}

class MetricsServerTest : public ::testing::Test {
protected:
    void start(ServerLimits limits, MetricsSource source = {}) {
        if (!source) source = [this](ExpositionFormat format) { return metrics_.render(format); };
        std::string error;
        server_ = MetricsServer::start("127.0.0.1:0", std::move(source), error, limits);
        ASSERT_NE(server_, nullptr) << error;
        port_ = server_->port();
    }

    static ServerLimits quickLimits() {
        ServerLimits limits;
        limits.workers = 1;
        limits.waitingConnections = 1;
        limits.requestTime = std::chrono::milliseconds(300);
        limits.responseTime = std::chrono::milliseconds(300);
        return limits;
    }

    bool scrapeWorks() { return askHttp(port_, getRequest("/metrics")).starts_with("HTTP/1.1 200 OK\r\n"); }

    StationMetrics metrics_{"bench", "1.02"};
    std::unique_ptr<MetricsServer> server_;
    std::uint16_t port_ = 0;
};

TEST_F(MetricsServerTest, ServesTheFiguresAtMetricsAndNothingElse) {
    struct sigaction before {};
    ::sigaction(SIGPIPE, nullptr, &before);
    start({});
    // The HTTP library would ignore SIGPIPE for the whole program.
    struct sigaction after {};
    ::sigaction(SIGPIPE, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    metrics_.unitStarted("1-1");
    const struct {
        std::string request;
        const char* statusLine;
        const char* header;  // present in the answer
        const char* body;    // the body's start or end ("" for no body)
    } cases[] = {
        {getRequest("/metrics"), "HTTP/1.1 200 OK", "Content-Type: text/plain; version=0.0.4; charset=utf-8",
         "# HELP velmora_station_units_finished_total"},
        {getRequest("/metrics?x=1", kOpenMetricsAccept), "HTTP/1.1 200 OK",
         "Content-Type: application/openmetrics-text; version=1.0.0; charset=utf-8", "# EOF\n"},
        {"HEAD /metrics HTTP/1.1\r\nConnection: close\r\n\r\n", "HTTP/1.1 200 OK", "Content-Type: text/plain",
         ""},
        {"POST /metrics HTTP/1.1\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello", "HTTP/1.1 405",
         "Allow: GET, HEAD", ""},
        {"DELETE /metrics HTTP/1.0\r\n\r\n", "HTTP/1.1 405", "Allow: GET, HEAD", ""},
        // Many overlapping ranges would make the answer the body many times over.
        {getRequest("/metrics", "Range: bytes=0-,0-,0-,0-\r\n"), "HTTP/1.1 200 OK",
         "Content-Type: text/plain", "# HELP velmora_station_units_finished_total"},
        {getRequest("/"), "HTTP/1.1 404", "Connection: close", "Not found"},
        {getRequest("/metrics/x"), "HTTP/1.1 404", "Connection: close", "Not found"},
        {"NONSENSE\r\n\r\n", "HTTP/1.1 400", "Connection: close", ""},
    };
    for (const auto& one : cases) {
        const std::string answer = askHttp(port_, one.request);
        const std::string body = bodyOf(answer);
        EXPECT_TRUE(answer.starts_with(one.statusLine)) << one.request << answer;
        EXPECT_NE(answer.find(one.header), std::string::npos) << one.request << answer;
        if (*one.body == '\0') {
            EXPECT_EQ(body, "") << one.request;
        } else {
            EXPECT_TRUE(body.starts_with(one.body) || body.ends_with(one.body)) << one.request << answer;
        }
    }
}

TEST_F(MetricsServerTest, BindsOnlyWhatWasAskedAndSaysWhyNot) {
    std::string error;
    const auto six = MetricsServer::start(
        "[::1]:0", [](ExpositionFormat) { return std::string("x 1\n"); }, error);
    ASSERT_NE(six, nullptr) << error;
    EXPECT_EQ(six->addresses(), std::vector<std::string>{"[::1]:" + std::to_string(six->port())});
    EXPECT_EQ(bodyOf(askHttp(six->port(), getRequest("/metrics"), true)), "x 1\n");
    EXPECT_EQ(askHttp(six->port(), getRequest("/metrics"), false), "");  // no IPv4 listener

    const auto local = MetricsServer::start(
        "localhost:0", [](ExpositionFormat) { return std::string("y 1\n"); }, error);
    ASSERT_NE(local, nullptr) << error;
    EXPECT_EQ(bodyOf(askHttp(local->port(), getRequest("/metrics"), false)), "y 1\n");
    EXPECT_EQ(bodyOf(askHttp(local->port(), getRequest("/metrics"), true)), "y 1\n");

    const std::string taken = "127.0.0.1:" + std::to_string(local->port());
    EXPECT_EQ(MetricsServer::start(taken, {}, error), nullptr);
    EXPECT_EQ(error, "cannot listen on " + taken + ": Address already in use");
    EXPECT_EQ(MetricsServer::start("localhost", {}, error), nullptr);
    EXPECT_NE(error.find("'localhost' is not an address to listen on"), std::string::npos) << error;
}

// The one worker is held by a client that never finishes its request, whether
// it stops sending or sends a byte now and then; a scrape waiting behind it is
// answered once that client is cut off.
TEST_F(MetricsServerTest, ARequestThatNeverEndsIsCutOff) {
    start(quickLimits());
    for (const bool trickles : {false, true}) {
        const int hostile = testing::connectLoopback(port_);
        ASSERT_TRUE(testing::sendAll(hostile, "GET /metrics HTTP/1.1\r\nHost: slow\r\n"));
        std::thread trickle;
        if (trickles) {
            // Far longer than the request may take, in steps far shorter.
            trickle = std::thread([hostile] {
                for (int step = 0; step < 60 && testing::sendAll(hostile, "X"); ++step)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
            });
        }
        EXPECT_TRUE(scrapeWorks()) << trickles;
        const std::string answer = testing::readToEnd(hostile);
        EXPECT_TRUE(answer.empty() || answer.starts_with("HTTP/1.1 400 Bad Request\r\n")) << answer;
        if (trickle.joinable()) trickle.join();
        ::close(hostile);
    }
}

// Stopping the server cuts off a connection in progress rather than waiting
// out its time (an hour here).
TEST_F(MetricsServerTest, StoppingCutsOffConnectionsInProgress) {
    ServerLimits limits = quickLimits();
    limits.requestTime = std::chrono::hours(1);
    start(limits);
    const int hostile = testing::connectLoopback(port_);
    ASSERT_TRUE(testing::sendAll(hostile, "GET /metrics HTTP/1.1\r\n"));
    server_.reset();
    EXPECT_EQ(testing::readToEnd(hostile), "");
    ::close(hostile);
}

// Tens of megabytes in one request: the server stops reading at its budget and
// closes the connection, so the client's sending fails long before the end.
TEST_F(MetricsServerTest, AHugeRequestIsCutOffAtItsBudget) {
    start(quickLimits());
    const std::string chunk(64 * 1024, 'a');
    const struct {
        const char* name;
        std::string start;
        std::string repeated;
    } cases[] = {
        {"request line", "GET /", chunk},
        {"headers", "GET /metrics HTTP/1.1\r\n", "X-Filler: " + chunk.substr(0, 1000) + "\r\n"},
        {"body", "GET /metrics HTTP/1.1\r\nContent-Length: 999999999999\r\n\r\n", chunk},
    };
    for (const auto& one : cases) {
        const int hostile = testing::connectLoopback(port_);
        bool sending = testing::sendAll(hostile, one.start);
        std::size_t sent = 0;
        while (sending && sent < (256u << 20)) {
            sending = testing::sendAll(hostile, one.repeated);
            sent += one.repeated.size();
        }
        const int error = errno;
        EXPECT_FALSE(sending) << one.name;
        EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << one.name << ": " << std::strerror(error);
        ::close(hostile);
        EXPECT_TRUE(scrapeWorks()) << one.name;
    }
}

TEST_F(MetricsServerTest, AClientThatNeverReadsIsLetGo) {
    // An answer larger than the sockets' buffers, so its sending has to wait on the client.
    const std::string large(64u << 20, '#');
    start(quickLimits(), [&large](ExpositionFormat format) {
        return format == ExpositionFormat::OpenMetrics ? large : std::string("small 1\n");
    });
    const int hostile = testing::connectLoopback(port_);
    ASSERT_TRUE(testing::sendAll(hostile, getRequest("/metrics", kOpenMetricsAccept)));
    EXPECT_EQ(bodyOf(askHttp(port_, getRequest("/metrics"))), "small 1\n");
    ::close(hostile);
}

// Far more connections than the server takes: the ones past its limits are
// answered 503 at once, no thread is added, and scrapes work once they are gone.
TEST_F(MetricsServerTest, ManyConnectionsAtOnceCostABoundedAmount) {
    start(quickLimits());
    const std::size_t threads = threadCount();
    std::vector<int> crowd;
    for (int index = 0; index < 200; ++index) crowd.push_back(testing::connectLoopback(port_));
    int busy = 0;
    for (const int connection : crowd) {
        busy += testing::readToEnd(connection).starts_with("HTTP/1.1 503 Service Unavailable\r\n");
        ::close(connection);
    }
    EXPECT_GE(busy, 150);
    EXPECT_EQ(threadCount(), threads);
    EXPECT_TRUE(scrapeWorks());
}

}  // namespace
}  // namespace velmora::metrics
