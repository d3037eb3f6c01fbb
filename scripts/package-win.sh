#!/usr/bin/env bash
# Builds the Windows packages from the mingw-w64 cross build (Release, static): under
# build-package-win/, an .msi made by wixl from packaging/tessaly.wxs, and a portable zip holding
# the programs, a read-me and the licence. Prints the two files' paths on the last two lines.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir="$root/build-package-win"
programs=(tessaly marcrows)

"$root/scripts/setup.sh" packages-build.txt packages-package.txt packages-test.txt
if [[ ! -f "$dir/build.ninja" ]]; then
  cmake -S "$root" -B "$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$dir" --target "${programs[@]}"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
name="tessaly-$version-x64"
# Windows Installer compares the first three fields of a version only: 1.0 becomes 1.0.0.
IFS=. read -ra fields <<<"$version"
while ((${#fields[@]} < 3)); do fields+=(0); done
if ((${#fields[@]} > 3)); then
  echo "package-win.sh: version $version has more than three fields" >&2
  exit 1
fi
msi_version="${fields[0]}.${fields[1]}.${fields[2]}"
cd "$dir"
rm -rf files "$name.msi" "$name.zip"
mkdir -p files/Tessaly
for program in "${programs[@]}"; do cp "bin/$program.exe" files/Tessaly/; done
# For Windows' Notepad: a byte order mark and CR LF line ends.
{
  printf '\xef\xbb\xbf'
  sed 's/$/\r/' "$root/packaging/README-windows.txt"
} >files/Tessaly/README.txt
sed 's/$/\r/' "$root/LICENSE" >files/Tessaly/LICENSE.txt
cp "$root/resources/tessaly.ico" files/

# wixl takes source paths relative to the current folder (it fails on absolute ones).
wixl -a x64 -D "Version=$msi_version" -D Files=files/Tessaly -D Icons=files -o \
  "$name.msi" "$root/packaging/tessaly.wxs"
(cd files && zip -q -X -r "../$name.zip" Tessaly)
echo "$dir/$name.msi"
echo "$dir/$name.zip"
