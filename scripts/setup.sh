#!/usr/bin/env bash
# Installs what the builds and tests need, and only what is missing. Safe to run again.
set -euo pipefail

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then sudo "$@"; else
      echo "setup: '$*' needs root" >&2
      exit 1
    fi
  else "$@"; fi
}

packages=(
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev
  libgtest-dev libbenchmark-dev googletest
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine32:i386 wine64 xvfb qemu-user-static imagemagick x11-utils python3
  wixl msitools osslsigncode openssl
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_root dpkg --add-architecture i386
  updated=
else
  updated=done
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if [ -z "$updated" ] || ! apt-cache policy wine32:i386 2>/dev/null | grep -q Candidate; then
    need_root apt-get update -qq
  fi
  need_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The 32-bit Wine loader runs through qemu-user where the kernel cannot run i386 code itself.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  mountpoint -q /proc/sys/fs/binfmt_misc || need_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
      need_root tee /proc/sys/fs/binfmt_misc/register >/dev/null
  fi
fi
echo "setup: ready"
