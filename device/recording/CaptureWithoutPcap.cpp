// Built without libpcap: captures cannot be read.
#include "device/recording/UsbmonImport.h"

namespace velmora::recording {

bool canReadCaptures() {
    return false;
}

bool readCapture(const std::string&, int&, std::vector<CapturedPacket>&, std::string& error) {
    error = "this program was built without libpcap, which reads captures";
    return false;
}

}  // namespace velmora::recording
