#!/bin/sh
# run_consumer.sh BUILD|ROOT [EMULATOR...], with CXX, CXXFLAGS and TOOLCHAIN
# (the cross toolchain file, or empty) in the environment, as CMake reads them.
# Stages BUILD's install as a DESTDIR tree (or takes ROOT, an unpacked
# package), builds app/ against it with CMake (natively as a prefix, cross as
# a sysroot) and with pkg-config, runs each build and checks its two records.
set -eu
app=$(cd "$(dirname "$0")/app" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "run_consumer: FAIL: $*" >&2; exit 1; }
quiet() { "$@" >"$tmp/out" 2>&1 || { cat "$tmp/out" >&2; fail "$*"; }; }

root=$1
shift
if [ -f "$root/CMakeCache.txt" ]; then
    quiet env DESTDIR="$tmp/root" cmake --install "$root" --prefix /usr
    root=$tmp/root
fi
pcdir=$(dirname "$(find "$root" -name tessra-log.pc)")
if [ -n "$TOOLCHAIN" ]; then
    printf 'include("%s")\nlist(APPEND CMAKE_FIND_ROOT_PATH "%s")\n' "$TOOLCHAIN" "$root" >"$tmp/sysroot.cmake"
    quiet cmake -S "$app" -B "$tmp/cmake" -DCMAKE_TOOLCHAIN_FILE="$tmp/sysroot.cmake" -DCMAKE_PREFIX_PATH=/usr
    export PKG_CONFIG_SYSROOT_DIR="$root"
    # A 64-bit consumer (the host's compiler) must refuse the 32-bit package.
    ! env -u CXX -u CXXFLAGS cmake -S "$app" -B "$tmp/host" -DCMAKE_PREFIX_PATH="$root/usr" >"$tmp/out" 2>&1 || fail "host accepted it"
    grep -q '(32bit)' "$tmp/out" || { cat "$tmp/out" >&2; fail "no 32-bit refusal"; }
else
    quiet cmake -S "$app" -B "$tmp/cmake" -DCMAKE_PREFIX_PATH="$root/usr"
fi
quiet cmake --build "$tmp/cmake"
flags=$(PKG_CONFIG_LIBDIR=$pcdir pkg-config --static --cflags --libs tessra-log) || fail "pkg-config"
# shellcheck disable=SC2086 # CXXFLAGS and the flags are lists of words
quiet "$CXX" $CXXFLAGS -std=c++17 -Wall -Wextra -Werror "$app/main.cpp" "$app/early.cpp" $flags \
    -Wl,-rpath,"$pcdir/.." -o "$tmp/pkg-config" # the rpath: for a shared build's library

header='[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} [ 0-9]{7}[0-9]+   DBG  '
for program in "$tmp/cmake/log_consumer" "$tmp/pkg-config"; do
    rm -rf "$tmp/run" && mkdir "$tmp/run"
    echo app=DEBUG >"$tmp/run/log.conf"
    (cd "$tmp/run" && quiet "$@" "$program")
    log=$tmp/run/app.log
    [ "$(tr -d '\000' <"$log" | wc -c)" -eq "$(wc -c <"$log")" ] || fail "$program: NUL bytes in $log"
    records=$(grep -E "^$header" "$log" | sed -E "s|^$header||")
    [ "$records" = "$(printf 'from a static constructor 1\nfrom main 2')" ] || { cat "$log" >&2; fail "$program: records"; }
    echo "run_consumer: OK: $(basename "$program")"
done
