#!/usr/bin/env bash
# The Debian package of this build, as cpack makes it, passes lintian without
# an error or a warning.
# Usage: package_lintian.sh CPACK BUILD_DIR SCRATCH_DIR
set -euo pipefail
cpack=$1 build=$2 scratch=$3
rm -rf "$scratch"
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch" >/dev/null
status=0
said=$(lintian --fail-on error,warning "$scratch"/*.deb 2>&1) || status=1
grep -v 'running with root privileges' <<<"$said" || true
rm -rf "$scratch"
exit "$status"
