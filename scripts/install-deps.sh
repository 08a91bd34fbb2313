#!/usr/bin/env bash
# Installs from Debian's packages whatever the builds and tests need and the
# machine lacks. Idempotent: with everything present it changes nothing.
#
# A mirror that is out of step for an index or two does not stop it: a failing
# `apt-get update` is retried and then left as it is, and only an install that
# fails ends the script. The 32-bit Wine is optional: it is not even tried where
# the kernel runs no 32-bit programs, and where its install fails the 32-bit
# Windows tests are skipped.
#
# Settings for tests and impatient people: APT_UPDATE_TRIES (3), APT_RETRY_PAUSE
# seconds between them (15), DEPS_RUNS_32BIT=0/1 instead of asking the kernel,
# UPDATE_WINE32=0 for no 32-bit Wine at all.
set -euo pipefail

packages=(
  cmake ninja-build g++ make zlib1g-dev libgtest-dev googletest
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
  wine wine64
  xvfb xdotool x11-utils xauth imagemagick fonts-dejavu-core
  osslsigncode openssl libssl-dev clang
  zip unzip
  nlohmann-json3-dev
  libdivsufsort-dev
)
optional32=wine32:i386
# Only for make bench's comparison; without it the bench leaves that figure out.
optional=(bsdiff)
packages+=("${optional[@]}")

# Whether the kernel starts a 32-bit x86 program, asked with a 93-byte static
# ELF that only calls exit(42): nothing needs to be installed for it.
runs_32bit() {
  case "${DEPS_RUNS_32BIT:-}" in 0) return 1 ;; 1) return 0 ;; esac
  local probe rc
  probe=$(mktemp) || return 1
  printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0'           >"$probe"  # ident: 32-bit, little-endian
  printf '\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08'           >>"$probe" # executable, i386, entry 0x8048054
  printf '\x34\0\0\0\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0' >>"$probe" # one program header at 52
  printf '\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08'   >>"$probe" # load the file at 0x8048000
  printf '\x5d\0\0\0\x5d\0\0\0\x05\0\0\0\0\x10\0\0'          >>"$probe" # 93 bytes, read and execute
  printf '\x31\xdb\xb3\x2a\x31\xc0\x40\xcd\x80'             >>"$probe" # ebx=42, eax=1 (exit), int 0x80
  chmod +x "$probe"
  ("$probe") >/dev/null 2>&1; rc=$?
  rm -f "$probe"
  [ "$rc" -eq 42 ]
}

want32=0
if [ "${UPDATE_WINE32:-}" != 0 ] && runs_32bit; then
  want32=1
  packages+=("$optional32")
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if [ "$want32" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi

tries=${APT_UPDATE_TRIES:-3}
for ((try = 1; ; try++)); do
  $sudo apt-get update -q && break
  if [ "$try" -ge "$tries" ]; then
    echo "apt-get update failed $tries times; installing from the package lists that did load" >&2
    break
  fi
  echo "apt-get update failed (try $try of $tries); trying again in ${APT_RETRY_PAUSE:-15} s" >&2
  sleep "${APT_RETRY_PAUSE:-15}"
done

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Installs the given packages; apt's output goes to the terminal and to $log.
install() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$@" 2>&1 | tee "$log"
}
first_error() { grep -m1 '^E:' "$log" || tail -n 1 "$log"; }

install "${missing[@]}" && exit 0

# apt installs all or nothing: one package at a time tells which ones fail,
# and installs the others.
failed=() reason=""
for p in "${missing[@]}"; do
  install "$p" >/dev/null && continue
  failed+=("$p")
  [ -n "$reason" ] || reason=$(first_error)
done
if [ ${#failed[@]} -eq 0 ]; then
  exit 0
fi
needed=()
for p in "${failed[@]}"; do
  if [ "$p" = "$optional32" ]; then
    echo "32-bit Windows tests will be skipped: $optional32 could not be installed ($reason)"
  elif [[ " ${optional[*]} " == *" $p "* ]]; then
    echo "make bench leaves out what needs $p: it could not be installed"
  else
    needed+=("$p")
  fi
done
[ ${#needed[@]} -eq 0 ] && exit 0
echo "could not install: ${needed[*]}" >&2
echo "apt said: $reason" >&2
exit 1
