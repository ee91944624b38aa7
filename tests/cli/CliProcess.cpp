#include "tests/cli/CliProcess.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/support/ScratchFolder.h"

namespace velmora::testing {
namespace {

constexpr unsigned kCliGuardSeconds = 120;

// Every run of a test program records its hub runs here, never in the user's own
// history; a test that looks at the history names a file of its own.
const std::string& stateFolder() {
    static const ScratchFolder folder("velmora-cli-state");
    static const std::string path = folder.path().string();
    return path;
}

std::string temporaryFile() {
    char name[] = "/tmp/velmora-cli-test-XXXXXX";
    const int descriptor = ::mkstemp(name);
    if (descriptor >= 0) ::close(descriptor);
    return name;
}

std::string readAndRemove(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ::unlink(path.c_str());
    return text;
}

// What a child is started with: its program and words, its environment on top of
// this process's, and the files its standard streams are.
struct ChildStart {
    std::string program = VELMORA_CLI_PATH;
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    std::string in = "/dev/null";
    std::string out = {};
    std::string err = {};
};

[[noreturn]] void execChild(const ChildStart& start) {
    const int outDescriptor = ::open(start.out.c_str(), O_WRONLY | O_TRUNC);
    const int errDescriptor = ::open(start.err.c_str(), O_WRONLY | O_TRUNC);
    const int inDescriptor = ::open(start.in.c_str(), O_RDONLY);
    ::dup2(outDescriptor, STDOUT_FILENO);
    ::dup2(errDescriptor, STDERR_FILENO);
    ::dup2(inDescriptor, STDIN_FILENO);
    ::setenv("VELMORA_SIMULATED_TIME", "virtual", 1);
    ::setenv("XDG_STATE_HOME", stateFolder().c_str(), 1);
    for (const std::string& variable : start.environment) ::putenv(::strdup(variable.c_str()));
    // A guard only: a run that blocks (on a planted FIFO, say) is killed and fails
    // its test instead of hanging the suite. The alarm survives the exec.
    ::alarm(kCliGuardSeconds);
    std::vector<char*> argv;
    std::string program = start.program;
    argv.push_back(program.data());
    std::vector<std::string> copies = start.arguments;
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
}

CliRun runChild(ChildStart start, const std::string& input) {
    stateFolder();  // made by the parent, so it outlives every child
    start.out = temporaryFile();
    start.err = temporaryFile();
    std::string inputFile;
    if (!input.empty()) {
        inputFile = temporaryFile();
        std::ofstream(inputFile, std::ios::binary) << input;
        start.in = inputFile;
    }
    const pid_t child = ::fork();
    if (child == 0) execChild(start);
    int status = 0;
    ::waitpid(child, &status, 0);
    CliRun run;
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readAndRemove(start.out);
    run.err = readAndRemove(start.err);
    if (!inputFile.empty()) ::unlink(inputFile.c_str());
    return run;
}

}  // namespace

CliRun runCli(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
    return runChild({VELMORA_CLI_PATH, arguments, environment}, {});
}

CliRun runCliWithInput(const std::vector<std::string>& arguments, const std::string& input) {
    return runChild({VELMORA_CLI_PATH, arguments, {}}, input);
}

CliRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& input) {
    return runChild({program, arguments, {}}, input);
}

pid_t startCli(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
    stateFolder();
    const pid_t child = ::fork();
    if (child == 0)
        execChild({VELMORA_CLI_PATH, arguments, environment, "/dev/null", "/dev/null", "/dev/null"});
    return child;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) result.push_back(line);
    return result;
}

}  // namespace velmora::testing
