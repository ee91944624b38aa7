#pragma once
// Runs velmora-cli as a child process, as a script would, and keeps what it wrote
// and how it ended. The simulated hub runs in virtual time, so resets cost nothing.
#include <sys/types.h>

#include <string>
#include <vector>

namespace velmora::testing {

struct CliRun {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

// environment holds "NAME=value" words set for the child on top of this process's.
CliRun runCli(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {});

// The same with input as the child's standard input (a password typed, say).
CliRun runCliWithInput(const std::vector<std::string>& arguments, const std::string& input);

// Another program (a tool whose files velmora-cli must read and write alike), run
// as runCli runs velmora-cli, with input as its standard input.
CliRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& input = {});

// Starts velmora-cli as runCli does and returns at once, its output dropped: for
// a run the test ends itself. The caller waits for the child.
pid_t startCli(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {});

// The errors a run wrote: each line of stderr.
std::vector<std::string> lines(const std::string& text);

}  // namespace velmora::testing
