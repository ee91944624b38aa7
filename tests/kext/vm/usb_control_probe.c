/*
 * Sends two standard requests on endpoint 0 through usbfs, as the update
 * program does with its vendor requests: GET_DESCRIPTOR (device) and
 * GET_STATUS. Succeeds when the device answers both and the descriptor names
 * the expected vendor and product.
 * Usage: usb_control_probe <usbfs node> <vid hex> <pid hex>
 */
#include <errno.h>
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

enum {
    kDirectionIn = 0x80,
    kRequestGetStatus = 0x00,
    kRequestGetDescriptor = 0x06,
    kDescriptorTypeDevice = 0x01,
    kDeviceDescriptorBytes = 18,
    kStatusBytes = 2,
    kTimeoutMilliseconds = 2000,
};

static int control_in(int node, unsigned char request, unsigned short value, void *data,
                      unsigned short length) {
    struct usbdevfs_ctrltransfer transfer = {
        .bRequestType = kDirectionIn,
        .bRequest = request,
        .wValue = value,
        .wIndex = 0,
        .wLength = length,
        .timeout = kTimeoutMilliseconds,
        .data = data,
    };
    return ioctl(node, USBDEVFS_CONTROL, &transfer);
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s <usbfs node> <vid hex> <pid hex>\n", argv[0]);
        return 2;
    }
    const unsigned long vendor = strtoul(argv[2], NULL, 16);
    const unsigned long product = strtoul(argv[3], NULL, 16);
    const int node = open(argv[1], O_RDWR);
    if (node < 0) {
        fprintf(stderr, "open %s: %s\n", argv[1], strerror(errno));
        return 1;
    }
    unsigned char descriptor[kDeviceDescriptorBytes] = {0};
    int got = control_in(node, kRequestGetDescriptor, kDescriptorTypeDevice << 8, descriptor,
                         sizeof descriptor);
    if (got != kDeviceDescriptorBytes) {
        fprintf(stderr, "GET_DESCRIPTOR: %d (%s)\n", got, strerror(errno));
        close(node);
        return 1;
    }
    const unsigned long seenVendor = descriptor[8] | (descriptor[9] << 8);
    const unsigned long seenProduct = descriptor[10] | (descriptor[11] << 8);
    unsigned char status[kStatusBytes] = {0};
    got = control_in(node, kRequestGetStatus, 0, status, sizeof status);
    close(node);
    if (got != kStatusBytes) {
        fprintf(stderr, "GET_STATUS: %d (%s)\n", got, strerror(errno));
        return 1;
    }
    if (seenVendor != vendor || seenProduct != product) {
        fprintf(stderr, "descriptor names %04lx:%04lx\n", seenVendor, seenProduct);
        return 1;
    }
    printf("endpoint 0 answers: %04lx:%04lx status %02x%02x\n", seenVendor, seenProduct, status[1],
           status[0]);
    return 0;
}
