#pragma once
// Debian's Prometheus programs for the tests that check the station's figures
// the way a line's monitoring reads them: the prometheus server itself (on
// 127.0.0.1, on a free port, its configuration and storage in a scratch folder,
// stopped with the test), node_exporter, and promtool. Where a program is not
// installed, the tests skip, saying which package brings it.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ScratchFolder.h"

namespace velmora::testing {

// The program's path in /usr/bin, or empty when it is not installed.
std::string installedProgram(const std::string& name);
// "the program NAME is not installed; scripts/dev deps installs it (package PACKAGE)".
std::string notInstalled(const std::string& name, const std::string& package);

// A loopback port nothing listens on now.
std::uint16_t freeLoopbackPort();

// A program running in the background, its output in log; stopped (SIGTERM) and
// waited for when destroyed.
class BackgroundProgram {
public:
    BackgroundProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& log);
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;
    bool started() const { return child_ > 0; }

private:
    pid_t child_ = -1;
};

struct ToolRun {
    int exitStatus = -1;
    std::string output;  // standard output and error together
};

// Runs a program to its end with input as its standard input.
ToolRun runTool(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& input);

// Waits (a guard of tens of seconds, only so a failure cannot hang the suite)
// until GET path on 127.0.0.1:port answers 200; its answer, or empty.
std::string waitForHttp(std::uint16_t port, const std::string& path);

class PrometheusServer {
public:
    // Scrapes each target ("127.0.0.1:PORT") five times a second.
    explicit PrometheusServer(const std::vector<std::string>& targets);

    bool usable() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }

    // The value of an instant query's first sample, through the HTTP query API;
    // nothing while it has none.
    std::optional<std::string> query(const std::string& promql) const;
    // Asks until the query's value is expected (within the guard); the last value.
    std::optional<std::string> waitForValue(const std::string& promql, const std::string& expected) const;

private:
    ScratchFolder scratch_{"velmora-prometheus"};
    std::uint16_t port_ = 0;
    std::string problem_;
    std::optional<BackgroundProgram> server_;
};

}  // namespace velmora::testing
