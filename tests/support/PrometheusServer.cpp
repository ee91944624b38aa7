#include "tests/support/PrometheusServer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/HttpProbe.h"

extern char** environ;

namespace velmora::testing {
namespace {

constexpr auto kGuard = std::chrono::seconds(30);
constexpr auto kPollInterval = std::chrono::milliseconds(100);

std::vector<char*> argumentVector(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// Starts program with standard input from input and its output to output.
pid_t spawn(const std::string& program, const std::vector<std::string>& arguments, const std::string& input,
            const std::string& output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> argv = argumentVector(program, arguments);
    pid_t child = -1;
    if (::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) child = -1;
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

std::string readFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// HTTP/1.0, so that the Go servers answer without chunks, closing the connection.
std::string plainGet(std::uint16_t port, const std::string& path) {
    const std::string answer = askHttp(port, "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    return answer.starts_with("HTTP/1.0 200 ") || answer.starts_with("HTTP/1.1 200 ") ? bodyOf(answer)
                                                                                      : std::string();
}

std::string percentEncoded(const std::string& text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string encoded;
    for (const unsigned char character : text) {
        if (std::isalnum(character) || character == '-' || character == '_' || character == '.' ||
            character == '~') {
            encoded += static_cast<char>(character);
        } else {
            encoded += '%';
            encoded += kHex[character >> 4];
            encoded += kHex[character & 0xF];
        }
    }
    return encoded;
}

}  // namespace

std::string installedProgram(const std::string& name) {
    const std::string path = "/usr/bin/" + name;
    return ::access(path.c_str(), X_OK) == 0 ? path : std::string();
}

std::string notInstalled(const std::string& name, const std::string& package) {
    return "the program " + name + " is not installed; scripts/dev deps installs it (package " + package +
           ")";
}

std::uint16_t freeLoopbackPort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    std::uint16_t port = 0;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(probe);
    return port;
}

BackgroundProgram::BackgroundProgram(const std::string& program, const std::vector<std::string>& arguments,
                                     const std::string& log)
    : child_(spawn(program, arguments, "/dev/null", log)) {}

BackgroundProgram::~BackgroundProgram() {
    if (child_ <= 0) return;
    ::kill(child_, SIGTERM);
    ::waitpid(child_, nullptr, 0);
}

ToolRun runTool(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& input) {
    const ScratchFolder scratch("velmora-tool");
    const std::string inputFile = scratch.writeText("input", input);
    const std::string outputFile = scratch.path("output");
    ToolRun run;
    const pid_t child = spawn(program, arguments, inputFile, outputFile);
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status))
        run.exitStatus = WEXITSTATUS(status);
    run.output = readFile(outputFile);
    return run;
}

std::string waitForHttp(std::uint16_t port, const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string body = plainGet(port, path);
        if (!body.empty()) return body;
        std::this_thread::sleep_for(kPollInterval);
    }
    return {};
}

PrometheusServer::PrometheusServer(const std::vector<std::string>& targets) {
    const std::string program = installedProgram("prometheus");
    if (program.empty()) {
        problem_ = notInstalled("prometheus", "prometheus");
        return;
    }
    std::string configuration =
        "global:\n  scrape_interval: 200ms\n  scrape_timeout: 200ms\n"
        "scrape_configs:\n  - job_name: velmora\n    static_configs:\n      - targets:\n";
    for (const std::string& target : targets) configuration += "          - '" + target + "'\n";
    port_ = freeLoopbackPort();
    server_.emplace(
        program,
        std::vector<std::string>{"--config.file=" + scratch_.writeText("prometheus.yml", configuration),
                                 "--storage.tsdb.path=" + scratch_.path("data"),
                                 "--web.listen-address=127.0.0.1:" + std::to_string(port_)},
        scratch_.path("log"));
    if (!server_->started() || waitForHttp(port_, "/-/ready").empty())
        problem_ = "prometheus did not start:\n" + readFile(scratch_.path("log"));
}

std::optional<std::string> PrometheusServer::query(const std::string& promql) const {
    const std::string body = plainGet(port_, "/api/v1/query?query=" + percentEncoded(promql));
    // {"status":"success","data":{"resultType":"vector","result":[{"metric":{...},"value":[1733.5,"3"]}]}}
    const std::size_t sample = body.find("\"value\":[");
    const std::size_t start = sample == std::string::npos ? sample : body.find(",\"", sample);
    const std::size_t end = start == std::string::npos ? start : body.find('"', start + 2);
    if (end == std::string::npos) return std::nullopt;
    return body.substr(start + 2, end - start - 2);
}

std::optional<std::string> PrometheusServer::waitForValue(const std::string& promql,
                                                          const std::string& expected) const {
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    std::optional<std::string> value = query(promql);
    while (value != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kPollInterval);
        value = query(promql);
    }
    return value;
}

}  // namespace velmora::testing
