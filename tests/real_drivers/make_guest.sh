#!/bin/bash
# make_guest.sh DIR: prepares in DIR what the real-driver tests boot, from
# Debian's own packages: the kernel (vmlinuz), a small initramfs
# (initrd.gz: static busybox, guest_init.sh as /init, and the modules of
# the virtual hardware with what they depend on) and udev unpacked (udev/).
# The packages are downloaded once into DIR/debs and kept there; a run with
# everything in place and unchanged does nothing.
set -euo pipefail
out=${1:?usage: make_guest.sh DIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out/debs"
out=$(cd "$out" && pwd)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The guest's drivers that Debian builds as modules; the 8250 UART driver is
# built into the kernel.
modules=(virtio_pci 9pnet_virtio 9p xhci_pci ftdi_sio)

# download PACKAGE: the package's .deb in DIR/debs, fetched once.
download() {
    local package=$1 found
    found=$(find "$out/debs" -maxdepth 1 -name "${package}_*.deb" | sort | tail -n 1)
    if [ -z "$found" ]; then
        local log
        if ! log=$(cd "$out/debs" && apt-get download "$package" 2>&1); then
            # An old or missing package list: read it once more.
            apt-get update -qq >/dev/null 2>&1 || true
            log=$(cd "$out/debs" && apt-get download "$package" 2>&1) ||
                fail "cannot fetch Debian's package $package with apt-get download: the real-driver tests boot it. apt-get said: $(echo "$log" | grep -v '^W:' | tail -n 3)"
        fi
        found=$(find "$out/debs" -maxdepth 1 -name "${package}_*.deb" | sort | tail -n 1)
    fi
    [ -n "$found" ] || fail "apt-get download $package left no package in $out/debs"
    echo "$found"
}

for tool in dpkg-deb cpio gzip busybox; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/test installs it: busybox-static, cpio)"
done
busybox=$(command -v busybox)
file "$busybox" 2>/dev/null | grep -q 'statically linked' ||
    ldd "$busybox" 2>&1 | grep -q 'not a dynamic executable' ||
    fail "$busybox is not statically linked (Debian's busybox-static is)"

# Debian's current kernel: the meta package names the versioned one.
meta=$(download linux-image-amd64)
image=$(dpkg-deb -f "$meta" Depends | tr ',' '\n' | sed -n 's/^ *\(linux-image-[0-9][^ ]*\).*/\1/p' | head -n 1)
[ -n "$image" ] || fail "$(basename "$meta") names no kernel package"
version=${image#linux-image-}

stamp="$version $(cat "$here/make_guest.sh" "$here/guest_init.sh" "$busybox" | md5sum | cut -d' ' -f1)"
if [ -f "$out/stamp" ] && [ "$(cat "$out/stamp")" = "$stamp" ] &&
    [ -f "$out/vmlinuz" ] && [ -f "$out/initrd.gz" ] && [ -d "$out/udev" ]; then
    echo "The guest for kernel $version is ready in $out"
    exit 0
fi
rm -f "$out/stamp"

kernel_deb=$(download "$image")
udev_deb=$(download udev)
shared_deb=$(download libsystemd-shared)

work=$(mktemp -d "$out/unpack.XXXXXX")
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$kernel_deb" "$work/kernel"
tree=$work/kernel/lib/modules/$version
[ -f "$work/kernel/boot/vmlinuz-$version" ] || fail "$(basename "$kernel_deb") holds no boot/vmlinuz-$version"
# The package leaves modules.dep to its install; busybox makes it here.
busybox depmod -b "$work/kernel" "$version"

root=$work/initramfs
mkdir -p "$root/bin" "$root/proc" "$root/sys" "$root/dev" "$root/host" "$root/lib/modules/$version"
cp "$busybox" "$root/bin/busybox"
cp "$here/guest_init.sh" "$root/init"
chmod 755 "$root/init"
for module in "${modules[@]}"; do
    pattern="(^|/)${module//_/[_-]}\\.ko(\\.xz)?:"
    line=$(grep -E "$pattern" "$tree/modules.dep" | head -n 1) || fail "the kernel $version has no module $module"
    for file in ${line%%:*} ${line#*:}; do
        mkdir -p "$root/lib/modules/$version/$(dirname "$file")"
        cp "$tree/$file" "$root/lib/modules/$version/$file"
    done
done
cp "$tree/modules.builtin" "$tree/modules.order" "$root/lib/modules/$version/"
busybox depmod -b "$root" "$version"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initrd.gz"

rm -rf "$out/udev"
mkdir -p "$work/udev"
dpkg-deb -x "$udev_deb" "$work/udev"
dpkg-deb -x "$shared_deb" "$work/udev"

mv "$work/kernel/boot/vmlinuz-$version" "$out/vmlinuz"
mv "$work/initrd.gz" "$out/initrd.gz"
mv "$work/udev" "$out/udev"
echo "$stamp" > "$out/stamp"
echo "The guest for kernel $version is ready in $out"
