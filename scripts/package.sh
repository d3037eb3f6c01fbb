#!/usr/bin/env bash
# Builds the Debian package: a Release build installed under /usr, packed by CPack into
# build-package/tessaly_VERSION_ARCH.deb. Prints the package's path on the last line.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" packages-build.txt packages-package.txt
"$root/scripts/build.sh" build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBUILD_TESTING=OFF
cd "$root/build-package"
rm -f ./*.deb
cpack -G DEB >/dev/null
ls "$root"/build-package/*.deb
