#pragma once
// Where a run is recorded: always the station's own SQLite file first, and, for a
// line of stations, a PostgreSQL server the rows are then sent to. The server is
// named by a postgresql:// URI in --history, in VELMORA_HISTORY or in config.ini;
// a file path there names the station's file instead, as before.
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora::history {

inline constexpr const char* kHistoryVariable = "VELMORA_HISTORY";

// "postgresql://" or "postgres://", as libpq takes them, in any letter case.
bool isServerUri(const std::string& text);

// Where a password stands in a URI: after the user name before the "@", and as
// the value of a "password" parameter. Offsets and lengths, possibly none.
std::vector<std::pair<std::size_t, std::size_t>> uriPasswordSpans(const std::string& uri);
// The URI without any password, as every message shows it.
std::string redactUri(const std::string& uri);
// message with every occurrence of the URI's password replaced, for texts that
// come from elsewhere (the client library) and might repeat it.
std::string withoutPassword(std::string message, const std::string& uri);

enum class ServerSource { None, CommandLine, Variable, Config };

struct HistoryTarget {
    std::string localPath;    // the station's own file; empty: no home to keep it in
    bool localNamed = false;  // named by the user: its folder must exist already
    std::string serverUri;    // empty: no server
    ServerSource source = ServerSource::None;
    // A server was named, but this run is a bench's (a simulated or testbed hub) and the
    // name did not come from the command's own --history: it stays local.
    bool serverSkipped = false;
};

// commandLine: --history; variable: VELMORA_HISTORY's value (empty when unset);
// configured: config.ini's key; defaultPath: the station's file when none is
// named (the composition root's choice). The first one given decides; a bench's
// run (simulated, testbed) reaches a server only through commandLine.
HistoryTarget chooseHistory(const std::optional<std::string>& commandLine, const std::string& variable,
                            const std::string& configured, const std::string& defaultPath, bool benchRun);

// Where a URI begins in a word of a command line ("--history=postgresql://..."),
// npos when it holds none.
std::size_t uriStart(const std::string& word);
// The word with its URI's password removed, as a recording's header keeps the
// command line.
std::string withoutUriPasswords(const std::string& word);

// True when the URI holds a password.
bool uriHasPassword(const std::string& uri);

// Overwrites every URI password among a program's arguments in the process's own
// argument memory, which is what /proc shows other users as its command line.
// The program reads its arguments first: its copy keeps the password.
void hideUriPasswords(int argc, char** argv);

// The warning told once when the URI chosen holds a password where other local
// users can read it: on the command line (/proc shows it to every user) or in
// config.ini (readable by all); empty otherwise. The environment is the user's own.
std::string passwordWarning(const HistoryTarget& target);

// VELMORA_HISTORY's value, empty when unset.
std::string historyVariable();

}  // namespace velmora::history
