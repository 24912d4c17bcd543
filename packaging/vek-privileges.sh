#!/bin/sh
# Lets the members of the "vek" group, and nobody else, drive the board with
# vekctl: the program becomes 0750 root:vek with the three capabilities the
# library needs, and /dev/i2c-* nodes belong to the group.
# Installed beside its udev rule in share/vek:
#   sudo sh /usr/local/share/vek/vek-privileges.sh [/usr/local/bin/vekctl] [/etc/udev/rules.d]
set -eu
program=${1:-/usr/local/bin/vekctl}
rules=${2:-/etc/udev/rules.d}
here=$(dirname "$0")

getent group vek >/dev/null || groupadd --system vek
chown root:vek "$program"
chmod 0750 "$program"
setcap cap_sys_rawio,cap_sys_admin,cap_dac_override+ep "$program"

install -m 0644 "$here/60-vek-i2c.rules" "$rules/60-vek-i2c.rules"
udevadm control --reload-rules 2>/dev/null && udevadm trigger --subsystem-match=i2c-dev 2>/dev/null || true
echo "vekctl is now for root and the vek group: usermod -aG vek USER (takes effect at the next login)"
