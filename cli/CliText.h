#pragma once
// Every text of the command line that is its own (the status-pane lines and the
// alerts come from the workflows): usage, errors and the labels of its listings.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::cli::text {

inline constexpr const char* kProgramName = "velmora-cli";

inline constexpr const char* kUsage = R"(Usage: velmora-cli [OPTIONS] COMMAND [ARGUMENTS]

Updates and inspects the firmware of Zelo Hub controllers, and edits firmware images.

Hub commands (the status lines of the window go to stdout):
  detect [--port PATH]...  show whether a supported hub is attached and its firmware version
                           (with --port, also the serial number it reports; with several
                           attached and none named, a row for each as list shows it)
  list                     one line per attached supported hub: port, VID:PID, code, version,
                           serial number ("-": none)
  update FILE [--allow-new-ids] [--serial TEXT] [--all | --port PATH...]
                           write the image FILE into the hub: erase, program, read back,
                           compare, restart into the new firmware; an image whose VID and
                           product IDs the configuration does not list is refused unless
                           --allow-new-ids is given (the hub comes back under those IDs);
                           --serial writes the image with that serial number into one hub,
                           which must report it afterwards
  scalar [--allow-new-ids] [--port PATH]
                           the production-line update with the image named by FwBin in the
                           configuration (relative to the configuration's folder); takes one
                           hub: the one attached, or the one on PATH
  read OUT.bin [--port PATH]
                           read the whole flash (32768 bytes) into the file OUT.bin; with
                           "-", to stdout (the status lines then go to stderr); takes one hub:
                           the one attached, or the one on PATH
  erase [--all | --port PATH...]
                           erase the hub's flash

  Several hubs at once: --all takes every supported hub attached, --port PATH (repeatable,
  PATH as list shows it) the hubs on those ports; each gets a worker of its own, its status
  lines are prefixed with its port, and a summary ends the run (exit 0 only when every hub
  succeeded). A command that acts on one hub, given none with several attached, names their
  ports and ends with exit status 2: the bus's order chooses no hub. A hub's two halves
  (SuperSpeed and High-Speed) are one hub, listed by its SuperSpeed half's port; --port may
  name either.
  driver load [--reboot|--no-reboot]
                           install the update driver for the configuration's hubs (asks for an
                           administrator); where a restart is needed, asks on a terminal, else
                           takes the flag's answer (default: no restart)
  driver unload            restart the hub into its firmware, then remove the update driver
  doctor                   per attached hub, each check an update needs, OK or the fix (1: not ready);
                           and whether an update can hold the machine's sleep and shutdown off

Production line:
  station FILE [--count N] [--expect-version HEX] [--allow-new-ids]
          [--serial-prefix TEXT --serial-digits N [--serial-start N] [--serial-block N]]
          [--metrics ADDRESS:PORT] [--metrics-file PATH.prom]
                           a production station: waits for supported hubs and updates each
                           one as it is plugged in (in parallel with those in progress),
                           never twice while it stays plugged in; one line per finished
                           unit and the tally (passed, failed, in progress); --count ends
                           after N finished units (exit 0 when all passed), --expect-version
                           fails a unit that runs another version afterwards; the first
                           Ctrl-C stops taking new units and lets the runs finish, the
                           second abandons them (the hubs named may be left in ROM code);
                           with --serial-digits each unit gets its own serial number, prefix
                           + N zero-padded digits, from the history's counter for the prefix
                           (never given twice; a failed unit's number stays void), taken in
                           blocks of --serial-block (default 20) from --serial-start (default
                           1); a station's name (--station-name) is taken by one running
                           station at a time; --metrics serves the station's figures for a
                           line's monitoring at http://ADDRESS:PORT/metrics (Prometheus's
                           text format or OpenMetrics; only that address is bound, such as
                           127.0.0.1:9464, [::1]:9464, localhost:9464, 0.0.0.0:9464; port 0:
                           any free one, the line shown names it), --metrics-file writes them
                           after each unit to a *.prom file for node_exporter's textfile
                           collector

Traceability (every hub command above is recorded, see --history):
  history [--csv] [--since TIME] [--port PATH] [--station NAME] [--serial TEXT] [--unit ID]
                           list the recorded runs, oldest first: start and end, host, port,
                           the IDs seen, firmware version before and after, the image's path,
                           SHA-256 and serial number, the time of each phase, the result and
                           the failure line; --since takes an ISO-8601 time (2026-12-08,
                           2026-12-08T09:00Z, 2026-12-08 09:00+01:00; no zone: local time);
                           --csv for a spreadsheet, --json for programs; an unfinished run
                           is one that was cut off (a crash, a pulled cable, a kill); with a
                           line's server named, its runs of every station (--station: one);
                           --serial finds the runs of the unit with that serial number (the
                           one its image gave it, or the one it reported afterwards); --unit
                           the runs of the unit with that scanned ID
  history report [--since TIME] [--by station|port|day|phase|unit] [--include-simulated]
                           units (the runs that flash one), passed, failed, unfinished, yield
                           and failures by phase, then reads, erases and verifies apart, in
                           total or per station, port, day (UTC), phase or unit ID; with
                           scanned unit IDs, the first-pass yield too (a unit whose first
                           run failed counts as failed, however it ended); runs of simulated
                           or testbed hubs only with --include-simulated; --json too
  history sync             send the runs waiting on this station to the server at once (they
                           also go on their own); exit 1 when the server cannot take them

When an update fails (every run that erases first keeps the hub's flash, see --no-backup):
  verify FILE [--port PATH]
                           read the flash and compare it with the image, writing nothing:
                           exit 0 when equal, else 1 with the first differing address and
                           the count of differing bytes
  backups [--port PATH]    list the kept backups: time, port, IDs, version, serial, SHA-256,
                           result, and (simulated) or (testbed) for a bench's
  restore (--last | SHA-PREFIX | ./FILE) [--port PATH] [--blank] [--yes]
                           write a backup back with the full update (erase, program, read
                           back, compare, reset); --last takes the backup a recover would
                           (from before the first failed or unfinished run on the hub since
                           its last pass); 4 to 64 hex digits are a SHA-256 prefix in the
                           store, never a file (name a file with a slash: ./cceb); only
                           the backups of the hubs' kind count (a simulated hub's never for a
                           real one); the bytes pass the update's image rules: a backup with
                           no configuration block (a flash already erased) only when named
                           and with --blank, one taken on another port or from another unit
                           only with --port; the question names the hub and the backup's
                           time, port, version and serial (--yes answers it); a backup whose
                           content no longer matches its name is refused
  recover [--port PATH] [--yes]
                           for each supported hub left in ROM code, finds the failed or
                           unfinished run of its kind on its port in the history the runs
                           went to (--history, VELMORA_HISTORY, the station's own file when a
                           server is named) that left it so, says what it found and writes
                           that run's backup back, or only resets the hub when no run erased
                           anything or the run's compare had passed; a hub in its flash code
                           whose last run erased and did not finish has its flash read: its
                           image whole (the run is then recorded as finished) or its backup
                           stay, anything else gets the backup (1: nothing to recover)

Image commands (no hub needed):
  image show FILE [--ic DEF.INI] [--page NAME]
                           the identity fields and the configuration block of an image; with
                           --ic, the properties of one page (default: the first) and their values
  image edit FILE -o OUT [FIELD ...] [--ic DEF.INI --set NAME=VALUE ...]
                           change the identity or the chip configuration of an image and save
                           it as OUT ("-": stdout, every other line to stderr); a FIELD is
                           --vid HEX, --sspid HEX or --hspid HEX (exactly four hex digits),
                           --manufacturer TEXT, --product TEXT or --serial TEXT (the three
                           strings hold 29 bytes together) or --container-id TEXT (32 hex
                           digits, braces and dashes optional); --set takes a property
                           name and one of its options and stores the option's position in
                           the list (stderr says which, and warns when its value differs)
  image keygen -o NAME [--no-password]
                           make a signing key pair in minisign's formats: NAME.pub, the public
                           key stations trust, and NAME.key (0600), the secret key, protected
                           by a password asked twice on the terminal (read from stdin when it
                           is no terminal); --no-password leaves it open, for a test bench; an
                           existing NAME.pub or NAME.key is never replaced
  image sign FILE --key NAME.key [--comment TEXT]
                           sign the image FILE (asks the key's password) into FILE.minisig,
                           which minisign -V verifies too; its trusted comment holds the time,
                           the file's name, the image's firmware version and TEXT
  image verify FILE        who signed FILE (FILE.minisig: key ID and trusted comment) and whether
                           that key is trusted: exit 0 when a trusted key's signature holds, 1
                           when FILE is unsigned or its signature is refused (the line says why:
                           a changed image or comment, a signature of another file, an unknown
                           or revoked key); minisign's signatures verify alike, prehashed or
                           legacy. Trusted keys are the *.pub files in /etc/velmora/trusted-keys
                           (more with --trusted-keys); a key ID listed in
                           /etc/velmora/revoked-keys is never trusted. Both count only when they
                           and their folder belong to root and no other user may write them

Recordings (see --record and --replay):
  recording import CAPTURE OUT
                           turn a usbmon capture (pcap or pcapng, as Wireshark or tcpdump
                           write it) into the recording OUT, which --replay serves

Options:
  --config FILE            configuration to use (default: /etc/velmora/config.ini when installed,
                           else the resource folder's); a named file that cannot be read or
                           names no hub is an error
  --simulate[=SCENARIO]    drive a simulated hub with the configuration's first supported IDs
                           instead of real hardware; SCENARIO is one of:
%s  --history FILE|URI       the history database to record into and list (default:
                           $XDG_STATE_HOME/velmora/history.sqlite, else
                           ~/.local/state/velmora/history.sqlite); its folder must be
                           writable by its owner alone; when it cannot be used, the hub
                           command still runs and says so once. A postgresql:// URI names a
                           line's server: every run goes to the default file first and on
                           to the server beside the runs (when it is away, the runs wait and
                           go when it answers). Without --history: VELMORA_HISTORY, then
                           config.ini's [History] Server (neither for simulated hubs).
                           Passwords belong in ~/.pgpass or PGPASSFILE, not the URI
  --station-name NAME      the station's name in the history (default: the host name)
  --record FILE            write every exchange with the hubs (listings, opens, each control
                           request with its bytes, status and duration) to FILE as the run
                           goes, with the command line, the supported IDs and the SHA-256 of
                           each image named; a file to attach to a problem report
  --replay FILE            serve the hubs from a recording instead of the bus, at once; each
                           request must be the one recorded, else the run stops (exit 1)
                           with one line naming the exchange
  --replay-real-time       replay each exchange in the time it took when recorded
  --trusted-keys DIR       also trust the *.pub keys in DIR for this command (a test bench;
                           repeatable); refused when config.ini or /etc/velmora/config.ini sets
                           [Images] RequireSigned
  --require-signed         refuse an image without a signature (FILE.minisig), as config.ini's
                           [Images] RequireSigned = 1 does. Every command that writes an image
                           into a hub (update, scalar, station) judges its signature first:
                           one that does not verify, or comes from a revoked or unknown key,
                           refuses the image (exit 2) before any hub is touched
  --no-backup              erase without first keeping the hub's flash (by default every run
                           that erases reads the flash twice and keeps it under
                           $XDG_STATE_HOME/velmora/backups, else ~/.local/state/velmora/backups)
  --keep-backups N         keep the backups of the last N runs of the hubs' kind (real,
                           simulated; default 1000); the backup of a unit whose run failed or
                           was cut off is kept until that unit (its serial, else its port)
                           passes
  --trace                  print each control request to stderr:
                           ctrl <eight setup bytes in hex> -> <status>
  --json                   machine-readable output for detect, list, update, erase, doctor, history
                           and image show
  --verbose                print diagnostic lines to stderr
  -h, --help               show this help

Output files are replaced whole; a symbolic link, FIFO or device at the path is refused,
and a new file never takes setuid bits or another user's permissions.

%s

Example:
  velmora-cli --simulate update resources/images/sample-update.bin
)";

inline constexpr std::size_t kScenarioIndent = 23;  // the scenario lines bring two blanks of their own
inline constexpr const char* kEmptyScenario = "--simulate= needs a scenario name (see --help)";
inline constexpr const char* kNoCommand = "no command given (see --help)";
inline constexpr const char* kNoPrivateFolder =
    "driver: no private folder for the driver's files (XDG_RUNTIME_DIR or /tmp)";
inline constexpr const char* kRestartQuestion = "Reboot now? [y/N] ";

std::string missingValue(const std::string& option);
std::string badBackupRunsKept(const std::string& value);
std::string unknownCommand(const std::string& command);
std::string unknownOption(const std::string& command, const std::string& option);
std::string unexpectedArgument(const std::string& command, const std::string& argument);
std::string missingArgument(const std::string& command, const std::string& what);
std::string cannotRead(const std::string& path, const std::string& reason);
std::string cannotWrite(const std::string& path, const std::string& reason);
// After the core's refusal of an image whose IDs the configuration does not list.
inline constexpr const char* kAllowNewIdsHint = " (--allow-new-ids writes it anyway)";
std::string jsonNotSupported(const std::string& command);
std::string badSince(const std::string& value);
// The line a station with --metrics starts with, naming the address it serves on.
std::string metricsServed(const std::string& address);
// "serial:TEXT", the line detect --port adds for the hub's serial number.
std::string serialLine(const std::string& serial);
std::string givenTwice(const std::string& command, const std::string& option);
std::string serialTakesOneHub();
inline constexpr const char* kCsvWithJson = "history: --csv and --json exclude each other";
inline constexpr const char* kEmptyUnitId = "history: --unit takes a unit's ID, not nothing";
std::string noHistoryYet(const std::string& path);
std::string historyUnusable(const std::string& path, const std::string& reason);
std::string badReportGrouping(const std::string& value);
inline constexpr const char* kNoHistoryServer =
    "history sync: no history server named (--history postgresql://..., VELMORA_HISTORY, or config.ini's"
    " [History] Server)";
std::string syncFailed(const std::string& server, const std::string& reason);
std::string syncDone(const std::string& server, std::size_t sent);
inline constexpr const char* kNoHistoryPath =
    "history: no home folder to find the history in (name one with --history FILE)";
std::string noProperties(const std::string& path);
std::string unknownPage(const std::string& page);
std::string unknownProperty(const std::string& name);
std::string unknownPropertyOption(const std::string& name, const std::string& value);
std::string badSetting(const std::string& setting);
std::string editRefused(const std::string& option, const std::string& reason);
std::string stringsTooLong(const std::string& option);
std::string notFourHexDigits(const std::string& option, const std::string& value);
std::string notContainerId(const std::string& value);
// "--set NAME=VALUE" writes the option's position in the list into the bits.
std::string setPosition(const std::string& name, std::size_t position, const std::string& title);
std::string setPositionDiffers(const std::string& name, const std::string& valueText, std::size_t position);

// Signing keys and signatures (image keygen, sign, verify).
inline constexpr const char* kPasswordPrompt = "Password: ";
inline constexpr const char* kPasswordAgainPrompt = "Password (one more time): ";
inline constexpr const char* kNoPassword = "no password given";
inline constexpr const char* kPasswordsDiffer = "image keygen: the two passwords differ";
inline constexpr const char* kEmptyPassword =
    "image keygen: an empty password protects nothing (--no-password makes a key without one)";
inline constexpr const char* kBadSigningComment =
    "image sign: --comment takes one line of at most 512 bytes without control characters";
// The untrusted comment of a signature: free text that nothing covers.
inline constexpr const char* kSignatureComment = "signature from velmora-cli secret key";
std::string keyFileExists(const std::string& path);
std::string keyUnusable(const std::string& path, const std::string& reason);
std::string signatureOverKey(const std::string& path);
// The key ID and the two files, and where the public key goes on a station.
std::string keyPairWritten(const std::string& keyId, const std::string& publicKey,
                           const std::string& secretKey, const std::string& systemFolder);
std::string signatureWritten(const std::string& path);

// "-o -" and "read -": the image goes to standard output.
inline constexpr const char* kStandardOutputName = "-";
inline constexpr const char* kBinaryToTerminal =
    "refusing to write a binary image to a terminal (redirect standard output or name a file)";
std::string savedToStandardOutput(std::size_t size);
// A hub command that could not open the hub says why, besides the status lines.
std::string openRefused(const std::string& reason);
std::string openFailed(unsigned status);

// Runs on several hubs.
inline constexpr const char* kPortOption = "--port";
inline constexpr const char* kAllOption = "--all";
std::string allWithPorts(const std::string& command);
// A command that takes one hub, run with several attached and none named: which
// one must be said, since the bus's order is no choice of the user's.
std::string takesOneHub(const std::string& command, const std::vector<std::string>& ports, bool allowAll);
// A command that takes one hub, given --port more than once.
std::string takesOnePort(const std::string& command);
// Where a hub stands, on the shared terminal line: "45%", "restarting 1.2 s".
std::string fleetProgress(double percent);
std::string fleetRestarting(double seconds);
// The summary after a run on several hubs: a header, then one row per hub.
std::string summaryHeader(std::size_t portWidth);
std::string summaryRow(std::size_t portWidth, const std::string& port, bool succeeded,
                       const std::string& before, const std::string& after, double seconds);

// The labels of the flash page's fields, as the window shows them.
inline constexpr const char* kVidLabel = "VID";
inline constexpr const char* kSspidLabel = "SSPID";
inline constexpr const char* kHspidLabel = "HSPID";
inline constexpr const char* kVersionLabel = "ver";
inline constexpr const char* kManufacturerLabel = "Manufacturer";
inline constexpr const char* kProductLabel = "Product";
inline constexpr const char* kSerialLabel = "Serial Number";
inline constexpr const char* kContainerIdLabel = "Container ID";
inline constexpr const char* kPageLabel = "PageName";

// Notes on stderr after a run.
std::string savedFile(const std::string& path, std::size_t size);
std::string flashWithoutImage(const std::string& path);

// Text from a file or an argument, safe to print on one line: control characters
// (which a crafted file or path could use to drive the terminal), C1 controls
// included, become '?'.
std::string printable(std::string_view value);

}  // namespace velmora::cli::text
