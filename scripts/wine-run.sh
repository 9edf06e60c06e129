#!/usr/bin/env bash
# Runs a Windows program in the project's own Wine prefix (ctest's emulator).
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
karvel_wine_prefix
exec wine "$@"
