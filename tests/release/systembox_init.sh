#!/bin/sh
# The second stage of a throwaway systemd machine (systembox.py starts it): PID 1 of new pid,
# mount, cgroup, uts and ipc namespaces. It builds a root that never writes the machine's (an
# overlay over / whose changes live on a tmpfs), masks what would touch the machine, then
# becomes systemd. Arguments: a scratch folder for the mounts, a folder of the machine (the
# simulated units' links and modem files) and where the box shows it, the box's name.
set -eu

work=$1
share=$2
share_at=$3
name=$4

mount -t tmpfs -o mode=0755 box "$work"
mkdir "$work/upper" "$work/work" "$work/root"
mount -t overlay box -o "lowerdir=/,upperdir=$work/upper,workdir=$work/work" "$work/root"
root=$work/root

# Kernel interfaces: this namespace's processes, the machine's settings read-only, and a
# cgroup tree that holds only the box (the cgroup namespace starts at the launcher's child).
mount -t proc proc "$root/proc"
mount --bind "$root/proc/sys" "$root/proc/sys"
mount -o remount,bind,ro "$root/proc/sys"
mount -t sysfs -o ro sysfs "$root/sys"
mount -t cgroup2 cgroup2 "$root/sys/fs/cgroup"

# A small /dev: the harmless devices, the machine's ptys (the simulated units' ports live
# there), and a console that goes nowhere.
mount -t tmpfs -o mode=0755,nosuid box-dev "$root/dev"
for device in null zero full random urandom tty; do
    touch "$root/dev/$device"
    mount --bind "/dev/$device" "$root/dev/$device"
done
mkdir "$root/dev/pts" "$root/dev/shm"
mount --bind /dev/pts "$root/dev/pts"
ln -s pts/ptmx "$root/dev/ptmx"
touch "$root/dev/console"
mount --bind /dev/null "$root/dev/console"
mount -t tmpfs -o mode=1777,nosuid,nodev box-shm "$root/dev/shm"
mount -t tmpfs -o mode=0755,nosuid,nodev box-run "$root/run"
mount -t tmpfs -o mode=1777,nosuid,nodev box-tmp "$root/tmp"

mkdir -p "$root$share_at"
mount --bind "$share" "$root$share_at"

# What the machine has enabled is not the box's business; what would reach into the
# machine's kernel, clock, devices or consoles is masked.
units=$root/etc/systemd/system
rm -rf "$units"/*.wants
for unit in systemd-udevd.service systemd-udevd-control.socket systemd-udevd-kernel.socket \
    systemd-udev-trigger.service systemd-udev-settle.service getty@.service serial-getty@.service \
    console-getty.service getty.target systemd-timesyncd.service systemd-sysctl.service \
    systemd-binfmt.service proc-sys-fs-binfmt_misc.automount proc-sys-fs-binfmt_misc.mount \
    systemd-modules-load.service modprobe@.service systemd-journald-audit.socket timers.target \
    systemd-pstore.service systemd-remount-fs.service systemd-fsck-root.service \
    sys-kernel-debug.mount sys-kernel-tracing.mount sys-kernel-config.mount \
    sys-fs-fuse-connections.mount dev-hugepages.mount postgresql.service postgresql@.service \
    ser2net.service smartd.service smartmontools.service prometheus.service \
    prometheus-node-exporter.service openipmi.service ipmievd.service; do
    ln -sf /dev/null "$units/$unit"
done
echo "$name" >"$root/etc/hostname"

cd "$root"
mkdir -p .old-root
pivot_root . .old-root
cd /
umount -l /.old-root
rmdir /.old-root
# systemd leaves mount propagation to whoever made its namespace; without shared mounts the
# services' own namespaces never see what systemd mounts for them (their credentials).
mount --make-rshared /

# A container's capabilities: no modules, raw I/O, clock, network set-up or BPF of the machine.
kept=chown,dac_override,dac_read_search,fowner,fsetid,kill,setgid,setuid,setpcap,linux_immutable
kept=$kept,net_bind_service,net_broadcast,net_raw,ipc_owner,sys_chroot,sys_ptrace,sys_admin,sys_boot
kept=$kept,sys_nice,sys_resource,sys_tty_config,mknod,lease,audit_write,audit_control,setfcap
exec setpriv --bounding-set="-all,+$(echo "$kept" | sed 's/,/,+/g')" \
    env -i container="$name" /lib/systemd/systemd --system --unit=multi-user.target \
    --log-target=journal-or-kmsg
