#!/usr/bin/env bash
# Makes the Debian packages with cpack and checks what a host developer and an admin get: the
# packages' names, fields and files, lintian (errors fail), the service unit, the man page
# against --help; then unpacks them into a scratch root and builds and runs a host and the
# server from that root alone. The packages are made as from a checkout whose files are
# group-writable (umask 002, usual for users with a group of their own).
#   check_deb.sh BUILD_DIR SOURCE_DIR MULTIARCH_TRIPLET SYSTEMD_UNIT_DIR
set -euo pipefail
build=$1
source_dir=$2
triplet=$3
unit_dir=${4#/}
version=3.0.2

work=$(mktemp -d)
server_pid=""
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# cpack, as from a checkout made under umask 002: group-writable files ------------------------
umask 002
checkout=$work/checkout
mkdir -p "$checkout"
cp -r "$source_dir/packaging" "$checkout/"
chmod -R g+w "$checkout"
sed "s|$source_dir/packaging/|$checkout/packaging/|g" "$build/CPackConfig.cmake" \
  >"$work/CPackConfig.cmake"
grep -qF "$checkout/packaging/debian/" "$work/CPackConfig.cmake" ||
  fail "CPackConfig.cmake names no maintainer file under $source_dir/packaging/debian"
if ! (cd "$work" && cpack -G DEB --config "$work/CPackConfig.cmake" -B "$work/debs" \
      >"$work/cpack.log" 2>&1); then
  cat "$work/cpack.log"
  fail "cpack -G DEB"
fi
arch=$(dpkg --print-architecture)
lib_deb=$work/debs/libtavrolin3_${version}_${arch}.deb
dev_deb=$work/debs/libtavrolin-dev_${version}_${arch}.deb
server_deb=$work/debs/tavrolin-server_${version}_${arch}.deb
for deb in "$lib_deb" "$dev_deb" "$server_deb"; do
  [[ -f "$deb" ]] || fail "no $(basename "$deb"); cpack made: $(ls "$work/debs")"
done
[[ $(ls "$work"/debs/*.deb | wc -l) -eq 3 ]] || fail "more than three packages: $(ls "$work/debs")"

# Fields ------------------------------------------------------------------------------------
expect_field() { # deb field expected-regex
  local value
  value=$(dpkg-deb -f "$1" "$2")
  [[ "$value" =~ $3 ]] || fail "$(basename "$1"): $2 is '$value', expected /$3/"
}
for deb in "$lib_deb" "$dev_deb" "$server_deb"; do
  expect_field "$deb" Version "^${version}$"
  expect_field "$deb" Maintainer '^[^<]+ <[^>]+@[^>]+>$'
  expect_field "$deb" Priority '^optional$'
  expect_field "$deb" Description '.'
done
expect_field "$lib_deb" Package '^libtavrolin3$'
expect_field "$lib_deb" Section '^libs$'
expect_field "$lib_deb" Depends 'libqt6widgets6'
expect_field "$dev_deb" Package '^libtavrolin-dev$'
expect_field "$dev_deb" Section '^libdevel$'
expect_field "$dev_deb" Depends "libtavrolin3 \(= ${version}\)"
expect_field "$server_deb" Package '^tavrolin-server$'
expect_field "$server_deb" Section '^net$'
expect_field "$server_deb" Depends 'libsqlite3-0'

# Files -------------------------------------------------------------------------------------
expect_files() { # deb path...
  local deb=$1 listing
  shift
  listing=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
  for path in "$@"; do
    grep -qxF "./$path" <<<"$listing" || fail "$(basename "$deb") lacks /$path"
  done
}
libdir=usr/lib/$triplet
expect_files "$lib_deb" "$libdir/libtavrolin.so.$version" "$libdir/libtavrolin.so.3" \
  usr/share/doc/libtavrolin3/copyright
expect_files "$dev_deb" usr/include/tavrolin/tavrolin.h usr/include/tavrolin/run_time_error.h \
  usr/include/tavrolin/tavrolin_export.h "$libdir/libtavrolin.so" \
  "$libdir/cmake/Tavrolin/TavrolinConfig.cmake" "$libdir/cmake/Tavrolin/TavrolinTargets.cmake" \
  "$libdir/qt6/plugins/designer/libtavrolin_designer_plugin.so" \
  usr/share/doc/libtavrolin-dev/copyright
expect_files "$server_deb" usr/bin/tavrolin-server "$unit_dir/tavrolin-server.service" \
  etc/default/tavrolin-server usr/share/man/man8/tavrolin-server.8.gz \
  usr/share/doc/tavrolin-server/copyright
if dpkg-deb -c "$lib_deb" | grep -q 'usr/include/'; then fail "libtavrolin3 carries headers"; fi

dpkg-deb -e "$server_deb" "$work/server-control"
grep -qxF /etc/default/tavrolin-server "$work/server-control/conffiles" ||
  fail "/etc/default/tavrolin-server is not a conffile"
[[ -x "$work/server-control/postinst" ]] || fail "tavrolin-server has no postinst"
dpkg-deb -e "$lib_deb" "$work/lib-control"
grep -q "^libtavrolin 3 libtavrolin3" "$work/lib-control/shlibs" || fail "libtavrolin3 has no shlibs"
# Modes as Debian wants them, whatever the checkout's and the umask: maintainer scripts 0755,
# other maintainer files 0644, and nothing writable by group or others.
for deb in "$lib_deb" "$dev_deb" "$server_deb"; do
  while read -r mode name; do
    case $name in
      preinst | postinst | prerm | postrm | config) want=-rwxr-xr-x ;;
      *) want=-rw-r--r-- ;;
    esac
    [[ $mode == "$want" ]] || fail "$(basename "$deb"): control file $name is $mode, not $want"
  done < <(dpkg-deb --ctrl-tarfile "$deb" | tar -tvf - |
    awk '$1 !~ /^d/ { sub("^\\./", "", $6); print $1, $6 }')
  writable=$(dpkg-deb --fsys-tarfile "$deb" | tar -tvf - |
    awk '$1 !~ /^l/ && (substr($1, 6, 1) == "w" || substr($1, 9, 1) == "w") { print $1, $6 }')
  [[ -z $writable ]] || fail "$(basename "$deb") holds entries writable by group or others: $writable"
done

# lintian -----------------------------------------------------------------------------------
if command -v lintian >/dev/null; then
  if ! lintian --fail-on error --allow-root --tag-display-limit 0 \
      "$lib_deb" "$dev_deb" "$server_deb" >"$work/lintian.log" 2>&1; then
    cat "$work/lintian.log"
    fail "lintian reports errors"
  fi
  echo "lintian (no errors):"
  cat "$work/lintian.log"
else
  echo "lintian not installed: not run"
fi

# Unpack into a scratch root ----------------------------------------------------------------
root=$work/root
for deb in "$lib_deb" "$dev_deb" "$server_deb"; do dpkg-deb -x "$deb" "$root"; done

unit=$root/$unit_dir/tavrolin-server.service
for setting in 'DynamicUser=yes' 'StateDirectory=tavrolin-server' 'NoNewPrivileges=yes' \
    'ProtectSystem=strict' 'ProtectHome=yes' 'PrivateTmp=yes' 'Restart=on-failure' \
    'EnvironmentFile=-/etc/default/tavrolin-server' 'ExecReload=/bin/kill -HUP $MAINPID'; do
  grep -qxF "$setting" "$unit" || fail "the unit lacks $setting"
done
grep -q '^ExecStart=/usr/bin/tavrolin-server .*\$TAVROLIN_SERVER_OPTS$' "$unit" ||
  fail "the unit does not start /usr/bin/tavrolin-server with the options of the defaults file"
grep -q '^TAVROLIN_SERVER_OPTS=' "$root/etc/default/tavrolin-server" ||
  fail "the defaults file does not set TAVROLIN_SERVER_OPTS"
if command -v systemd-analyze >/dev/null; then
  # Checked against the unpacked root, where /usr/bin/tavrolin-server and the man page named in
  # Documentation= are the packaged ones; the root has no system units for the ones it orders
  # itself after.
  man_check=no
  command -v man >/dev/null && man_check=yes
  # kill(1) for ExecReload= comes from a package the server depends on, not from ours.
  mkdir -p "$root/bin"
  cp /bin/kill "$root/bin/kill"
  if ! MANPATH="$root/usr/share/man" systemd-analyze verify --man="$man_check" \
      --recursive-errors=no --root="$root" "$unit" >"$work/verify.log" 2>&1; then
    cat "$work/verify.log"
    fail "systemd-analyze verify"
  fi
  echo "systemd-analyze verify: ok"
else
  echo "systemd-analyze not installed: unit not verified"
fi

# The Designer plugin finds the packaged library from where the packages put both.
plugin=$root/$libdir/qt6/plugins/designer/libtavrolin_designer_plugin.so
found=$(env -u LD_LIBRARY_PATH ldd "$plugin" | awk '$1 == "libtavrolin.so.3" { print $3 }')
[[ -n "$found" && $(realpath -s "$found") == "$root/$libdir/libtavrolin.so.3" ]] ||
  { ldd "$plugin"; fail "the Designer plugin does not find the packaged libtavrolin.so.3"; }

# The man page names every option and subcommand that --help lists.
export LD_LIBRARY_PATH="$root/$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
help=$("$root/usr/bin/tavrolin-server" --help)
manpage=$(gzip -dc "$root/usr/share/man/man8/tavrolin-server.8.gz" | sed 's/\\-/-/g')
options=$(grep -oE -- '(^|[^a-z0-9-])--?[a-z][a-z0-9-]*' <<<"$help" | grep -oE -- '--?[a-z][a-z0-9-]*' | sort -u)
commands=$(sed -nE 's/^(usage:)? *tavrolin-server ([a-z][a-z0-9-]*).*/\2/p' <<<"$help" | sort -u)
[[ -n "$options" && -n "$commands" ]] || fail "no options or subcommands read from --help"
for word in $options $commands; do
  grep -qE -- "(^|[^a-z0-9-])$word([^a-z0-9-]|$)" <<<"$manpage" || fail "tavrolin-server(8) does not document $word"
done

# A host built against the root alone -------------------------------------------------------
export QT_QPA_PLATFORM=offscreen
configure() { # source build
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$2.log" 2>&1 || { cat "$2.log"; fail "configure $1"; }
  grep -qxF "Tavrolin_DIR:PATH=$root/$libdir/cmake/Tavrolin" "$2/CMakeCache.txt" ||
    fail "$(grep Tavrolin_DIR "$2/CMakeCache.txt") is not the unpacked package"
  cmake --build "$2" >>"$2.log" 2>&1 || { cat "$2.log"; fail "build $1"; }
}
configure "$source_dir/tests/package/consumer" "$work/consumer"
"$work/consumer/consumer" || fail "the consumer host"

configure "$source_dir/tests/package/form_host" "$work/form_host"
"$root/usr/bin/tavrolin-server" --db :memory: --demo --listen 127.0.0.1:0 \
  >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
url=""
for _ in $(seq 600); do
  url=$(sed -n '1s/^listening on //p' "$work/server.out")
  [[ -n "$url" ]] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.err"; fail "the packaged server stopped"; }
  sleep 0.1
done
[[ -n "$url" ]] || fail "the packaged server did not start"
"$work/form_host/form_host" "$root/$libdir/qt6/plugins/designer" \
  "$source_dir/tests/package/form_host/vendors_form.ui" "$url" || fail "the form host"
echo "packages: $(cd "$work/debs" && ls ./*.deb | tr '\n' ' ')"
