#!/bin/busybox sh
# The guest's first process. Loads the drivers of the virtual hardware,
# mounts the host's root (read-only) and the run's work folder (read-write)
# over virtio-9p, and hands over to the host's own shell in a chroot of the
# host's root, so that the guest runs the host's programs on the host's
# libraries at the host's paths. The kernel's command line names the work
# folder (quobin.work=) and the script to hand over to (quobin.run=).
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev

say() { echo "quobin-guest: $*" > /dev/ttyS0; }
fail() { say "FAILED: $*"; poweroff -f; }

arg() { sed -n "s/.*quobin\.$1=\([^ ]*\).*/\1/p" /proc/cmdline; }
work=$(arg work)
run=$(arg run)
[ -n "$work" ] && [ -n "$run" ] || fail "quobin.work= and quobin.run= are missing from the kernel command line"

for module in virtio_pci 9pnet_virtio 9p xhci_pci ftdi_sio; do
    modprobe "$module" || fail "cannot load the module $module"
done

options=trans=virtio,version=9p2000.L,msize=512000
mount -t 9p -o "$options,ro" hostroot /host || fail "cannot mount the host's root"
for fs in proc sysfs devtmpfs; do
    case $fs in proc) at=proc ;; sysfs) at=sys ;; devtmpfs) at=dev ;; esac
    mount -t "$fs" "$fs" "/host/$at" || fail "cannot mount /host/$at"
done
# The host's /tmp stays as it is (read-only), since the build may lie under
# it; the jobs keep their own files in the work folder.
mount -t tmpfs run /host/run || fail "cannot mount /host/run"
# cache=mmap lets a program map a file of the work folder shared, as
# SQLite's write-ahead log does with its -shm file.
mount -t 9p -o "$options,cache=mmap" work "/host$work" || fail "cannot mount the work folder $work"

say "up after $(cut -d' ' -f1 /proc/uptime) s"
chroot /host /bin/bash "$run" "$work" > /dev/ttyS0 2>&1
say "the runner ended with status $?"
poweroff -f
