# Sourced by the virtual-machine runs over USB/IP (after vm_host.sh and
# find_vm_host_parts): the guest's root, with the hub's server, velmora-cli as
# installed, the driver scripts, Brennic built for the guest's kernel, udev, and
# /test/settings naming the installed paths and the hub's IDs; and the guest's
# boot. Needs kext_dir, cli, usbip_hub, resource_dir, script_dir, prefix,
# work_dir, kernel_version and config_dir; sets root and image.

# A program and every shared library it needs, at the paths the host has them.
copy_program() {
    local source=$1 target=$root$2 library
    mkdir -p "$(dirname "$target")"
    cp -L "$source" "$target"
    for library in $(ldd "$source" | grep -o '/[^ ]*'); do
        [ -e "$root$library" ] && continue
        mkdir -p "$root$(dirname "$library")"
        cp -L "$library" "$root$library"
    done
}

# build_usbip_guest_root <extra stock module>...: the modules every run needs and
# the ones named.
build_usbip_guest_root() {
    local module
    local udevd=/lib/systemd/systemd-udevd share cache digest hub_ids
    [ -x "$udevd" ] || skip "systemd-udevd is missing (install udev)"

    root=$work_dir/root
    rm -rf "$work_dir"
    mkdir -p "$root"/{bin,modules,test/expected,etc,root,home/tester,lib/systemd,lib/udev/rules.d,etc/udev/rules.d}
    "$here/../build_module.sh" "$kext_dir" "$kernel_build_dir" "$work_dir/module" ||
        fail "Brennic does not build against $kernel_version"

    for module in usb-common usbcore usbip-core vhci-hcd "$@"; do
        copy_module "$module" "$root/modules"
    done

    cp "$busybox" "$root/bin/busybox"
    copy_program /bin/bash /bin/bash
    copy_program "$udevd" /lib/systemd/systemd-udevd
    copy_program "$(command -v udevadm)" /bin/udevadm
    cp /lib/udev/rules.d/50-udev-default.rules "$root/lib/udev/rules.d/"
    copy_program "$cli" "$prefix/bin/velmora-cli"
    copy_program "$usbip_hub" /test/velmora-usbip-hub
    cp "$here/usbip_guest_lib.sh" "$root/test/"

    # The installed resource folder and configuration, as cmake --install lays them out.
    share=$root$prefix/share/velmora
    mkdir -p "$share/Brennic.kext" "$share/images" "$root$config_dir"
    cp "$resource_dir/config.ini" "$root$config_dir/"
    cp "$resource_dir/images/sample-update.bin" "$share/images/"
    cp "$script_dir"/* "$share/"   # every driver script, as the install rule lays them out
    cp "$kext_dir"/Kbuild "$kext_dir"/Makefile "$kext_dir"/*.c "$kext_dir"/*.h "$share/Brennic.kext/"

    # The module built here for the guest's kernel, where load keeps the one it built,
    # stamped as load stamps it: the guest needs no compiler.
    cache=$root/var/lib/velmora/module/$kernel_version
    mkdir -p "$cache"
    cp "$work_dir/module/brennic.ko" "$cache/"
    digest=$(cd "$share/Brennic.kext" && LC_ALL=C sha256sum -- Kbuild Makefile ./*.c ./*.h | sha256sum | cut -d' ' -f1)
    echo "$digest unsigned" >"$cache/sources.sha256"

    printf 'root:x:0:0:root:/root:/bin/sh\ntester:x:1000:1000:tester:/home/tester:/bin/sh\n' >"$root/etc/passwd"
    printf 'root:x:0:\ntester:x:1000:\n' >"$root/etc/group"
    image=$prefix/share/velmora/images/sample-update.bin
    # The hub enumerates with the first valid entry's VID, SSPID and HSPID.
    hub_ids=$("$script_dir/brennic-ids" "$resource_dir/config.ini" | cut -d, -f1,2)
    {
        echo "PREFIX=$prefix"
        echo "CONFIG=$config_dir/config.ini"
        echo "IMAGE=$image"
        echo "HUB_VID=${hub_ids%%:*}"
        echo "HUB_PID=$(echo "$hub_ids" | cut -d, -f1 | cut -d: -f2)"
        echo "HUB_HSPID=${hub_ids##*:}"
    } >"$root/test/settings"
}

# boot_usbip_guest <guest init> <time limit in seconds>: packs the root with the
# init given and boots it; the guest's console goes to guest_log, and elapsed
# holds the seconds it ran. GUEST_MEMORY_MB and GUEST_CPUS size the guest
# (default 768 and 1).
boot_usbip_guest() {
    local started
    cp "$1" "$root/init"
    chmod 0755 "$root/init"
    (cd "$root" && find . | cpio -o -H newc -R 0:0 --quiet) >"$work_dir/initramfs.cpio" ||
        fail "could not pack the initramfs"
    guest_log=$work_dir/guest.log
    started=$(date +%s)
    timeout "$2" qemu-system-x86_64 \
        -accel tcg -m "${GUEST_MEMORY_MB:-768}" -smp "${GUEST_CPUS:-1}" -nodefaults -no-reboot -display none \
        -kernel "$kernel_image" -initrd "$work_dir/initramfs.cpio" \
        -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init" \
        -serial stdio </dev/null 2>&1 | tr -d '\r' >"$guest_log"
    elapsed=$(( $(date +%s) - started ))
}
