#!/usr/bin/env bash
# The demo host's command line: a screenshot is written, a bad employee is refused with exit 2.
set -euo pipefail
host=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
"$host" --help | grep -q -- "--screenshot"
"$host" --employee 42 --screenshot "$work/shot.png" >/dev/null 2>&1
[[ $(head -c 8 "$work/shot.png" | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]]
set +e
"$host" --employee abc --screenshot "$work/bad.png" 2>"$work/err" >/dev/null
status=$?
set -e
[[ $status -eq 2 ]] && grep -q "error 13" "$work/err"
echo "host checks passed"
