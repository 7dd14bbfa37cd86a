#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds and runs a host against the package.
set -euo pipefail
build=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
# Designer links Qt only: the plugin has to find libtavrolin.so.3 in the prefix by itself.
if [[ -d "$build/plugins/designer" ]]; then
  plugin=$(find "$work/prefix" -name libtavrolin_designer_plugin.so)
  [[ -n "$plugin" ]] || { echo "no Designer plugin in the prefix"; exit 1; }
  found=$(env -u LD_LIBRARY_PATH ldd "$plugin" | awk '$1 == "libtavrolin.so.3" { print $3 }')
  [[ -n "$found" && $(realpath -s "$found") == "$work/prefix/"* ]] ||
    { echo "the plugin does not find the prefix's library:"; ldd "$plugin"; exit 1; }
fi
cmake -S "$source_dir/tests/package/consumer" -B "$work/consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib:$work/prefix/lib/x86_64-linux-gnu:${LD_LIBRARY_PATH:-}" \
  QT_QPA_PLATFORM=offscreen "$work/consumer/consumer"
