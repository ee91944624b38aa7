#include "device/UsbConnection.h"

bool USB_IsHubPresent(velmora::HubConnection& connection) {
    return connection.isHubPresent();
}

bool USB_OpenHub(velmora::HubConnection& connection) {
    return connection.openHub();
}

void USB_CloseHub(velmora::HubConnection& connection) {
    connection.closeHub();
}

IOReturn USB_DeviceRequest(std::uint8_t bmRequestType, std::uint8_t bRequest, std::uint16_t wValue,
                           std::uint16_t wIndex, std::uint16_t wLength, void* data,
                           velmora::HubConnection& connection) {
    return connection.deviceRequest(bmRequestType, bRequest, wValue, wIndex, wLength, data);
}
