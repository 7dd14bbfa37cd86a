#!/usr/bin/env bash
# The shared library exports the public API and nothing else of ours: the Tavrolin class,
# tavrolin::RunTimeError and its error numbers, which are constants in the header. Instances of standard library
# templates stay visible, as they must for exceptions and type identity across libraries.
set -euo pipefail
library=$1

symbols=$(nm -DC --defined-only "$library" | cut -d' ' -f3-)
[[ -n "$symbols" ]] || { echo "no dynamic symbols in $library"; exit 1; }

status=0
for expected in \
    'Tavrolin::Tavrolin(QWidget*)' 'Tavrolin::~Tavrolin()' 'Tavrolin::staticMetaObject' \
    'Tavrolin::setEmployeeID(QString const&)' 'Tavrolin::setServerName(QString const&)' \
    'Tavrolin::SaveToDatabase()' 'Tavrolin::urlEncode(QString const&) const' \
    'Tavrolin::hasPendingChanges() const' 'Tavrolin::loadFinished(bool)' \
    'Tavrolin::commitFinished(bool)' 'Tavrolin::pendingChangesChanged(bool)' \
    'tavrolin::RunTimeError::RunTimeError(int, QString, QString)' \
    'typeinfo for tavrolin::RunTimeError'; do
    grep -qxF "$expected" <<<"$symbols" || { echo "missing export: $expected"; status=1; }
done

# Strip what only qualifies a symbol, then allow the API, the standard library and the
# linker's own markers.
unexpected=$(sed -E 's/^(typeinfo name for |typeinfo for |vtable for |VTT for |guard variable for |non-virtual thunk to |virtual thunk to )//' <<<"$symbols" |
    grep -vE '^(Tavrolin::|tavrolin::RunTimeError::|tavrolin::RunTimeError$|Tavrolin$|std::|__gnu_cxx::|_edata$|_end$|__bss_start$|_init$|_fini$)' || true)
if [[ -n "$unexpected" ]]; then
    echo "exported beyond the public API:"
    echo "$unexpected"
    status=1
fi
exit $status
