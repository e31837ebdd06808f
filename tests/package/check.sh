#!/usr/bin/env bash
# Checks of the shipped Linux hex-upload.
#   check.sh build <source dir> <work dir>   two release builds and their packages
#   check.sh contents|lintian|binary|reproducible <version> <work dir>
# The builds go to <work>/a and <work>/elsewhere/b: the same sources in
# folders of different names and lengths.
set -euo pipefail
what=$1
work=$3
a=$work/a
b=$work/elsewhere/b

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

if [ "$what" = build ]; then
  source_dir=$2
  rm -rf "$a" "$b"
  for dir in "$a" "$b"; do
    (cd "$source_dir" && cmake --preset release -B "$dir" > /dev/null)
    cmake --build "$dir" -j 2
    (cd "$dir" && cpack)
  done
  exit 0
fi

version=$2
deb=$a/hex-upload_${version}_amd64.deb
tgz=$a/hex-upload-$version-linux-x86_64.tar.gz
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
  tar -tzf "$tgz" | grep -v '/$' | sed "s|^hex-upload-$version-linux-x86_64/|usr/|" | sort > "$scratch/tgz"
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
  [ "$(field Architecture)" = amd64 ] || fail "Architecture: $(field Architecture)"
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
  "$program" "$scratch/one.hex" > "$scratch/out" || status=$?
  [ "$status" = 1 ] || fail "exit code $status"
  printf 'Error opening Sorbel device: The specified device was not found\n%.0s' {1..10} > "$scratch/want"
  diff -u "$scratch/want" "$scratch/out" || fail "output"
  # At run time only the C library, libudev and the loader.
  ldd "$program" | tee "$scratch/ldd"
  if grep -vE '^\s*(linux-vdso\.so\.1|libc\.so\.6|libudev\.so\.1|/lib64/ld-linux-x86-64\.so\.2)[ =]' "$scratch/ldd"; then
    fail "unexpected libraries"
  fi
  file "$program" | grep -q ', stripped' || fail "not stripped"
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
