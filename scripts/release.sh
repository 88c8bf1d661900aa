#!/usr/bin/env bash
# Builds the release of the checked-out commit into dist/: per Windows build the zip, the
# unstripped exe as its symbol file and its Windows Installer package (x86 from the 32-bit build,
# x64 from the 64-bit one), and SHA256SUMS over all of them. Every build is made twice, from nothing, in two different folders,
# and the release fails unless the two exes are byte-identical, and so must be their zips and
# packages; the release checks run on the first. Every time in the packages, and the signing
# time, is the commit's.
# SIGN_PFX (a PKCS#12 file) and SIGN_PASSWORD_FILE (its password) sign the exes, the packages'
# custom actions and the packages; without them the release is unsigned.
# RELEASE_BUILD_ROOT (default build/release) holds the first builds; the second ones go to a
# temporary folder. RELEASE_JOBS (default 2) is passed to the build.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

bash scripts/setup.sh

if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: the working tree has changes; a release is made from a commit" >&2
  exit 1
fi
commit=$(git rev-parse HEAD)
epoch=$(git log -1 --format=%ct)
signing=()
if [ -n "${SIGN_PFX:-}" ]; then
  [ -n "${SIGN_PASSWORD_FILE:-}" ] || { echo "release: SIGN_PFX needs SIGN_PASSWORD_FILE" >&2; exit 1; }
  signing=(-DAUTOBACKUP_SIGN_PFX="$(realpath "$SIGN_PFX")"
           -DAUTOBACKUP_SIGN_PASSWORD_FILE="$(realpath "$SIGN_PASSWORD_FILE")")
fi
mkdir -p "${RELEASE_BUILD_ROOT:-build/release}"
first_root=$(cd "${RELEASE_BUILD_ROOT:-build/release}" && pwd)
second_root=$(mktemp -d /tmp/autobackup-release-XXXXXX)
trap 'rm -rf "$second_root"' EXIT
jobs=${RELEASE_JOBS:-2}
dist=$source_dir/dist

build() {  # build FOLDER TOOLCHAIN TARGET...: the shipped files from nothing, Release
  rm -rf "$1"
  cmake -S "$source_dir" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/$2" -DAUTOBACKUP_SOURCE_DATE_EPOCH="$epoch" \
    "${signing[@]}" >"$1.configure.log" 2>&1 || { cat "$1.configure.log"; return 1; }
  cmake --build "$1" --target "${@:3}" -j "$jobs" >"$1.build.log" 2>&1 ||
    { cat "$1.build.log"; return 1; }
}

verify() {  # verify FILE: its signature, made by the certificate of SIGN_PFX
  osslsigncode verify -in "$1" -CAfile "$first_root/signer.crt" >"$1.verify.log" 2>&1 &&
    grep -q '^Signature verification: ok' "$1.verify.log" ||
    { cat "$1.verify.log"; echo "release: $1 is not signed by SIGN_PFX's certificate" >&2; return 1; }
}

rm -rf "$dist"
mkdir -p "$dist"
if [ ${#signing[@]} -gt 0 ]; then
  openssl pkcs12 -in "$SIGN_PFX" -passin file:"$SIGN_PASSWORD_FILE" -clcerts -nokeys \
    -out "$first_root/signer.crt"
fi
for build_name in win32 win64; do
  case $build_name in
    win32) toolchain=mingw-i686.cmake prefix=i686-w64-mingw32 msi_arch=x86 ;;
    win64) toolchain=mingw-x86_64.cmake prefix=x86_64-w64-mingw32 msi_arch=x64 ;;
  esac
  first=$first_root/$build_name
  second=$second_root/$build_name
  echo "== $build_name: two builds, in $first and $second"
  build "$first" "$toolchain" autobackup_shipped autobackup_msi
  build "$second" "$toolchain" autobackup_shipped autobackup_msi
  # As the install rules strip: with no time stamp in the header.
  SOURCE_DATE_EPOCH=0 "$prefix-strip" -o "$first.stripped.exe" "$first/app/AutoBackup.exe"
  SOURCE_DATE_EPOCH=0 "$prefix-strip" -o "$second.stripped.exe" "$second/app/AutoBackup.exe"
  shipped=$first/release/shipped/AutoBackup.exe
  if [ ${#signing[@]} -gt 0 ]; then
    verify "$shipped"
    verify "$first/release/shipped/CustomActions.dll"
  else
    cmp "$shipped" "$first.stripped.exe"
  fi
  if ! cmp "$first.stripped.exe" "$second.stripped.exe"; then
    echo "release: the two $build_name builds gave different exes" >&2
    exit 1
  fi
  if ! cmp "$first/app/AutoBackup.exe" "$second/app/AutoBackup.exe"; then
    echo "release: the two $build_name builds gave different symbol files" >&2
    exit 1
  fi

  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$first/CMakeCache.txt")
  windows=$(sed -n 's/^AUTOBACKUP_WINDOWS_VERSION:INTERNAL=//p' "$first/CMakeCache.txt")
  echo "== $build_name: release checks, on the built and on the stripped exe"
  ctest --test-dir "$first" -R '^release_check_exe$' --output-on-failure >"$first.checks.log" 2>&1 ||
    { cat "$first.checks.log"; exit 1; }
  python3 release/check_exe.py --exe "$first.stripped.exe" --objdump "$prefix-objdump" \
    --windres "$prefix-windres" --version "$version" --windows "$windows" --license LICENSE \
    >>"$first.checks.log" 2>&1 || { cat "$first.checks.log"; exit 1; }
  name=AutoBackup-$version-$build_name
  for folder in "$first" "$second"; do
    (cd "$folder" && cpack -B "$folder/packages" >"$folder.cpack.log" 2>&1) ||
      { cat "$folder.cpack.log"; exit 1; }
  done
  if ! cmp "$first/packages/$name.zip" "$second/packages/$name.zip"; then
    echo "release: the two $build_name builds gave different zips" >&2
    exit 1
  fi
  cp "$first/packages/$name.zip" "$dist/"
  cp "$first/app/AutoBackup.exe" "$dist/$name-symbols.exe"
  # The zip must hold the very exe that both builds gave.
  python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read("AutoBackup.exe"))' \
    "$dist/$name.zip" | cmp - "$shipped"
  msi=AutoBackup-$version-$msi_arch.msi
  if ! cmp "$first/release/$msi" "$second/release/$msi"; then
    echo "release: the two builds gave different packages $msi" >&2
    exit 1
  fi
  [ ${#signing[@]} -eq 0 ] || verify "$first/release/$msi"
  echo "== $msi: the package's tables"
  python3 release/msi/check_msi.py --msi "$first/release/$msi" --arch "$msi_arch" \
    --exe "$shipped" >>"$first.checks.log" 2>&1 || { cat "$first.checks.log"; exit 1; }
  cp "$first/release/$msi" "$dist/"
done

(cd "$dist" && sha256sum -- *.msi *.zip *-symbols.exe >SHA256SUMS)
echo
echo "== dist/ (commit $commit)"
(cd "$dist" && for file in *; do
  printf '%-40s %9d bytes\n' "$file" "$(stat -c %s "$file")"
done)
echo
cat "$dist/SHA256SUMS"
if [ ${#signing[@]} -gt 0 ]; then
  echo "signed with the certificate of $SIGN_PFX: $(openssl x509 -in "$first_root/signer.crt" -noout -subject)"
else
  echo "unsigned: no SIGN_PFX given"
fi
for build_name in win32 win64; do
  printf 'AutoBackup.exe in the %s zip: %d bytes, sha256 %s\n' "$build_name" \
    "$(stat -c %s "$first_root/$build_name/release/shipped/AutoBackup.exe")" \
    "$(sha256sum <"$first_root/$build_name/release/shipped/AutoBackup.exe" | cut -d' ' -f1)"
done
