#include "environment/HubListing.h"

#include <memory>

#include "app/Hex.h"
#include "app/PrintableText.h"
#include "app/TextFormat.h"
#include "device/SerialString.h"
#include "device/VendorCommands.h"
#include "environment/HubEnvironment.h"

namespace velmora {
namespace {

ListedHub describeHub(HubEnvironment& environment, const UsbDeviceInfo& device) {
    ListedHub hub{device, std::nullopt, std::nullopt};
    std::unique_ptr<HubConnection> connection = environment.connectionTo(device.portPath);
    if (connection->openHub()) {
        hub.status = VC_ReadHubStatus(*connection);
        hub.serial = USB_ReadSerialNumber(*connection);
    }
    connection->closeHub();
    return hub;
}

}  // namespace

std::optional<std::string> readHubSerial(HubConnection& connection) {
    std::optional<std::string> serial;
    if (connection.openHub()) serial = USB_ReadSerialNumber(connection);
    connection.closeHub();
    return serial;
}

std::string listedSerialText(const std::optional<std::string>& serial) {
    return serial && !serial->empty() ? printableText(*serial) : "-";
}

std::vector<ListedHub> listSupportedHubs(HubEnvironment& environment) {
    std::vector<ListedHub> hubs;
    for (const UsbDeviceInfo& device : environment.platform().listDevices()) {
        if (environment.config().table.IsSupportedHub(device.vendorId, device.productId))
            hubs.push_back(describeHub(environment, device));
    }
    return hubs;
}

std::string runCodeName(const ListedHub& hub) {
    if (!hub.status) return "unknown";
    return hub.status->flashCode ? "flash" : "rom";
}

std::string listedVersionText(const ListedHub& hub) {
    return hub.status ? hubVersionText(hub.status->firmwareVersion) : kUnreadVersionText;
}

std::string listedHubRow(const ListedHub& hub) {
    // The port's name is the platform's, or a recording's words on a replay.
    return formatText("%s  %s  %s  %s  %s", printableText(hub.device.portPath).c_str(),
                      hexIds(hub.device.vendorId, hub.device.productId).c_str(), runCodeName(hub).c_str(),
                      listedVersionText(hub).c_str(), listedSerialText(hub.serial).c_str());
}

HubInfo detectAttachedHubs(HubEnvironment& environment) {
    if (environment.supportedPorts().size() < 2) return DetectHub(environment.connection());
    // Several: no one of them is "the" hub, so the field names each.
    const std::vector<ListedHub> hubs = listSupportedHubs(environment);
    HubInfo info{formatText(kSeveralHubsFormat, hubs.size()), TextColour::Blue};
    for (const ListedHub& hub : hubs) {
        info.text += '\n';
        info.text += listedHubRow(hub);
    }
    return info;
}

std::string severalHubsAttached(const std::vector<std::string>& ports) {
    std::string named;
    for (const std::string& port : ports) {
        named += named.empty() ? "" : ", ";
        named += port;
    }
    std::string text = formatText("%zu Zelo Hubs are attached (", ports.size());
    text += named;
    text += "). Leave only the hub to work on attached, then try again.";
    return text;
}

}  // namespace velmora
