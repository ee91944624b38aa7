#pragma once
// Every text the update workflows show, and the progress values they post. The
// window and the command line print these unchanged, so a production line that
// matches on the pane text sees the same words from either front end.
#include <chrono>

#include "device/HubConnection.h"

namespace velmora::messages {

// Easy update and scalar update.
inline constexpr const char* kImageLineFormat = "FW:%s(size=%d)\n\n";
inline constexpr const char* kWrongFirmwareFile = "Wrong firmware file\n";
inline constexpr const char* kFailToOpenRomDevice =
    "Fail To Open Rom Device\nPlease Load Driver firstly\nThen replugin usb hub device\n";
inline constexpr const char* kEraseFlash = "Erase Flash...\n";
inline constexpr const char* kFailToEraseFlash = "Fail to Erase Flash\n";
// A stop signal came (for this run or another hub's, still writing) before the
// erase: the process ends once the other hubs are done, and this flash is untouched.
inline constexpr const char* kStoppingNotErased = "Not erased: the program is stopping\n";
// The flash could not be read the same twice, or not kept: nothing is erased.
inline constexpr const char* kFailToBackUpFlash = "Fail to back up flash\n";
inline constexpr const char* kWriteFlash = "Write Flash...\n";
inline constexpr const char* kFailToWriteFlash = "Fail to Write Flash\n";
inline constexpr const char* kReadFlash = "Read Flash...\n";
inline constexpr const char* kFailToReadFlash = "Fail to Read Flash\n";
inline constexpr const char* kVerifyFlash = "Verify Flash...\n";
inline constexpr const char* kFailToVerifyFlash = "Fail to verify flash\n";
inline constexpr const char* kResetToFlashCode = "Reset to Flash Code...\n";
inline constexpr const char* kFailToResetToFlashCode = "Fail to Reset to Flash Code\n";
// After the reset the hub reports another serial number than the image gave it
// (only checked for an image that tells the hub to take its serial from the block).
inline constexpr const char* kFailToVerifySerialNumber = "Fail to verify serial number\n";
inline constexpr const char* kSerialMismatchFormat =
    "velmora serial: the hub reports '%s', the image gave '%s'";
// The closing status read of a run that wrote the hub: it must run what the bytes
// written make it run. "the hub came back running its ROM code (0100), not flash
// code version 0203".
inline constexpr const char* kCameBackFormat =
    "Fail to start the firmware written: the hub came back running %s, not %s\n";
// How that line starts, for telling such a run from one whose image is whole.
inline constexpr const char* kCameBackStart = "Fail to start the firmware written:";
inline constexpr const char* kRomCodeWords = "its ROM code";
inline constexpr const char* kFlashCodeWords = "its flash code";
inline constexpr const char* kFlashCodeVersionFormat = "flash code version %04X";
inline constexpr const char* kNoClosingStatus = "Fail to read the hub's status after the reset\n";
// Why the flash could not be kept, after kFailToBackUpFlash: the hub is back in
// its flash code, untouched.
inline constexpr const char* kBackupProblemFormat = "The flash was not kept (%s); nothing was erased\n";
// The last red line of a run that failed once the flash was erased: the window
// has no recovery of its own, the command line has.
inline constexpr const char* kWayBack = "To bring the hub back: velmora-cli recover\n";
inline constexpr const char* kUpdateSuccess = "Update FW Success\n";
inline constexpr const char* kUpdateFail = "Update FW Fail\n";
// Why an image too large for the flash is refused before the hub is touched: the
// command line's error line, and the window's console line beside its red
// "Wrong firmware file" row.
inline constexpr const char* kImageLargerThanFlashFormat =
    "%s is %lld bytes, larger than the hub's %zu-byte flash";
// Why an image file is refused before it is used, each naming the file (the
// command line's error lines).
inline constexpr const char* kCannotReadFormat = "cannot read '%s': %s";
inline constexpr const char* kEmptyImageFormat = "'%s' is empty";
inline constexpr const char* kShortImageFormat =
    "'%s' is too short for a firmware image (%lld bytes, at least %zu)";
inline constexpr const char* kImageFileTooLargeFormat =
    "'%s' is %lld bytes, more than an image file may hold (%lld MiB)";
inline constexpr const char* kNoConfigurationBlockFormat =
    "'%s' holds no configuration block: Firmware format error";
inline constexpr const char* kUnlistedImageIdsFormat =
    "'%s' gives the hub the IDs %04X:%04X and %04X:%04X, which the configuration does not list: the hub "
    "would not be found after the update";
// The window's way on, after kUnlistedImageIdsFormat: it writes no such image.
inline constexpr const char* kAddIdsToConfig = ".\nTo write it, add these IDs to config.ini first.";

// Another run (this program's or another process's) holds the hub: its lock is
// taken from the first open of a workflow to its end. Shown in red in place of the
// step's own failure line; the command line prints it as its error line.
inline constexpr const char* kHubBusy = kHubBusyText;
// Who that is, after kHubBusy: the holder (lockHolderText) and the port it holds.
// The hub may be off the bus then, restarting under that run.
inline constexpr const char* kBusyPortFormat = "%s holds the hub on port %s: let it finish, or end it";

// What a run waits for while the hub restarts, with the seconds so far: shown
// by the command line in place of its progress bar, never in the status pane.
inline constexpr const char* kWaitForRomCodeFormat =
    "waiting for the hub to restart into its ROM code... %.1f s";
inline constexpr const char* kWaitForFlashCodeFormat =
    "waiting for the hub to restart into its firmware... %.1f s";

// Choosing or loading an image whose bytes hold no configuration block.
inline constexpr const char* kFirmwareFormatError = "Firmware format error\n";
// Loading a file that cannot be read while the flash page holds an earlier image:
// the image stays, and the user is told the file did not replace it.
inline constexpr const char* kCannotReadFile = "Cannot read file\n";

// Flash page erase. Its failure texts carry no line end; the closing line starts with one.
inline constexpr const char* kOpenRomDevice = "Open Rom Device...\n";
inline constexpr const char* kEraseFailToOpenRomDevice = "Fail to Open Rom Device";
inline constexpr const char* kEraseFailToEraseFlash = "Fail to Erase flash";
inline constexpr const char* kEraseStoppingNotErased = "Not erased: the program is stopping";
inline constexpr const char* kEraseFailToBackUpFlash = "Fail to back up flash";
inline constexpr const char* kReseting = "Reseting...\n";
inline constexpr const char* kEraseFailToReset = "Fail to Reset Flash & Wait";
inline constexpr const char* kEraseSuccess = "Erase FW Success\n";
inline constexpr const char* kEraseFail = "\nErase FW Fail\n";

// Flash page read. Its open failure differs from the update's in one letter's case.
inline constexpr const char* kReadFailToOpenRomDevice =
    "Fail to Open Rom Device\nPlease Load Driver firstly\nThen replugin usb hub device\n";
inline constexpr const char* kOpenDevice = "Open Device...\n";
inline constexpr const char* kReadingFlash = "Reading Flash...\n";
inline constexpr const char* kReadSuccess = "Read Fw Success\n";
inline constexpr const char* kReadFail = "Read Fw Fail\n";
// Verify without writing (the command line's verify).
inline constexpr const char* kVerifySuccess = "Verify FW Success\n";
inline constexpr const char* kVerifyFail = "Verify FW Fail\n";

// Shown in the VID field when the flash that was read holds no configuration block.
inline constexpr const char* kNoConfigurationBlockVid = "Err";
// The binary view's text when the loaded file holds no configuration block.
inline constexpr const char* kEmptyBinaryView = "Binary Data\n";

// Flash page save.
inline constexpr const char* kFieldLengthsFormat = "Length in textfield : %d-%d-%d-%d-%d-%d-%d\n";
inline constexpr const char* kDataLengthError = "Data Length Error";
inline constexpr const char* kSavedPathFormat = "%s\n";
// A save that could not write its file would otherwise lose the edits without a word.
inline constexpr const char* kSaveFileFail = "Save File Fail";

// The production station: what the operator sees. One line per finished unit,
// the tally whenever it changes, and what each interrupt does.
inline constexpr const char* kStationWaiting =
    "Station: waiting for Zelo Hub devices; plug them in (Ctrl-C stops taking new ones)\n";
inline constexpr const char* kStationUnitPassedFormat = "%s: PASS %s -> %s (%.1f s)\n";
inline constexpr const char* kStationUnitFailedFormat = "%s: FAIL %s (%.1f s)\n";
inline constexpr const char* kStationTallyFormat = "passed %d, failed %d, in progress %d\n";
inline constexpr const char* kStationDrainingFormat =
    "Stopping: no new units; waiting for %s to finish (Ctrl-C again abandons them)\n";
inline constexpr const char* kStationStopped = "Stopping: no unit in progress\n";
// The station's serial numbers: a station of the same name runs, the counter is
// used up, or the block is used up while the history cannot give another.
inline constexpr const char* kStationNameTakenFormat =
    "station '%s' is already running: a station's name names one station at a time";
inline constexpr const char* kSerialsUsedUpFormat =
    "the serial numbers of prefix '%s' are used up: the last, %s, has been given";
inline constexpr const char* kSerialPrefixClashFormat =
    "serial prefix '%s' could give the same serial numbers as prefix '%s', which this history counts "
    "already: choose a prefix that is not the other followed by digits";
inline constexpr const char* kStationSerialsUsedUpFormat =
    "Station: the serial numbers of prefix '%s' are used up (the last is %s); no new units\n";
inline constexpr const char* kStationSerialsUnavailableFormat =
    "Station: this station's block of serial numbers is used up and the history cannot give more (%s); no "
    "new units\n";
inline constexpr const char* kStationAbandonedFormat = "Abandoned %s: these hubs may be left in ROM code\n";
// The station ends with serial numbers' marks the history does not have yet:
// kept in the station's file for the line's server, or (the file unusable) not
// written at all.
inline constexpr const char* kStationSerialsNotClosedFormat = "Station: serial numbers not closed: %s\n";
inline constexpr const char* kSerialMarksKeptFormat =
    "%zu serial numbers' marks wait in this station's history file for the line's server (%s); the "
    "history sender, 'velmora-cli history sync' or this station's next start sends them";
inline constexpr const char* kSerialMarksUnwrittenFormat =
    "%zu serial numbers' marks could not be written (%s); the numbers stay open until this station's "
    "next start voids them";
// A bench's update given a serial the line has given already: said, not refused.
inline constexpr const char* kSerialGivenFormat =
    "update --serial: %s was given by station '%s' (%s, in %s); it is written into this hub all the same";

}  // namespace velmora::messages

namespace velmora::progress {

inline constexpr double kStart = 0.0;
inline constexpr double kAfterErase = 10.0;
inline constexpr double kProgramSpan = 40.0;    // programming moves the slider from 10 to 50
inline constexpr double kReadBackSpan = 40.0;   // reading back from 50 to 90
inline constexpr double kAfterVerify = 10.0;    // the compare adds the last 10
inline constexpr double kAfterOpen = 10.0;      // the flash page read, once the hub is open
inline constexpr double kFlashReadSpan = 80.0;  // its eight chunks from 10 to 90
inline constexpr double kAfterReadReset = 10.0;

}  // namespace velmora::progress

namespace velmora::timing {

// A production station leaves the result on screen this long before it quits.
inline constexpr std::chrono::milliseconds kScalarExitDelay{5000};

}  // namespace velmora::timing
