#!/bin/bash
# Runs in the guest, in the chroot of the host's root, with the run's work
# folder as its argument. Starts udev from Debian's package (unpacked by
# make_guest.sh) so that a USB adapter gets its /dev/serial/by-id name and
# description, says it is ready, then runs the jobs that the host drops into
# work/jobs: each NAME.sh runs in the background, with its output in
# NAME.out; NAME.done holds its exit status and the guest's uptime when it
# started and ended. Ends when the host writes work/stop.
work=$1
jobs=$work/jobs
# shellcheck source=/dev/null
. "$work/guest.env"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config TMPDIR=$work/tmp PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$TMPDIR"

uptime_now() { cut -d' ' -f1 /proc/uptime; }

start_udev() {
    local lib=$QUOBIN_UDEV_ROOT/usr/lib/x86_64-linux-gnu/systemd
    # udevadm refuses to trigger and settle in a chroot unless told.
    export SYSTEMD_IGNORE_CHROOT=1
    mkdir -p /run/udev/rules.d
    cp "$QUOBIN_UDEV_ROOT"/lib/udev/rules.d/60-serial.rules /run/udev/rules.d/ || return 1
    # The package's systemd-udevd is a link to udevadm, which acts as the
    # daemon when called by that name.
    (LD_LIBRARY_PATH=$lib exec -a systemd-udevd "$QUOBIN_UDEV_ROOT"/bin/udevadm --daemon) || return 1
    LD_LIBRARY_PATH=$lib "$QUOBIN_UDEV_ROOT"/bin/udevadm trigger --action=add || return 1
    LD_LIBRARY_PATH=$lib "$QUOBIN_UDEV_ROOT"/bin/udevadm settle --timeout=60
}

udev_state=started
start_udev > "$work/udev.log" 2>&1 || udev_state=failed
echo "udev $udev_state at $(uptime_now)" > "$work/ready.tmp" && mv "$work/ready.tmp" "$work/ready"

mkdir -p "$jobs"
until [ -e "$work/stop" ]; do
    for job in "$jobs"/*.sh; do
        [ -e "$job" ] || continue
        name=${job%.sh}
        mv "$job" "$name.running"
        (
            started=$(uptime_now)
            bash "$name.running" > "$name.out" 2>&1
            status=$?
            echo "$status $started $(uptime_now)" > "$name.tmp"
            mv "$name.tmp" "$name.done"
        ) &
    done
    sleep 0.1
done
