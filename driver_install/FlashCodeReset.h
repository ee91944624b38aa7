#pragma once
// The hub reset around an unload: back into the flash code, so that the hub comes
// up as its ordinary self once its ordinary driver takes it again.
#include "device/HubConnection.h"
#include "driver_install/DriverInstaller.h"

namespace velmora::driver {

class FlashCodeReset final : public HubReset {
public:
    explicit FlashCodeReset(HubConnection& connection) : connection_(connection) {}
    // Open the hub in its ROM code, reset it to its flash code and wait for it;
    // the connection is closed afterwards whatever happened.
    HubResetOutcome resetToFlashCode() override;

private:
    HubResetOutcome reset();

    HubConnection& connection_;
};

}  // namespace velmora::driver
