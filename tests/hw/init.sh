#!/bin/busybox sh
# /init of the bed's initramfs: mounts the host's root read-only over 9p with
# a RAM overlay on top, runs the one command the host put on the kernel
# command line (bed_cmd, base64) in it and powers off. The host reads the exit
# status from $bed_out/status.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

fail() {
    echo "bed: $*"
    poweroff -f
}

while read -r module; do
    insmod "/modules/$module" || fail "insmod $module"
done </modules/order

opts=trans=virtio,version=9p2000.L,msize=262144
mount -t 9p -o "$opts,ro,cache=loose" root /lower || fail "no 9p root"
mount -t tmpfs -o size=1g tmpfs /rw
mkdir -p /rw/upper /rw/work
mount -t overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work overlay /newroot ||
    fail "no overlay"
for dir in proc sys dev; do
    mount --move "/$dir" "/newroot/$dir"
done
# /tmp stays the overlay's: writable in RAM, and a build tree under the
# host's /tmp (mktemp -d) still shows through.
mount -t tmpfs tmpfs /newroot/run
mkdir -p /newroot/dev/pts /newroot/dev/shm /newroot/run/lock
mount -t devpts -o ptmxmode=666 devpts /newroot/dev/pts
mount -t tmpfs tmpfs /newroot/dev/shm
mkdir -p "/newroot$bed_out"
mount -t 9p -o "$opts" out "/newroot$bed_out" || fail "no 9p output folder"

# The control channel to the host's driver; its port shows up a little later.
tries=0
while [ ! -L /newroot/dev/bed-ctl ] && [ $tries -lt 100 ]; do
    for port in /newroot/sys/class/virtio-ports/*; do
        [ "$(cat "$port/name" 2>/dev/null)" = bed.ctl ] &&
            ln -s "/dev/${port##*/}" /newroot/dev/bed-ctl
    done
    tries=$((tries + 1))
    sleep 0.05
done

# The USB adapter's drivers come from the host's module tree.
chroot /newroot /sbin/modprobe -a xhci_pci ftdi_sio || fail "no USB serial drivers"

echo "$bed_cmd" | base64 -d >/newroot/tmp/bed-cmd
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin chroot /newroot /bin/sh /tmp/bed-cmd </dev/null >"/newroot$bed_out/output.log" 2>&1
echo "$?" >"/newroot$bed_out/status"
sync
poweroff -f
