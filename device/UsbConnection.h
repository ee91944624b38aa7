#pragma once
// The connection operations by their established names. Each works on the
// connection it is given; the front end owns it.
#include <cstdint>

#include "device/HubConnection.h"

bool USB_IsHubPresent(velmora::HubConnection& connection);
bool USB_OpenHub(velmora::HubConnection& connection);
void USB_CloseHub(velmora::HubConnection& connection);
IOReturn USB_DeviceRequest(std::uint8_t bmRequestType, std::uint8_t bRequest, std::uint16_t wValue,
                           std::uint16_t wIndex, std::uint16_t wLength, void* data,
                           velmora::HubConnection& connection);
