// Reading capture files through libpcap, which knows pcap and pcapng alike.
#include <pcap/pcap.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/SafeFile.h"
#include "device/recording/UsbmonImport.h"

namespace velmora::recording {

bool canReadCaptures() {
    return true;
}

bool readCapture(const std::string& path, int& linkType, std::vector<CapturedPacket>& packets,
                 std::string& error) {
    // Opened without waiting and read only when it is a regular file: a FIFO or a
    // device named as the capture would hold the import forever.
    const int descriptor = openRegularFile(path, error);
    if (descriptor < 0) return false;
    std::FILE* file = ::fdopen(descriptor, "rb");
    if (file == nullptr) {
        error = std::strerror(errno);
        ::close(descriptor);
        return false;
    }
    char problem[PCAP_ERRBUF_SIZE] = {};
    pcap_t* capture = pcap_fopen_offline(file, problem);  // closes file with the capture
    if (capture == nullptr) {
        std::fclose(file);
        error = problem;
        return false;
    }
    linkType = pcap_datalink(capture);
    pcap_pkthdr* header = nullptr;
    const u_char* bytes = nullptr;
    int result = 0;
    while ((result = pcap_next_ex(capture, &header, &bytes)) == 1) {
        CapturedPacket packet;
        packet.microseconds = static_cast<std::int64_t>(header->ts.tv_sec) * 1000000 + header->ts.tv_usec;
        packet.bytes.assign(bytes, bytes + header->caplen);
        packets.push_back(std::move(packet));
    }
    if (result == PCAP_ERROR) error = pcap_geterr(capture);
    pcap_close(capture);
    return result != PCAP_ERROR;
}

}  // namespace velmora::recording
