#pragma once
// What a test can tell a running USB/IP server, one command per line: change
// how a hub misbehaves from now on, or save what its flash holds, so that a
// test in a virtual machine can compare it with the image it wrote. A command
// is for the first hub, or for hub N (from 1) when it starts with "N ".
//   faults SCENARIO   the hub takes the faults of the named simulation scenario
//                     (flash-code: none), keeping its flash and run state
//   flash PATH        the flash contents, 32768 bytes, into the file PATH
#include <string>
#include <string_view>
#include <vector>

#include "app/SupportedDeviceTable.h"
#include "device/simulated/SimulatedHub.h"

namespace velmora::usbip {

// "ok <command>" or "error <command>: <why>".
std::string runControlCommand(std::string_view line, const std::vector<sim::SimulatedHub*>& hubs,
                              const SupportedDevice& identity);

}  // namespace velmora::usbip
