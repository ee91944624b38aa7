#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/TARGET/*).

Run from the top of the tree: python3 fuzz/make_seeds.py. The targets read their
input through libFuzzer's FuzzedDataProvider, which takes numbers and flags from
the end of the input and texts and the image from its front; Seed below builds
inputs in that shape so each seed means something to its target.
"""
import pathlib
import shutil

TOP = pathlib.Path(__file__).resolve().parent.parent
CORPUS = TOP / "fuzz" / "corpus"
SAMPLE = (TOP / "resources" / "images" / "sample-update.bin").read_bytes()
DEFINITION = (TOP / "resources" / "ic" / "ZeloSim.INI").read_bytes()
CONFIG = (TOP / "resources" / "config.ini").read_bytes()


class Seed:
    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in the order the target takes them from the end

    def number(self, value, lowest, highest):
        span = highest - lowest
        count = 0
        while count < 8 and (span >> (8 * count)) > 0:
            count += 1
        self.back += (value - lowest).to_bytes(count, "big") if count else b""
        return self

    def flag(self, value):
        return self.number(1 if value else 0, 0, 255)

    def text(self, value, longest):
        encoded = value.encode().replace(b"\\", b"\\\\")
        assert len(value.encode()) < longest
        self.front += encoded + b"\\x"
        return self

    def bytes(self, rest=b""):
        return bytes(self.front) + rest + bytes(reversed(self.back))


def image(size, block, signature=b"\x55\xaa", strings=b"", container=b""):
    data = bytearray(size)
    data[block:block + 2] = signature
    data[block + 2:block + 8] = bytes.fromhex("2fe306110610")
    if block >= 7:
        data[block - 7:block - 5] = b"\x01\x02"
    data[block + 43:block + 43 + len(strings)] = strings
    data[block + 78:block + 78 + len(container)] = container
    return bytes(data)


def entries(*texts):
    return b"".join(bytes([len(t) + 2, 3]) + t for t in texts)


SAMPLE_TAIL = SAMPLE[-512:]  # the sample's last two blocks: its configuration block at 256
STRINGS = image(512, 256, strings=entries(b"Velmora Labs", b"Zelo Sim", b"SIM0001"), container=bytes(range(16)))
EMPTY_STRINGS = image(256, 0)  # 55 AA and zeros
BROKEN_STRINGS = image(512, 256, b"\x3c\xc3", strings=b"\x01\x03QR\x07\x99")
LONG_STRINGS = image(768, 512, b"\xaa\x55", strings=entries(b"m" * 33))
NO_BLOCK = bytes(range(256)) * 2


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def image_parse():
    write("fuzz_image_parse", "sample-update.bin", SAMPLE)
    # The whole input is the image.
    for name, data in [("strings", STRINGS), ("empty-strings", EMPTY_STRINGS), ("broken-strings", BROKEN_STRINGS),
                       ("no-block", NO_BLOCK)]:
        write("fuzz_image_parse", name, data)


def reparse_seed(first, second):
    # The split is the first number taken, over the whole input's length.
    count = 1
    while (len(first) + len(second) + count) >> (8 * count) > 0:
        count += 1
    return first + second + len(first).to_bytes(count, "little")


def image_reparse():
    # The image with strings, then one whose area is empty: the strings must not survive.
    write("fuzz_image_reparse", "strings-then-empty", reparse_seed(STRINGS, EMPTY_STRINGS))
    write("fuzz_image_reparse", "sample-then-broken", reparse_seed(SAMPLE_TAIL, BROKEN_STRINGS))
    write("fuzz_image_reparse", "long-then-no-block", reparse_seed(LONG_STRINGS, NO_BLOCK))


def definition_file():
    write("fuzz_definition_file", "ZeloSim.INI", DEFINITION)
    write("fuzz_definition_file", "gaps-and-values.INI", b"""[HubFF_USB_00]
PropName = Heading
[HubFF_USB_03]
PropName = Mode
PageName = SSC
PropAddr = 255
PropMask = 192
BaseOnAddr = 96
BaseOnMask = 1
PropOption_00 = Low
PropOption_02 = High
DataOption_02 = 3
[HubFF_USB_FE]
PropName = Outside
PageName = System
PropAddr = 256
PropMask = 1
""")
    write("fuzz_definition_file", "broken.INI", b"[HubFF_USB_01\nPropName = x\n\xff\x00 = \"unterminated\n")


def config():
    write("fuzz_config", "config.ini", CONFIG)
    write("fuzz_config", "bases.ini", b"""[Parvane Config]
AppTitle = "Line 7"
ScalarMode = 1
FwBin = images/sample-update.bin
[Support Vid Pid]
VID_00 = 0x2FE3
SSPID_00 = 01541
HSPID_00 = 1552
VID_3F = 0xFFFF
SSPID_3F = -1
HSPID_3F = 0x1ffff
""")
    write("fuzz_config", "broken.ini", b"[Parvane Config\nAppTitle = " + b"x" * 1100 + b"\n\x01\n")


FIELDS = {"vid": 0, "sspid": 1, "hspid": 2, "version": 3, "manufacturer": 4, "product": 5, "serial": 6,
          "container-id": 7}


def identity_seed(edits, sample, rest=b""):
    seed = Seed().number(len(edits), 0, 4)
    for field, text in edits:
        seed.number(FIELDS[field], 0, 7).text(text, 40)
    return seed.flag(sample).bytes(rest)


def identity_edit():
    write("fuzz_identity_edit", "sample-serial", identity_seed([("serial", "SN42")], True))
    write("fuzz_identity_edit", "sample-ids", identity_seed([("vid", "1a2b"), ("hspid", "0610")], True))
    write("fuzz_identity_edit", "broken-strings-vid", identity_seed([("vid", "1A2B")], False, BROKEN_STRINGS))
    write("fuzz_identity_edit", "container-id",
          identity_seed([("container-id", "{00112233-4455-6677-8899-aabbccddeeff}"), ("product", "P")], False,
                        STRINGS))


OPTIONS = ["--vid", "--sspid", "--hspid", "--manufacturer", "--product", "--serial", "--container-id", "--set"]


def show_seed(json, page, sample, rest=b""):
    seed = Seed().flag(False).flag(json).flag(page is not None)
    if page is not None:
        seed.number(page, 0, 6)
    return seed.flag(sample).bytes(rest)


def edit_seed(options, definition, sample, rest=b""):
    seed = Seed().flag(True).number(len(options), 0, 4)
    for option, value in options:
        seed.number(OPTIONS.index(option), 0, 8).text(value, 48)
    if not any(option == "--set" for option, _ in options):
        seed.flag(definition)
    return seed.flag(sample).bytes(rest)


def cli_image():
    write("fuzz_cli_image", "show-sample-ssc", show_seed(False, 0, True))
    write("fuzz_cli_image", "show-json-strings", show_seed(True, None, False, STRINGS))
    write("fuzz_cli_image", "edit-sample", edit_seed([("--vid", "1A2B"), ("--serial", "SN42"),
                                                      ("--set", "SSC Enable=On")], True, True))
    write("fuzz_cli_image", "edit-broken-strings", edit_seed([("--hspid", "0610")], False, False, BROKEN_STRINGS))


LIBRARY = TOP / "tests" / "recording" / "library"


def replay():
    # Small recordings of the library as they stand: a hub missing, a busy one, a
    # detection, and updates that stop early; the header's paths are this tree's.
    for name in ["update-no-hub", "update-busy", "detect-flash-code", "update-stall-reset",
                 "update-wrong-code", "update-stall-status"]:
        write("fuzz_replay", name, (LIBRARY / f"{name}.jsonl").read_bytes())


def pcap_packets(path):
    data = path.read_bytes()
    at = 24  # the global header
    while at + 16 <= len(data):
        length = int.from_bytes(data[at + 8:at + 12], "little")
        yield data[at + 16:at + 16 + length]
        at += 16 + length


def usbmon_seed(packets):
    out = bytearray(b"\x00")  # the memory-mapped interface's 64-byte headers
    for packet in packets:
        out += len(packet).to_bytes(2, "little") + packet
    return bytes(out)


def usbmon_import():
    # The real capture of an update in the guest kernel, in slices small enough to
    # fuzz: its start (the hub's first requests and its reset) and its end (the
    # last reset, the kernel's enumeration of the hub, the serial read-back).
    packets = [p for p in pcap_packets(LIBRARY / "guest-update.pcap") if len(p) <= 128]
    write("fuzz_usbmon_import", "guest-update-start", usbmon_seed(packets[:40]))
    write("fuzz_usbmon_import", "guest-update-end", usbmon_seed(packets[-60:]))
    # Completions whose status is the lowest 32-bit value, which cannot be negated.
    damaged = [bytearray(p) for p in packets[:12]]
    for packet in damaged:
        if packet[8:9] == b"C":
            packet[28:32] = (0x80000000).to_bytes(4, "little")
    write("fuzz_usbmon_import", "status-int-min", usbmon_seed(damaged))


# minisign's test vector (minisign -G -W; -S and -S -l with -t over b"Zelo Hub
# image\n"), which the target trusts: its signatures reach the checks.
VECTOR_PUBLIC_KEY = b"""untrusted comment: minisign public key 99CBC3FF71922B23
RWQjK5Jx/8PLmTVBmQPVvgjaeKZdAsNiDGgVpGPQuwU6AQ8Dim/Dmp0i
"""
VECTOR_SECRET_KEY = b"""untrusted comment: minisign encrypted secret key
RWQAAEIyAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAIyuScf/Dy5nvHv3xnkJmjrJOK1ZsIfXIoBjfXfv37JLh2doenz4oyTVBmQPVvgjaeKZdAsNiDGgVpGPQuwU6AQ8Dim/Dmp0iAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=
"""
VECTOR_PREHASHED = b"""untrusted comment: signature from minisign secret key
RUQjK5Jx/8PLmdkaUJWTTXIbVU9DyMVg7sZCALQwLNEcN7bNFrwYjBt8yYIDNRlxG91x5547MUNpnT3lWjVoUZOeUobv/IMsGwM=
trusted comment: release test vector
R7snKWyAqUnSgLHc5awBP9ZLg6myZN4MFNBwqbXExkZoE4ZbfPXCXh7lq5UBAnW+8l0uWiga3Q+RL5+ZyxANCQ==
"""
VECTOR_LEGACY = b"""untrusted comment: signature from minisign secret key
RWQjK5Jx/8PLmcWP5Pick18EYQ76lf5GPZuT0j3invRtiEwd9CCOQGU4i9GgIvkGTqA0uZS/pRgydNurCVkkWcIVpXluVNZvEwk=
trusted comment: release test vector
vDq4a5UGRLsfGoDrCIJJWvUvC4ENh/ajDXq+lo3Yo8rsZLYPiEGH/FTSlN6G7tsAlXtJqv+Ly7CCP4NqZ071Dg==
"""


def signature_files():
    write("fuzz_signature_files", "prehashed.minisig", VECTOR_PREHASHED)
    write("fuzz_signature_files", "legacy.minisig", VECTOR_LEGACY.replace(b"\n", b"\r\n"))
    write("fuzz_signature_files", "vector.pub", VECTOR_PUBLIC_KEY)
    write("fuzz_signature_files", "vector.key", VECTOR_SECRET_KEY)
    write("fuzz_signature_files", "revoked-keys", b"# revoked\n99CBC3FF71922B23  # the vector\n\n0000000000000001\n")


if __name__ == "__main__":
    shutil.rmtree(CORPUS, ignore_errors=True)
    image_parse()
    image_reparse()
    definition_file()
    config()
    identity_edit()
    cli_image()
    replay()
    usbmon_import()
    signature_files()
