#!/usr/bin/env bash
# A Debian 12 guest under qemu's software emulation, for machines whose kernel
# runs no 32-bit code: there Wine cannot start any Win32 program, in the guest
# it can. The guest sees the repository (and any folder of KORVANE_VM_SHARE,
# separated by colons) at the same absolute paths, so ctest's paths hold.
#
#   vm.sh image          build the guest image (see KORVANE_VM_DIR) if missing or stale
#   vm.sh start          boot the guest in the background (builds the image first)
#   vm.sh exec CMD...    run CMD with bash in the running guest, in the caller's
#                        folder; prints its output, exits with its code
#   vm.sh stop           power the guest off
#   vm.sh status         exits 0 when a guest is up and ready for commands
#   vm.sh run CMD...     start, exec, stop
#
# In the guest, a command finds Wine ready as scripts/env.sh sets it up: a
# 32-bit prefix (made at image build by ensure_prefix), a persistent
# wineserver and an Xvfb display. The guest's own disk is a snapshot: nothing
# a command changes there outlives the boot; the shared folders are the host's.
# KORVANE_VM_DIR moves the image (default /var/cache/korvane/vm: outside the
# build tree, so that a fresh clone on the same machine, as CI's, finds it
# made and takes it as long as its recipe is the same), KORVANE_VM_RUN the
# state of one running guest (default build/vm-run): several guests may share
# one image, each with its own KORVANE_VM_RUN.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/env.sh"
vm_dir=${KORVANE_VM_DIR:-/var/cache/korvane/vm}
run_dir=${KORVANE_VM_RUN:-$BUILD_DIR/vm-run}
ctl=$run_dir/ctl
memory=${KORVANE_VM_MEMORY:-4G}

# What the guest needs beside Wine: the Win32 tests' own tools (ctest, python3,
# the cross objdump the disassembler is compared with, prlimit, X utilities).
guest_packages=(linux-image-amd64 kmod procps util-linux
  wine wine32:i386 fonts-wine xvfb xauth x11-utils xdotool imagemagick
  cmake python3 binutils-mingw-w64-i686)

# PID 1 of the guest: mounts the shares, starts the display and Wine's server,
# then runs the jobs the host drops into the control folder until told to stop.
guest_init='#!/bin/bash
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
# The initrd has moved /proc, /sys and /dev here already.
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sys /sys
mountpoint -q /dev || mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm; mount -t devpts devpts /dev/pts; mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp; mount -t tmpfs tmpfs /run
mount -o remount,rw /
hostname korvane-vm
modprobe -a 9pnet_virtio 9p
ctl=/run/korvane-ctl; mkdir -p $ctl
opts=trans=virtio,version=9p2000.L,msize=524288
mount -t 9p -o $opts ctl $ctl || { echo "korvane-vm: no control folder"; echo o > /proc/sysrq-trigger; }
while read -r tag path; do mkdir -p "$path"; mount -t 9p -o $opts,$(cat $ctl/cache) "$tag" "$path"; done < $ctl/shares
log() { echo "korvane-vm: $*" > /dev/ttyS0; }
. "$(cat $ctl/root)/scripts/env.sh"
export WINEPREFIX=/root/wineprefix DISPLAY=:99
unset BUILD_DIR
ensure_prefix > $ctl/prefix.log 2>&1 || log "prefix set-up failed"
Xvfb :99 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
for _ in $(seq 1 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.2; done
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
log ready; touch $ctl/ready
while :; do
  for job in $ctl/*.job; do
    [ -e "$job" ] || continue
    n=${job%.job}; mv "$job" "$n.running"
    if [ "$(cat "$n.running")" = poweroff ]; then
      wineserver -k 2>/dev/null; sync; log "power off"; echo o > /proc/sysrq-trigger; sleep 60
    fi
    # A job sees the files of the host as they are now (the shares cache them),
    # and the host sees what the job wrote once it ends.
    sync; echo 3 > /proc/sys/vm/drop_caches
    # Jobs run side by side, as commands on the host would.
    ( (cd "$(cat "$n.dir")" 2>/dev/null || cd /; exec bash "$n.running") </dev/null >"$n.out" 2>&1
      rc=$?; sync; echo $rc > "$n.rc.new"; mv "$n.rc.new" "$n.rc" ) &
  done
  sleep 0.2
done'

# Changes to how the disk is made bump this.
image_version=3
stamp() { printf '%s\n' "$image_version" "${guest_packages[*]}" "$guest_init" | sha256sum | cut -c1-16; }

mirror() {
  { cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null || true; } |
    awk '/^URIs:/ && /debian$/ {print $2; exit} /^deb / && $2 ~ /debian$/ {print $2; exit}'
}

build_image() {
  command -v debootstrap >/dev/null && command -v qemu-system-x86_64 >/dev/null || {
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends debootstrap qemu-system-x86 e2fsprogs >/dev/null
  }
  local m rootfs=$vm_dir/rootfs start=$SECONDS
  if [ -f "$vm_dir/disk.img" ] && [ "$(cat "$vm_dir/disk.stamp" 2>/dev/null)" = "$(stamp)" ]; then
    first_boot; return
  fi
  m=$(mirror); [ -n "$m" ] || { echo "vm: no Debian mirror in apt's sources" >&2; return 1; }
  echo "vm: building the guest image in $vm_dir (several minutes)" >&2
  rm -rf --one-file-system "$rootfs" "$vm_dir"/disk.* "$vm_dir/stamp"; mkdir -p "$vm_dir"
  debootstrap --variant=minbase bookworm "$rootfs" "$m" >"$vm_dir/debootstrap.log" 2>&1 ||
    { echo "vm: debootstrap failed (log: $vm_dir/debootstrap.log)" >&2; return 1; }
  # The host's own package entries: the guest gets the same versions.
  rm -f "$rootfs"/etc/apt/sources.list; cp /etc/apt/sources.list.d/*.sources "$rootfs"/etc/apt/sources.list.d/ 2>/dev/null || true
  [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list && cp /etc/apt/sources.list "$rootfs"/etc/apt/
  rm -f "$rootfs"/etc/apt/sources.list.d/korvane-deb-src.*
  printf '#!/bin/sh\nexit 101\n' > "$rootfs/usr/sbin/policy-rc.d"; chmod +x "$rootfs/usr/sbin/policy-rc.d"
  # An initrd with only what finds the root disk: made in seconds, not minutes,
  # and quicker to unpack under emulation.
  mkdir -p "$rootfs/etc/initramfs-tools/conf.d" "$rootfs/usr/share/initramfs-tools/modules.d"
  printf 'MODULES=list\nCOMPRESS=gzip\n' > "$rootfs/etc/initramfs-tools/conf.d/korvane"
  printf '%s\n' virtio_pci virtio_blk ext4 > "$rootfs/usr/share/initramfs-tools/modules.d/korvane"
  mount -t proc proc "$rootfs/proc"; mount --bind /dev "$rootfs/dev"
  local rc=0
  chroot "$rootfs" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive bash -c "
    dpkg --add-architecture i386 && apt-get update -qq &&
    apt-get install -y -qq --no-install-recommends ${guest_packages[*]} && apt-get clean" \
    >"$vm_dir/packages.log" 2>&1 || rc=$?
  umount "$rootfs/proc" "$rootfs/dev"
  [ $rc = 0 ] || { echo "vm: the guest's packages failed (log: $vm_dir/packages.log)" >&2; return 1; }
  rm -f "$rootfs/usr/sbin/policy-rc.d"
  printf '%s\n' "$guest_init" > "$rootfs/usr/local/sbin/korvane-init"; chmod +x "$rootfs/usr/local/sbin/korvane-init"
  echo korvane-vm > "$rootfs/etc/hostname"
  cp "$(ls "$rootfs"/boot/vmlinuz-* | tail -n 1)" "$vm_dir/vmlinuz"
  cp "$(ls "$rootfs"/boot/initrd.img-* | tail -n 1)" "$vm_dir/initrd.img"
  # A sparse disk: its room costs nothing until used. Wine reports the free
  # room of this disk for the whole Z: drive, and a file may grow only as far
  # as that (a test makes a 3 GB listing).
  mkfs.ext4 -q -F -L korvane -d "$rootfs" "$vm_dir/disk.img" 16G
  rm -rf --one-file-system "$rootfs"
  stamp > "$vm_dir/disk.stamp"
  echo "vm: packages and disk in $((SECONDS - start)) s" >&2
  first_boot
}

# The first boot writes to the disk itself, so that the prefix it makes stays.
first_boot() {
  local start=$SECONDS
  boot persistent && wait_ready && stop || return 1
  grep -q . "$ctl/prefix.log" && cat "$ctl/prefix.log" >&2
  stamp > "$vm_dir/stamp"
  echo "vm: first boot (Wine prefix) in $((SECONDS - start)) s" >&2
}

image_ok() { [ -f "$vm_dir/disk.img" ] && [ -f "$vm_dir/stamp" ] && [ "$(cat "$vm_dir/stamp")" = "$(stamp)" ]; }

running() { [ -f "$run_dir/pid" ] && kill -0 "$(cat "$run_dir/pid")" 2>/dev/null; }

boot() { # [persistent]
  running && { echo "vm: a guest is already running (pid $(cat "$run_dir/pid"))" >&2; return 1; }
  rm -rf "$run_dir"; mkdir -p "$ctl"
  local snapshot=on i=0 path; [ "${1:-}" = persistent ] && snapshot=off
  local shares=(-virtfs "local,path=$ctl,mount_tag=ctl,security_model=none,id=ctl")
  : > "$ctl/shares"
  IFS=: read -r -a extra <<<"${KORVANE_VM_SHARE:-}"
  # The build tree may lie outside the repository (BUILD_DIR).
  case "$BUILD_DIR/" in "$root"/*) ;; *) extra+=("$BUILD_DIR") ;; esac
  for path in "$root" "${extra[@]}"; do
    [ -n "$path" ] || continue
    path=$(cd "$path" && pwd)
    shares+=(-virtfs "local,path=$path,mount_tag=s$i,security_model=passthrough,id=s$i")
    printf 's%d %s\n' "$i" "$path" >> "$ctl/shares"; i=$((i + 1))
  done
  echo "$root" > "$ctl/root"
  # Wine maps programs from the shares: with cache=mmap some of those pages
  # read as zeros (seen with the guest's 6.1 kernel).
  echo "${KORVANE_VM_9P_CACHE:-cache=loose}" > "$ctl/cache"
  # With SMAP, this qemu's emulated iret back to 32-bit user code faults in
  # the guest kernel (every Wine thread start oopses).
  qemu-system-x86_64 -accel tcg,thread=multi -cpu "${KORVANE_VM_CPU:-max,smap=off}" -smp "$(nproc)" -m "$memory" \
    -nographic -monitor none -serial "file:$run_dir/serial.log" -no-reboot \
    -kernel "$vm_dir/vmlinuz" -initrd "$vm_dir/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 quiet panic=1 init=/usr/local/sbin/korvane-init" \
    -drive "file=$vm_dir/disk.img,if=virtio,format=raw,snapshot=$snapshot" \
    -nic none "${shares[@]}" </dev/null >"$run_dir/qemu.log" 2>&1 &
  echo $! > "$run_dir/pid"
}

wait_ready() {
  local start=$SECONDS
  while [ ! -f "$ctl/ready" ]; do
    running || { echo "vm: the guest stopped while booting (see $run_dir/serial.log, $run_dir/qemu.log)" >&2; return 1; }
    [ $((SECONDS - start)) -lt "${KORVANE_VM_BOOT_TIMEOUT:-900}" ] || { echo "vm: the guest did not come up" >&2; stop; return 1; }
    sleep 0.5
  done
  echo "vm: guest ready after $((SECONDS - start)) s" >&2
}

start() {
  image_ok || build_image
  boot && wait_ready
}

# Each job is a script file; renamed to .job only when complete, so the guest
# never reads half of it.
job=0
submit() { # DIR SCRIPT
  local n
  n=$ctl/$$-$RANDOM-$((job += 1))
  printf '%s\n' "$1" > "$n.dir"
  printf '%s\n' "$2" > "$n.sh"; mv "$n.sh" "$n.job"
  echo "$n"
}

exec_cmd() {
  running && [ -f "$ctl/ready" ] || { echo "vm: no guest running (vm.sh start)" >&2; return 2; }
  local cmd n shared=0 tag path
  while read -r tag path; do case "$PWD/" in "$path"/*) shared=1 ;; esac; done < "$ctl/shares"
  [ $shared = 1 ] || { echo "vm: $PWD is not shared with the guest (KORVANE_VM_SHARE when it starts)" >&2; return 2; }
  cmd=$(printf '%q ' "$@")
  n=$(submit "$PWD" "$cmd")
  # Follows the output as the guest writes it; ends once the exit code is there.
  until [ -e "$n.out" ] || [ -e "$n.rc" ]; do running || return 2; sleep 0.1; done
  tail -c +1 -f "$n.out" & local follower=$!
  until [ -e "$n.rc" ]; do
    running || { kill $follower; echo "vm: the guest stopped during the command" >&2; return 2; }
    sleep 0.2
  done
  sleep 0.3; kill $follower 2>/dev/null; wait $follower 2>/dev/null || true
  local rc; rc=$(cat "$n.rc"); rm -f "$n".*
  return "$rc"
}

stop() {
  running || { rm -f "$run_dir/pid"; return 0; }
  local pid; pid=$(cat "$run_dir/pid")
  if [ -f "$ctl/ready" ]; then submit / poweroff >/dev/null; fi
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.3; done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -f "$run_dir/pid"
}

case "${1:-}" in
  image) image_ok || build_image ;;
  start) start ;;
  exec) shift; exec_cmd "$@" ;;
  stop) stop ;;
  status) running && [ -f "$ctl/ready" ] ;;
  run) shift; start; rc=0; exec_cmd "$@" || rc=$?; stop; exit $rc ;;
  *) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
esac
