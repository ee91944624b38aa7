/*
 * Prints the container ID a USB device gives in its BOS descriptor, read through
 * usbfs with GET_DESCRIPTOR, as 32 hexadecimal digits, or "none" when its BOS
 * has none. The kernel keeps the BOS but shows it nowhere in sysfs.
 * Usage: usb_container_id <usbfs node>
 */
#include <errno.h>
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

enum {
    kDirectionIn = 0x80,
    kRequestGetDescriptor = 0x06,
    kDescriptorTypeBos = 0x0F,
    kBosHeaderBytes = 5,
    kCapabilityType = 0x10,
    kContainerIdCapability = 0x04,
    kContainerIdBytes = 16,
    kContainerIdCapabilityBytes = 20,
    kMostBosBytes = 512,
    kTimeoutMilliseconds = 2000,
};

static int read_bos(int node, unsigned char *data, unsigned short length) {
    struct usbdevfs_ctrltransfer transfer = {
        .bRequestType = kDirectionIn,
        .bRequest = kRequestGetDescriptor,
        .wValue = kDescriptorTypeBos << 8,
        .wIndex = 0,
        .wLength = length,
        .timeout = kTimeoutMilliseconds,
        .data = data,
    };
    return ioctl(node, USBDEVFS_CONTROL, &transfer);
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <usbfs node>\n", argv[0]);
        return 2;
    }
    const int node = open(argv[1], O_RDWR);
    if (node < 0) {
        fprintf(stderr, "open %s: %s\n", argv[1], strerror(errno));
        return 1;
    }
    unsigned char bos[kMostBosBytes] = {0};
    int got = read_bos(node, bos, kBosHeaderBytes);
    const int total = got == kBosHeaderBytes ? (bos[2] | bos[3] << 8) : 0;
    if (total >= kBosHeaderBytes && total <= kMostBosBytes) got = read_bos(node, bos, (unsigned short)total);
    close(node);
    if (total < kBosHeaderBytes || total > kMostBosBytes || got != total) {
        fprintf(stderr, "GET_DESCRIPTOR (BOS): %d (%s)\n", got, got < 0 ? strerror(errno) : "short");
        return 1;
    }
    for (int at = bos[0]; at + 3 <= total && bos[at] >= 3; at += bos[at]) {
        if (bos[at + 1] != kCapabilityType || bos[at + 2] != kContainerIdCapability ||
            bos[at] < kContainerIdCapabilityBytes || at + kContainerIdCapabilityBytes > total)
            continue;
        for (int index = 0; index < kContainerIdBytes; ++index) printf("%02x", bos[at + 4 + index]);
        printf("\n");
        return 0;
    }
    printf("none\n");
    return 0;
}
