#pragma once
// The hub reset that follows an unload: back into the flash code, so the hub
// comes up as its ordinary self under its ordinary driver.
#include "device/HubConnection.h"
#include "driver_install/DriverInstaller.h"

namespace velmora::driver {

class FlashCodeReset final : public HubReset {
public:
    explicit FlashCodeReset(HubConnection& connection) : connection_(connection) {}
    void resetToFlashCode() override;

private:
    HubConnection& connection_;
};

}  // namespace velmora::driver
