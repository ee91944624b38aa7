#pragma once
// The window's fixed texts and sizes: the boxes' titles, the buttons', the
// labels' and the help text, exactly as the hub's users know them (their
// misspellings included).
#include <array>

namespace velmora::window::texts {

// A single "&" would be read as a keyboard-mnemonic marker in a box title.
inline constexpr const char* kHelpBox = "Help Box";
inline constexpr const char* kScalarBox = "Scalar Update";
inline constexpr const char* kUpdateBox = "Update Firmware Box";
inline constexpr const char* kEasyUpdateBox = "Easy Updae Firmware Form *.bin file";
inline constexpr const char* kFlashBox = "FirmWare From Flash && Detail Config ->";
inline constexpr const char* kDetailBox = "FirmWare From Flash && Detail Config ->";

inline constexpr const char* kLoadDriver = "LoadUpdateDriver";
inline constexpr const char* kUnloadDriver = "UnloadUpdateDriver";
inline constexpr const char* kHelpText =
    "Step1: Click \"LoadUpdateDriver\" to Load Driver\nStep2: repluginhub device,let new Driver work.\n"
    "Step3: Click \"Update\" to update fw\nStep4: Click \"UnloadUpdateDriver\" to recover";
inline constexpr const char* kGetLog = "Get Log";
inline constexpr const char* kSelectScalar = "..";
inline constexpr const char* kScalarUpdate = "ScalarUpdate";
inline constexpr const char* kDetectHubInfo = "Detect Hub Info";
inline constexpr const char* kUpdateFwInfo = "Update FW Info";
inline constexpr const char* kSelectEasyUpdate = "...";
inline constexpr const char* kUpdate = "Update";
inline constexpr const char* kReadFromFlash = "Read From Flash";
inline constexpr const char* kLoadFromBin = "Load From *.bin";
inline constexpr const char* kEraseFlash = "Erase Flash";
inline constexpr const char* kSaveToBin = "Save to *.bin";
inline constexpr const char* kPageName = "PageName";
inline constexpr const char* kICType = "ICType";
inline constexpr const char* kDescription = "Description";
inline constexpr const char* kBinaryData = "Binary Data";

inline constexpr std::array<const char*, 6> kPages = {"SSC",     "DSP OCP/U1/U2", "System",
                                                      "USP PHY", "DSP Setting",   "DSP PHY"};

// The save panel of the flash page.
inline constexpr const char* kSaveAsLabel = "save as";
inline constexpr const char* kSaveMessage = "Choose the path to save the *.Bin file";
inline constexpr const char* kBinFilter = "BIN (*.BIN *.bin)";
inline constexpr const char* kBinSuffix = "bin";

// Asked when the window is closed while an update writes a hub's flash: the
// window never closes in the middle of it.
inline constexpr const char* kCloseDuringFlash = "An update is writing the hub's flash.";
inline constexpr const char* kCloseDuringFlashDetail =
    "The window stays open until it is done: stopped now, the hub would be left in its ROM code "
    "with a half-written flash. Close the window as soon as the update is done?";
inline constexpr const char* kCloseWhenDone = "Close When Done";
inline constexpr const char* kKeepOpen = "Keep Open";

// The station view.
inline constexpr const char* kStationMenuItem = "Station...";
inline constexpr const char* kStationTitle = "Station";
inline constexpr const char* kStopTaking = "Stop taking units";
inline constexpr const char* kAbandon = "Abandon";
inline constexpr const char* kAbandonQuestionFormat =
    "Abandon the units in progress on %1? Those not yet writing their flash are left as they are and may "
    "need another update; those writing it finish first, then the window closes.";
inline constexpr const char* kCloseStationQuestionFormat = "Units are in progress on %1.";
inline constexpr const char* kCloseStationDetail =
    "\"Close When Done\" stops taking units and closes the window once they have finished; \"Abandon\" "
    "leaves those not yet writing their flash and closes once the flash writes are done.";
inline constexpr const char* kScanCaption = "Scan unit ID:";
inline constexpr const char* kScanPlaceholder = "scan a label (select a tile first to give it that unit)";
inline constexpr const char* kQueueCaption = "Unit IDs waiting (next first):";
inline constexpr const char* kClearQueue = "Clear queue";
inline constexpr const char* kFinishedCaption = "Finished units (newest first):";
inline constexpr const char* kLogCaption = "Station log:";
inline constexpr std::array<const char*, 6> kFinishedColumns = {"Time",   "Port",   "Unit ID",
                                                                "Serial", "Result", "Failure"};
inline constexpr const char* kTileWaiting = "waiting for a hub";
inline constexpr const char* kTileStarting = "starting";
inline constexpr const char* kTilePassed = "PASS";
inline constexpr const char* kTileFailed = "FAIL";
inline constexpr const char* kTileRemove = "remove the unit";
inline constexpr int kTileProgressHeight = 8;
inline constexpr int kTileHeight = 100;
inline constexpr int kTileColumns = 8;
// The station view opens at this size, and may be resized, maximised or made full screen.
inline constexpr int kStationWidth = 1600;
inline constexpr int kStationHeight = 900;
inline constexpr int kStationMinimumWidth = 900;
inline constexpr int kStationMinimumHeight = 600;

inline constexpr const char* kOk = "OK";
inline constexpr const char* kQuit = "Quit";

// Fonts of the pane and the two views; fontconfig picks the installed substitute.
inline constexpr const char* kViewFont = "Helvetica";
inline constexpr int kPaneFontPoints = 12;
inline constexpr int kDetailFontPoints = 14;

// Window content sizes.
inline constexpr int kScalarWidth = 360;
inline constexpr int kScalarHeight = 670;
inline constexpr int kFullWidth = 1200;
inline constexpr int kFullHeight = 660;

}  // namespace velmora::window::texts
