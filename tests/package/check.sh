#!/usr/bin/env bash
# Checks of the shipped Linux hex-upload, for the machine's own architecture
# (amd64) or, cross-compiled and run under qemu's user-mode emulation, for
# arm64 and armhf.
#   check.sh build <arch> <work dir> <source dir>   two release builds and their packages
#   check.sh contents|lintian|binary|reproducible <arch> <work dir> <version>
#   check.sh hidraw_sim <arch> <work dir> <hex-upload-sim> [<libsorbel-hidraw-sim.so>]
#       the built program with the hidraw simulator preloaded (by default the
#       one that the build of a cross architecture made)
# The builds go to <work>/<arch>/a and <work>/<arch>/elsewhere/b: the same
# sources in folders of different names and lengths.
set -euo pipefail
what=$1
arch=$2
work=$3/$arch
a=$work/a
b=$work/elsewhere/b

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Per architecture: the preset, the tarball's name for the processor (as
# uname -m gives it), what file(1) says of the program, its loader, and the
# emulator that runs it here. The emulator is called directly, so that no
# binfmt registration is needed; -L / takes the loader and the libraries from
# the multiarch packages (libc6:arm64, libudev1:arm64 ...), the ones the
# package depends on.
emulator=()
case $arch in
amd64) preset=release machine=x86_64 elf='ELF 64-bit LSB pie executable, x86-64'
  loader=/lib64/ld-linux-x86-64.so.2 ;;
arm64) preset=release-arm64 machine=aarch64 elf='ELF 64-bit LSB pie executable, ARM aarch64'
  loader=/lib/ld-linux-aarch64.so.1 emulator=(qemu-aarch64 -L /) ;;
armhf) preset=release-armhf machine=armv7l elf='ELF 32-bit LSB pie executable, ARM, EABI5'
  loader=/lib/ld-linux-armhf.so.3 emulator=(qemu-arm -L /) ;;
*) fail "unknown architecture $arch" ;;
esac
if [ "${#emulator[@]}" -gt 0 ] && ! command -v "${emulator[0]}" > /dev/null; then
  fail "${emulator[0]} not found (scripts/install-deps installs it)"
fi

if [ "$what" = build ]; then
  source_dir=$4
  rm -rf "$work"
  for dir in "$a" "$b"; do
    (cd "$source_dir" && cmake --preset "$preset" -B "$dir" > /dev/null)
    cmake --build "$dir" -j 2
    (cd "$dir" && cpack)
  done
  if [ "${#emulator[@]}" -gt 0 ]; then
    # The hidraw simulator for the same architecture, without the sanitizers
    # of the linux preset, in a tree of its own: the release trees stay free
    # of simulation code.
    (cd "$source_dir" && cmake --preset "$preset" -B "$work/sim" -DBUILD_TESTING=ON \
      -DHEX_UPLOAD_SHIPPED_BUILD=OFF > /dev/null)
    cmake --build "$work/sim" -j 2 --target sorbel-hidraw-sim
  fi
  exit 0
fi

version=$4
deb=$a/hex-upload_${version}_$arch.deb
tgz=$a/hex-upload-$version-linux-$machine.tar.gz
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

files=(
  usr/bin/hex-upload
  usr/lib/udev/rules.d/70-sorbel-bootloader.rules
  usr/share/doc/hex-upload/changelog.gz
  usr/share/doc/hex-upload/copyright
  usr/share/man/man1/hex-upload.1.gz
)

case $what in
contents)
  # The files, the same in the package, the tarball and cmake --install.
  printf '%s\n' "${files[@]}" > "$scratch/want"
  dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./||' | sort > "$scratch/deb"
  diff -u "$scratch/want" "$scratch/deb" || fail "package files"
  tar -tzf "$tgz" | grep -v '/$' | sed "s|^hex-upload-$version-linux-$machine/|usr/|" | sort > "$scratch/tgz"
  diff -u "$scratch/want" "$scratch/tgz" || fail "tarball files"
  DESTDIR=$scratch/root cmake --install "$a" > /dev/null
  (cd "$scratch/root" && find . -type f | sed 's|^\./||' | sort) > "$scratch/installed"
  diff -u "$scratch/want" "$scratch/installed" || fail "cmake --install files"
  for f in "${files[@]}"; do
    cmp "$scratch/root/$f" <(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./$f") || fail "$f differs"
  done

  # Control fields; Depends comes from the binary's libraries.
  field() { dpkg-deb -f "$deb" "$1"; }
  [ "$(field Package)" = hex-upload ] || fail "Package: $(field Package)"
  [ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
  [ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
  [ "$(field Section)" = utils ] || fail "Section: $(field Section)"
  [[ "$(field Depends)" =~ ^libc6\ \(\>=\ [0-9.]+\),\ libudev1\ \(\>=\ [0-9]+\)$ ]] ||
    fail "Depends: $(field Depends)"
  [ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] || fail "Maintainer or Description empty"

  # The postinst ends well where udev cannot be reached (here a udevadm
  # that fails stands in for a container's).
  dpkg-deb -e "$deb" "$scratch/control"
  [ -x "$scratch/control/postinst" ] || fail "postinst not executable"
  mkdir "$scratch/bin"
  printf '#!/bin/sh\nexit 1\n' > "$scratch/bin/udevadm"
  chmod +x "$scratch/bin/udevadm"
  PATH=$scratch/bin:$PATH sh "$scratch/control/postinst" configure || fail "postinst failed"
  ;;
lintian)
  # Errors fail the test; every other tag is shown.
  status=0
  lintian --fail-on error --info "$deb" > "$scratch/tags" 2>&1 || status=$?
  grep -v '^running with root privileges' "$scratch/tags" || true
  [ "$status" = 0 ] || fail "lintian reports errors"
  ;;
binary)
  # The packaged program, unpacked, where no bootloader is attached.
  dpkg-deb -x "$deb" "$scratch/root"
  program=$scratch/root/usr/bin/hex-upload
  printf ':0100000001FE\n:00000001FF\n' > "$scratch/one.hex"
  status=0
  "${emulator[@]}" "$program" "$scratch/one.hex" > "$scratch/out" || status=$?
  [ "$status" = 1 ] || fail "exit code $status"
  printf 'Error opening Sorbel device: The specified device was not found\n%.0s' {1..10} > "$scratch/want"
  diff -u "$scratch/want" "$scratch/out" || fail "output"
  # At run time only the C library, libudev and the loader, hardened and
  # stripped.
  if [ "${#emulator[@]}" = 0 ]; then
    ldd "$program" | tee "$scratch/ldd"
    if grep -vE '^\s*(linux-vdso\.so\.1|libc\.so\.6|libudev\.so\.1|/lib64/ld-linux-x86-64\.so\.2)[ =]' "$scratch/ldd"; then
      fail "unexpected libraries"
    fi
  fi
  readelf -W --dynamic --segments --dyn-syms "$program" > "$scratch/elf"
  sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' "$scratch/elf" | tee "$scratch/needed"
  if grep -vxF -e libc.so.6 -e libudev.so.1 -e "${loader##*/}" "$scratch/needed"; then
    fail "unexpected libraries"
  fi
  for want in '(FLAGS_1) .*NOW PIE' ' GNU_RELRO ' ' UND __stack_chk_fail@' ' UND __vsnprintf_chk@'; do
    grep -q "$want" "$scratch/elf" || fail "not hardened: no \"$want\""
  done
  # The settings and the name of the simulators stay out of the product.
  if grep -qa -e SORBEL_SIM_ -e libsorbel-hidraw-sim "$program"; then
    fail "simulation code in the program"
  fi
  file "$program" > "$scratch/file"
  for want in "$elf" "interpreter $loader" ', stripped'; do
    grep -qF "$want" "$scratch/file" || fail "not \"$want\": $(cat "$scratch/file")"
  done
  ;;
hidraw_sim)
  # Output, report log and flash the same as the native hex-upload-sim's.
  bash "$(dirname "$0")/../e2e/upload/hidraw-sim.sh" "$a/bin/hex-upload" \
    "${5:-$work/sim/bin/libsorbel-hidraw-sim.so}" "$4" "${emulator[@]}"
  ;;
reproducible)
  for f in bin/hex-upload "${deb#"$a"/}" "${tgz#"$a"/}"; do
    cmp "$a/$f" "$b/$f" || fail "$f differs between the two builds"
  done
  ;;
*)
  fail "unknown check $what"
  ;;
esac
