#include "tests/support/PostgresServer.h"

#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDatabase = "velmora";
constexpr const char* kServerUser = "postgres";  // Debian's server account, and the cluster's superuser

// The newest installed major version's programs: /usr/lib/postgresql/<N>/bin.
std::string findPrograms() {
    std::error_code failure;
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", failure)) {
        if (fs::exists(entry.path() / "bin" / "initdb") && fs::exists(entry.path() / "bin" / "pg_ctl"))
            found.push_back(entry.path() / "bin");
    }
    if (found.empty()) return {};
    std::sort(found.begin(), found.end(), [](const fs::path& left, const fs::path& right) {
        return std::stoi(left.parent_path().filename().string()) <
               std::stoi(right.parent_path().filename().string());
    });
    return found.back().string();
}

}  // namespace

PostgresServer::PostgresServer() {
    programs_ = findPrograms();
    if (programs_.empty()) {
        problem_ =
            "the PostgreSQL server programs are not installed (/usr/lib/postgresql/*/bin);"
            " scripts/dev deps installs them (package postgresql)";
        return;
    }
    if (::geteuid() == 0) {
        // initdb refuses to run as root: the cluster is the server account's.
        const passwd* account = ::getpwnam(kServerUser);
        if (account == nullptr || ::chown(scratch_.path().c_str(), account->pw_uid, account->pw_gid) != 0) {
            problem_ = "running as root, but there is no postgres account to run the server as";
            return;
        }
    }
    const std::string data = scratch_.path("data");
    if (!run("initdb", {"-D", data, "-A", "trust", "-U", kServerUser, "-E", "UTF8", "--no-sync",
                        "--no-instructions"})) {
        problem_ = "initdb failed";
        return;
    }
    if (!start() || !run("createdb", {"-h", scratch_.path().string(), "-U", kServerUser, kDatabase}))
        problem_ = "the server did not start: see " + scratch_.path("log");
}

PostgresServer::~PostgresServer() {
    thaw();
    if (running_) stop();
}

bool PostgresServer::start() {
    const std::string folder = scratch_.path().string();
    // No TCP at all, the socket in the scratch folder; no fsync for a throw-away cluster.
    const std::string settings = "-c listen_addresses='' -c unix_socket_directories='" + folder +
                                 "' -c fsync=off -c full_page_writes=off";
    running_ = run("pg_ctl",
                   {"-D", scratch_.path("data"), "-o", settings, "-w", "-l", scratch_.path("log"), "start"});
    return running_;
}

bool PostgresServer::stop() {
    const bool stopped = run("pg_ctl", {"-D", scratch_.path("data"), "-m", "fast", "-w", "stop"});
    if (stopped) running_ = false;
    return stopped;
}

bool PostgresServer::freeze() {
    // The server's first process is named on the first line of postmaster.pid;
    // the sessions are its children. It is stopped first, so it starts no more.
    std::ifstream pidFile(scratch_.path("data/postmaster.pid"));
    int server = 0;
    if (!(pidFile >> server) || server <= 0 || ::kill(server, SIGSTOP) != 0) return false;
    frozen_.push_back(server);
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
        std::ifstream status(entry.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("PPid:", 0) != 0) continue;
            if (std::stoi(line.substr(5)) == server) {
                const int child = std::stoi(entry.path().filename().string());
                if (::kill(child, SIGSTOP) == 0) frozen_.push_back(child);
            }
            break;
        }
    }
    return true;
}

void PostgresServer::thaw() {
    for (const int process : frozen_) ::kill(process, SIGCONT);
    frozen_.clear();
}

std::string PostgresServer::uri() const {
    return std::string("postgresql:///") + kDatabase + "?host=" + scratch_.path().string() +
           "&user=" + kServerUser;
}

std::string PostgresServer::uriWithPassword(const std::string& password) const {
    return std::string("postgresql://") + kServerUser + ":" + password + "@/" + kDatabase +
           "?host=" + scratch_.path().string();
}

bool PostgresServer::addPasswordRole(const std::string& role, const std::string& password) {
    query("CREATE ROLE \"" + role + "\" LOGIN PASSWORD '" + password + "';");
    const std::string rules = scratch_.path("data/pg_hba.conf");
    std::stringstream kept;
    kept << std::ifstream(rules).rdbuf();
    // The first line that fits a connection decides: this one before the trust of the rest.
    std::ofstream(rules) << "local all " << role << " scram-sha-256\n" << kept.str();
    return query("SELECT pg_reload_conf();").rfind("t", 0) == 0;
}

std::string PostgresServer::roleUri(const std::string& role, const std::string& password) const {
    return "postgresql://" + role + ":" + password + "@/" + kDatabase + "?host=" + scratch_.path().string();
}

std::string PostgresServer::query(const std::string& sql) {
    std::string output;
    run("psql",
        {"-h", scratch_.path().string(), "-U", kServerUser, "-d", kDatabase, "-X", "-q", "-A", "-t", "-c",
         sql},
        &output);
    return output;
}

bool PostgresServer::run(const std::string& program, const std::vector<std::string>& arguments,
                         std::string* output) {
    std::vector<std::string> words;
    if (::geteuid() == 0) words = {"/usr/sbin/runuser", "-u", kServerUser, "--"};
    words.push_back(programs_ + "/" + program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::array<int, 2> pipe{};
    if (::pipe(pipe.data()) != 0) return false;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipe[1], STDOUT_FILENO);
        if (output == nullptr) ::dup2(pipe[1], STDERR_FILENO);
        ::close(pipe[0]);
        ::close(pipe[1]);
        // Out of the socket folder's way when run as the server account.
        if (::chdir("/") != 0) ::_exit(126);
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipe[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (output != nullptr) *output = text;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace velmora::testing
