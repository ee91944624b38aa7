// Any bytes as config.ini: the title, the scalar settings and the supported hub table.
#include "app/Config.h"
#include "app/Console.h"
#include "fuzz/FuzzSupport.h"

using velmora::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = velmora::fuzz::writeScratchFile(velmora::kConfigFileName, data, size);
    velmora::SilentConsole console;
    const velmora::AppConfig config = velmora::initFromIni(path, console);
    const velmora::SupportedDeviceTable& table = config.table;
    for (std::size_t index = 0; index < velmora::SupportedDeviceTable::kEntryCount; ++index) {
        const velmora::SupportedDevice& entry = table.entry(index);
        if (!entry.valid) continue;
        check(entry.vid != 0 && entry.sspid != 0 && entry.hspid != 0, "a valid entry with a zero ID");
        check(table.IsSupportedHub(entry.vid, entry.sspid) && table.IsSupportedHub(entry.vid, entry.hspid),
              "a valid entry that is not supported");
    }
    return 0;
}
