#!/bin/sh
# run_consumer.sh BUILD|ROOT [EMULATOR...], with CXX, CXXFLAGS (a checking
# build's sanitizer, which its instrumented library needs) and TOOLCHAIN (the
# cross toolchain file, or empty) in the environment.
# Stages BUILD's install as a DESTDIR tree (or takes ROOT, an unpacked
# package), and builds the README's library example, its C++ and CMake blocks
# as they stand, against it: with CMake (natively as a prefix, cross as a
# sysroot) and with pkg-config, with the application's own flags only. Runs
# each build in scripts/jail, whose /var/log/tessra and /config/tessra are the
# example's, and checks its records. Exit status 77: built, not run (no root).
set -eu
source=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "run_consumer: FAIL: $*" >&2; exit 1; }
quiet() { "$@" >"$tmp/out" 2>&1 || { cat "$tmp/out" >&2; fail "$*"; }; }
# The README's one fenced block of this language.
block() { awk -v open="\`\`\`$1" '$0 == open { inside = 1; next } /^```$/ { inside = 0 } inside' "$source/README.md"; }

root=$1
shift
if [ -f "$root/CMakeCache.txt" ]; then
    quiet env DESTDIR="$tmp/root" cmake --install "$root" --prefix /usr
    root=$tmp/root
fi
app=$tmp/app
mkdir "$app"
block cpp >"$app/app.cpp"
block cmake >"$app/CMakeLists.txt"
pcdir=$(dirname "$(find "$root" -name tessra-log.pc)")
if [ -n "$TOOLCHAIN" ]; then
    # The unit's applications keep 32-bit time_t: the library asks nothing of them.
    printf '#include <ctime>\n#include <tessra/log/log.h>\nstatic_assert(sizeof(time_t) == 4, "32-bit time_t");\n' \
        >"$app/time_bits.cpp"
    printf 'add_library(time_bits OBJECT time_bits.cpp)\ntarget_link_libraries(time_bits PRIVATE TessraLog::log)\n' \
        >>"$app/CMakeLists.txt"
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
mkdir "$tmp/bin"
mv "$tmp/cmake/myapp" "$tmp/bin/myapp-cmake"
flags=$(PKG_CONFIG_LIBDIR=$pcdir pkg-config --static --cflags --libs tessra-log) || fail "pkg-config"
cd "$app"
# shellcheck disable=SC2086 # the flags are a list of words
quiet "$CXX" ${CXXFLAGS:-} -std=c++17 -Wall -Wextra -Werror app.cpp $flags -Wl,-rpath,"$pcdir/.." -o "$tmp/bin/myapp-pkg-config"
[ ! -f time_bits.cpp ] || quiet "$CXX" -std=c++17 $flags -c time_bits.cpp -o "$tmp/time_bits.o"
echo "run_consumer: OK: built with CMake and pkg-config"
[ "$(id -u)" -eq 0 ] || { echo "run_consumer: not run: scripts/jail needs root"; exit 77; }

header='[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} [ 0-9]{7}[0-9]+ '
expected=$(printf ' INFO  started, version 3\n  DBG  sent 5 bytes\n  [ 02 05 00 07 11')
for program in myapp-cmake myapp-pkg-config; do
    rm -rf "$tmp/jail" && mkdir -p "$tmp/jail/config/tessra"
    echo myapp=DEBUG >"$tmp/jail/config/tessra/myapp.conf"
    quiet "$source/scripts/jail" "$tmp/jail" --bind "$tmp/bin" -- "$@" "$tmp/bin/$program"
    log=$tmp/jail/var/log/tessra/myapp.log
    records=$(grep -v -e '^$' -e '^YYYY' -e '^---' "$log" | sed -E "s|^$header||; s| *]\$||") || true
    [ "$records" = "$expected" ] || { cat "$log" >&2; fail "$program: records"; }
    echo "run_consumer: OK: $program"
done
