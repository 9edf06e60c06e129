#!/usr/bin/env bash
# What `cmake --install` puts into a prefix, and so what the Debian package
# ships: the program, its manual page, the three shells' completions and the
# copyright and changelog Debian asks for.
# Usage: installed_files.sh CMAKE BUILD_DIR SCRATCH_DIR
set -euo pipefail
cmake=$1 build=$2 prefix=$3
rm -rf "$prefix"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
failed=0
for path in bin/karvel-cli share/man/man1/karvel-cli.1.gz \
  share/bash-completion/completions/karvel-cli share/zsh/vendor-completions/_karvel-cli \
  share/fish/vendor_completions.d/karvel-cli.fish share/doc/karvel-cli/copyright \
  share/doc/karvel-cli/changelog.gz; do
  if [ ! -f "$prefix/$path" ]; then
    echo "not installed: $path"
    failed=1
  fi
done
# The machine-readable form, which tools read; Debian wants it uncompressed.
format='Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/'
if [ "$(head -n 1 "$prefix/share/doc/karvel-cli/copyright" 2>/dev/null)" != "$format" ]; then
  echo "copyright: not in the machine-readable format"
  failed=1
fi
rm -rf "$prefix"
exit "$failed"
