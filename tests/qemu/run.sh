#!/usr/bin/env bash
# Runs the Linux libvek.so inside a QEMU q35 guest: QEMU's ICH9 SMBus
# controller at 00:1f.3 (base in config 0x20) with its EEPROMs at 0x50..0x57,
# SMBIOS board strings of a listed board, the PC speaker and the processor
# thermal path on two processor models. A second SMBus pass loads the guest
# kernel's i2c-i801, i2c-smbus and i2c-dev, binds at24 to the part at 0x57 and
# keeps reading it through the kernel while the same checks run.
#
#   tests/qemu/run.sh BUILD_DIR
#
# The kernel is Debian's own (fetched with apt, cached outside the build tree
# in $VEK_QEMU_CACHE, default ~/.cache/vek-qemu); the initramfs holds
# busybox, the msr module, the test program and its libraries.
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
cache=${VEK_QEMU_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/vek-qemu}
guest_test="$build/tests/qemu/vek_guest_test"
[ -x "$guest_test" ] || { echo "missing $guest_test (build first)"; exit 1; }

# A board whose chipset id puts the controller at 00:1f.3 with its base in
# config register 0x20, and whose main chip is absent in QEMU (so the checks
# see only the chipset).
product="PBM-303"
vendor="Vek Test Firmware"
version="1.07"
serial="QEMU-SN-0042"

# ---- kernel and its modules, once per kernel version: msr for the thermal
# path; the SMBus driver, i2c-dev and the EEPROM driver for the second pass
modules="msr i2c-smbus i2c-i801 i2c-dev at24"
mkdir -p "$cache"
pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
if [ -z "$pkg" ]; then
  apt-get update -qq
  pkg=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
fi
kdir="$cache/$pkg"
complete=1
for m in $modules; do [ -f "$kdir/$m.ko" ] || complete=0; done
if [ ! -f "$kdir/vmlinuz" ] || [ "$complete" = 0 ]; then
  rm -rf "$kdir" && mkdir -p "$kdir/deb"
  (cd "$kdir/deb" && apt-get download "$pkg" >/dev/null 2>&1)
  dpkg-deb -x "$kdir"/deb/*.deb "$kdir/root"
  cp "$kdir"/root/boot/vmlinuz-* "$kdir/vmlinuz"
  for m in $modules; do
    ko=$(find "$kdir/root/lib/modules" -name "$m.ko*" | head -n1)
    [ -n "$ko" ] || { echo "module $m not in $pkg"; exit 1; }
    case "$ko" in
      *.xz) xz -dc "$ko" > "$kdir/$m.ko" ;;
      *.zst) zstd -dqc "$ko" > "$kdir/$m.ko" ;;
      *) cp "$ko" "$kdir/$m.ko" ;;
    esac
  done
  rm -rf "$kdir/root" "$kdir/deb"
fi

# ---- initramfs
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"
mkdir -p "$root"/{bin,sbin,dev,proc,sys,tmp,lib,lib64,usr/lib,vek}
cp /bin/busybox "$root/bin/busybox"
for tool in sh mount insmod poweroff cat echo sleep mkdir dmesg grep touch; do ln -s busybox "$root/bin/$tool"; done
for m in $modules; do cp "$kdir/$m.ko" "$root/vek/$m.ko"; done
cp "$guest_test" "$root/vek/"
cp "$build"/libvek.so* "$root/vek/"
# The program's shared libraries, at the paths the loader looks in.
for lib in $(LD_LIBRARY_PATH="$build" ldd "$guest_test" | awk '/=> \// {print $3} /^\t\// {print $1}'); do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done

cat > "$root/init" <<'EOF'
#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/shm && mount -t tmpfs tmpfs /dev/shm
insmod /vek/msr.ko
export LD_LIBRARY_PATH=/vek
set -- $(cat /proc/cmdline)
mode=smbus
for arg; do case "$arg" in vek.mode=*) mode=${arg#vek.mode=} ;; vek.tjmax=*) tjmax=${arg#vek.tjmax=} ;; esac; done
echo "=== guest checks ($mode)"
failed=0
if [ "$mode" = smbus ]; then
  /vek/vek_guest_test smbus "@PRODUCT@" "@VENDOR@" "@VERSION@" "@SERIAL@" || failed=1
  /vek/vek_guest_test measure || failed=1
fi
if [ "$mode" = kernel ]; then
  # The controller's own driver bound, its adapter open to user space, and a
  # kernel client reading one EEPROM for as long as the checks run.
  for m in i2c-smbus i2c-i801 i2c-dev; do insmod /vek/$m.ko || failed=1; done
  # One byte per read: on QEMU's controller the kernel's interrupt-driven I2C
  # block read loses the last byte of every longer read.
  insmod /vek/at24.ko io_limit=1 || failed=1
  bus=
  for a in /sys/bus/i2c/devices/i2c-*; do
    grep -q "SMBus I801" "$a/name" 2>/dev/null && bus=${a##*/i2c-}
  done
  echo "i801 adapter: i2c-$bus"
  echo 24c02 0x57 > /sys/bus/i2c/devices/i2c-$bus/new_device
  eeprom=/sys/bus/i2c/devices/$bus-0057/eeprom
  /vek/vek_guest_test pattern "$eeprom" || { echo "FAIL pattern into the kernel's EEPROM"; failed=1; }
  echo "kernel reader alone:"
  /vek/vek_guest_test reader "$eeprom" /tmp/stop 5 || failed=1
  /vek/vek_guest_test reader "$eeprom" /tmp/stop &
  reader=$!
  /vek/vek_guest_test kernel "@PRODUCT@" "@VENDOR@" "@VERSION@" "@SERIAL@" || failed=1
  touch /tmp/stop
  wait $reader || { echo "FAIL kernel reader saw wrong bytes or failed reads"; failed=1; }
  /vek/vek_guest_test measure || failed=1
  errors=$(dmesg | grep -i i801 | grep -c -i -E "error|fail|timeout|collision|busy")
  echo "kernel log: $errors i801 error lines"
  [ "$errors" = 0 ] || { dmesg | grep -i i801; failed=1; }
fi
/vek/vek_guest_test cpu "$tjmax" || failed=1
/vek/vek_guest_test exit $failed
poweroff -f
EOF
sed -i -e "s|@PRODUCT@|$product|" -e "s|@VENDOR@|$vendor|" -e "s|@VERSION@|$version|" -e "s|@SERIAL@|$serial|" \
  "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initrd.gz"

# ---- boot; QEMU's exit status is (guest code << 1) | 1, so 1 means all passed
boot() { # seconds allowed, cpu, extra kernel arguments
  local rc=0 t0=$SECONDS limit=$1
  shift
  timeout "$limit" qemu-system-x86_64 -M q35 -accel tcg -cpu "$1" -m 256 -nographic -no-reboot \
    -kernel "$kdir/vmlinuz" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 quiet panic=-1 $2" \
    -smbios "type=0,vendor=$vendor,version=$version" \
    -smbios "type=2,manufacturer=Vek,product=$product,serial=$serial" \
    -device isa-debug-exit,iobase=0xf4,iosize=0x04 || rc=$?
  echo "guest on $1: $((SECONDS - t0)) s"
  [ "$rc" -eq 1 ] || { echo "guest on $1 failed (qemu status $rc)"; return 1; }
}

status=0
# Together about three minutes on a busy two-core machine (TCG).
boot 140 Nehalem "vek.mode=smbus vek.tjmax=100" || status=1
boot 50 Penryn "vek.mode=cpu vek.tjmax=90" || status=1
boot 110 Nehalem "vek.mode=kernel vek.tjmax=100" || status=1
exit $status
