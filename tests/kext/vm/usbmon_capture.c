/*
 * Captures a usbmon interface into a pcap file through libpcap, as a packet
 * capture tool does, until it is sent SIGTERM or SIGINT. Prints "capturing"
 * once the capture is running, so the caller knows that nothing it sends the
 * hub from then on is missed, and at the end the number of packets written.
 * Usage: usbmon_capture <interface, e.g. usbmon0> <file>
 */
#include <pcap/pcap.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

enum {
    kSnapshotBytes = 65535,    /* more than any control transfer carries */
    kReadTimeoutMs = 100,      /* how soon a stop request is noticed */
    kBufferBytes = 4 << 20,    /* a whole update without a dropped packet */
};

static pcap_t *capture;

static void stop(int signal_number) {
    (void)signal_number;
    pcap_breakloop(capture);
}

int main(int argc, char **argv) {
    char error[PCAP_ERRBUF_SIZE] = "";
    if (argc != 3) {
        fprintf(stderr, "usage: usbmon_capture <interface> <file>\n");
        return 2;
    }
    capture = pcap_create(argv[1], error);
    if (capture == NULL) {
        fprintf(stderr, "usbmon_capture: %s: %s\n", argv[1], error);
        return 1;
    }
    pcap_set_snaplen(capture, kSnapshotBytes);
    pcap_set_timeout(capture, kReadTimeoutMs);
    pcap_set_buffer_size(capture, kBufferBytes);
    if (pcap_activate(capture) < 0) {
        fprintf(stderr, "usbmon_capture: %s: %s\n", argv[1], pcap_geterr(capture));
        return 1;
    }
    pcap_dumper_t *file = pcap_dump_open(capture, argv[2]);
    if (file == NULL) {
        fprintf(stderr, "usbmon_capture: %s: %s\n", argv[2], pcap_geterr(capture));
        return 1;
    }
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = stop;
    sigaction(SIGTERM, &action, NULL);
    sigaction(SIGINT, &action, NULL);
    printf("capturing\n");
    fflush(stdout);

    int status = 0;
    while (status >= 0) status = pcap_dispatch(capture, -1, pcap_dump, (unsigned char *)file);
    if (status == PCAP_ERROR) fprintf(stderr, "usbmon_capture: %s\n", pcap_geterr(capture));
    struct pcap_stat counts;
    if (pcap_stats(capture, &counts) == 0)
        printf("captured, %u packets dropped\n", counts.ps_drop);
    pcap_dump_close(file);
    pcap_close(capture);
    return status == PCAP_ERROR ? 1 : 0;
}
