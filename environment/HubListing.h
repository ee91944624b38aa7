#pragma once
// The supported hubs attached now, each with the code it runs and its version:
// the command line's list, and the window's hub info field when more than one is
// attached. A command that acts on "the" hub refuses to choose among several by
// the bus's order, with the words of severalHubsAttached.
#include <optional>
#include <string>
#include <vector>

#include "detection/HubDetection.h"
#include "device/HubStatus.h"
#include "device/UsbPlatform.h"

namespace velmora {

class HubEnvironment;

struct ListedHub {
    UsbDeviceInfo device;
    std::optional<HubStatus> status;      // none: the hub did not answer
    std::optional<std::string> serial{};  // the serial-number string it reports; none: it shows none
};

// The serial number the hub on the connection reports, read over a short open of
// its own; none when it shows none or cannot be opened.
std::optional<std::string> readHubSerial(HubConnection& connection);
// The serial as listed: its printable text, "-" when the hub shows none.
std::string listedSerialText(const std::optional<std::string>& serial);

// Every supported hub attached, in the platform's order, its status read on a
// connection of its own.
std::vector<ListedHub> listSupportedHubs(HubEnvironment& environment);

// "flash", "rom", or "unknown" when the hub did not answer.
std::string runCodeName(const ListedHub& hub);
// The version field in either code ("----" when unread): next to the code's name,
// the ROM's version is not taken for a firmware's.
std::string listedVersionText(const ListedHub& hub);
// "PORT  VVVV:PPPP  CODE  VERSION  SERIAL", the list's row for one hub.
std::string listedHubRow(const ListedHub& hub);

// What the window's hub info field shows: the single hub's detection as ever,
// or, with several attached, one row for each.
HubInfo detectAttachedHubs(HubEnvironment& environment);

// The alert of a window command that works on one hub while several are attached.
std::string severalHubsAttached(const std::vector<std::string>& ports);

}  // namespace velmora
