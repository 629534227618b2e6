#!/usr/bin/env bash
# Builds the shim into DIR and prints the LD_PRELOAD value that loads it: the i386
# shim for the 32-bit Wine, a no-op of the same name for the 64-bit processes
# (each ld.so expands the literal $LIB to its own library folder).
#   tools/qemu-tls-shim/build.sh DIR
set -eu
dir=$1
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$dir/lib/i386-linux-gnu" "$dir/lib/x86_64-linux-gnu"
gcc -m32 -O2 -Wall -fPIC -shared -nostdlib -ffreestanding -fno-stack-protector \
    -Wl,-Ttext-segment=0x7c800000 -o "$dir/lib/i386-linux-gnu/qemu_tls_shim.so" \
    "$here/qemu_tls_shim.c"
echo 'int vex_qemu_tls_shim_noop;' |
  gcc -O2 -fPIC -shared -nostdlib -x c -o "$dir/lib/x86_64-linux-gnu/qemu_tls_shim.so" -
printf '%s\n' "$dir/\$LIB/qemu_tls_shim.so"
