#include "tests/support/LogindStandIn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

extern char** environ;

namespace velmora::testing {
namespace {

constexpr const char* kDaemon = "/usr/bin/dbus-daemon";
constexpr const char* kPython = "/usr/bin/python3";  // Debian's, which has dbusmock; not one on PATH
constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
// How long the daemon and the stand-in may take to come up, and a dropped lock to
// leave the list: far more than they need, only so a broken set-up cannot hang.
constexpr auto kPatience = std::chrono::seconds(20);
constexpr auto kLook = std::chrono::milliseconds(20);

// The block refusal: the template's own Inhibit for every other mode.
constexpr const char* kRefuseBlock =
    "import dbusmock.templates.logind as logind\n"
    "if args[3] == 'block':\n"
    "    raise dbus.exceptions.DBusException('Permission denied', "
    "name='org.freedesktop.DBus.Error.AccessDenied')\n"
    "ret = logind.Inhibit(self, *args)\n";

struct BusClose {
    void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusClose>;

Bus connect(const std::string& address) {
    sd_bus* raw = nullptr;
    if (sd_bus_new(&raw) < 0) return nullptr;
    Bus bus(raw);
    if (sd_bus_set_address(raw, address.c_str()) < 0 || sd_bus_set_bus_client(raw, 1) < 0 ||
        sd_bus_start(raw) < 0)
        return nullptr;
    return bus;
}

void stop(pid_t& process) {
    if (process <= 0) return;
    ::kill(process, SIGTERM);
    ::waitpid(process, nullptr, 0);
    process = -1;
}

}  // namespace

LogindStandIn::LogindStandIn(Logind logind) {
    if (::access(kDaemon, X_OK) != 0 || ::access(kPython, X_OK) != 0) {
        problem_ = "dbus-daemon or python3 is not installed (packages dbus-daemon, python3-dbusmock)";
        return;
    }
    const std::string socket = scratch_.path("bus");
    address_ = "unix:path=" + socket;
    daemon_ = start({kDaemon, "--session", "--nofork", "--nopidfile", "--address=" + address_}, false);
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!connect(address_) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kLook);
    if (!connect(address_)) {
        problem_ = "the private dbus-daemon did not come up";
        return;
    }
    if (logind == Logind::Absent) return;
    logind_ = start({kPython, "-m", "dbusmock", "--template", "logind"}, true);
    std::vector<Inhibitor> listed;
    while (!list(listed) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(kLook);
    if (!list(listed)) problem_ = "the logind stand-in did not come up (is python3-dbusmock installed?)";
}

LogindStandIn::~LogindStandIn() {
    stop(logind_);
    stop(daemon_);
}

pid_t LogindStandIn::start(std::vector<std::string> words, bool onTheBus) {
    std::vector<std::string> environment;
    for (char** word = environ; *word != nullptr; ++word) environment.emplace_back(*word);
    if (onTheBus) environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + address_);
    // Made before the fork: the child only calls what is safe between fork and exec.
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& word : environment) envp.push_back(word.data());
    envp.push_back(nullptr);
    const pid_t child = ::fork();
    if (child != 0) return child;
    const int quiet = ::open("/dev/null", O_WRONLY);
    ::dup2(quiet, STDOUT_FILENO);
    ::dup2(quiet, STDERR_FILENO);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
}

bool LogindStandIn::list(std::vector<Inhibitor>& listed) {
    listed.clear();
    Bus bus = connect(address_);
    sd_bus_message* reply = nullptr;
    if (!bus || sd_bus_call_method(bus.get(), kLogind, kLogindPath, kManager, "ListInhibitors", nullptr,
                                   &reply, "") < 0)
        return false;
    sd_bus_message_enter_container(reply, 'a', "(ssssuu)");
    const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    std::uint32_t user = 0, process = 0;
    while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &user, &process) > 0)
        listed.push_back({what, who, why, mode});
    sd_bus_message_unref(reply);
    return true;
}

std::vector<LogindStandIn::Inhibitor> LogindStandIn::inhibitors(std::size_t count) {
    std::vector<Inhibitor> listed;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (list(listed) && listed.size() != count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kLook);
    return listed;
}

bool LogindStandIn::refuseBlock() {
    Bus bus = connect(address_);
    return bus &&
           sd_bus_call_method(bus.get(), kLogind, kLogindPath, "org.freedesktop.DBus.Mock", "AddMethod",
                              nullptr, nullptr, "sssss", kManager, "Inhibit", "ssss", "h", kRefuseBlock) >= 0;
}

}  // namespace velmora::testing
