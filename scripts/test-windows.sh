#!/usr/bin/env bash
# Builds the 32-bit Windows console program with MinGW-w64 and tests it under
# Wine: the unit tests as a Windows program, then the end-to-end suite (a
# native program) driving quillor-install.exe.  Installs what a fresh Debian
# machine lacks when run as root, and uses a fresh 32-bit Wine prefix inside
# the build folder, so nothing outside the checkout is touched.
#
#   BUILD      native build folder (e2e_tests), default build
#   BUILD_WIN  cross build folder, default build-win
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
BUILD=${BUILD:-build}
BUILD_WIN=${BUILD_WIN:-build-win}
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
CROSS_CXX=i686-w64-mingw32-g++-posix
OBJDUMP=i686-w64-mingw32-objdump

say() { printf '\n== %s\n' "$*"; }

# ---- what the machine needs ----

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

install_missing() {
  local need=()
  command -v "$CROSS_CXX" >/dev/null || need+=(g++-mingw-w64-i686)
  command -v wine >/dev/null || need+=(wine)
  installed wine32:i386 || need+=(wine32:i386)
  [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
  [ ${#need[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${need[*]} (run as root, or install them with apt-get" \
         "after 'dpkg --add-architecture i386')" >&2
    exit 1
  fi
  say "installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
}

scripts/install-deps.sh
install_missing

# ---- builds ----

say "native build ($BUILD): the end-to-end driver"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target e2e_tests

say "cross build ($BUILD_WIN): quillor-install.exe and unit_tests.exe"
cmake -S . -B "$BUILD_WIN" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$BUILD_WIN" -j "$JOBS"
exe="$top/$BUILD_WIN/quillor-install.exe"
unit="$top/$BUILD_WIN/tests/unit_tests.exe"
helper="$top/$BUILD_WIN/tests/win_helper.exe"

# A 32-bit PE console program that needs no DLL beyond Windows' own.
check_pe() {
  local dump dlls bad
  dump=$("$OBJDUMP" -p "$1")
  grep -Eq '^Magic[[:space:]]+010b' <<<"$dump" || { echo "$1: not PE32" >&2; exit 1; }
  grep -Eq '^Subsystem[[:space:]]+0+3[[:space:]]' <<<"$dump" || { echo "$1: not a console program" >&2; exit 1; }
  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr -d '\r')
  bad=$(grep -Eiv '^(kernel32|msvcrt|advapi32|user32|ntdll)\.dll$' <<<"$dlls" || true)
  if [ -n "$bad" ]; then
    echo "$1 needs DLLs that Windows does not have: $bad" >&2
    exit 1
  fi
  echo "$(basename "$1"): PE32 console program; imports $(echo $dlls)"
}
say "checking the executables"
check_pe "$exe"
check_pe "$unit"
check_pe "$helper"

# ---- a fresh 32-bit Wine prefix ----

export WINEPREFIX="$top/$BUILD_WIN/wine-prefix"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="  # no Mono or Gecko install dialogs
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
say "creating the Wine prefix $WINEPREFIX"
wineserver -p  # stays up between the many short runs below
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineboot -i >/dev/null 2>&1

# The computer name as the prefix's registry holds it: what the installer
# must offer as the default host name.
key='HKLM\System\CurrentControlSet\Control\ComputerName\ComputerName'
name=$(wine reg query "$key" /v ComputerName 2>/dev/null | tr -d '\r' |
       awk '$1 == "ComputerName" && $2 == "REG_SZ" { print $3 }')
[ -n "$name" ] || { echo "cannot read the computer name from the Wine registry" >&2; exit 1; }
echo "registry computer name: $name"
export QUILLOR_TEST_COMPUTERNAME="$name" QUILLOR_E2E_COMPUTERNAME="$name"

# ---- unit tests, as a Windows program ----

# Rooted paths name the root of the current drive: the unit tests get a
# drive of their own, T:, mapped to an empty folder.
drive_dir="$top/$BUILD_WIN/wine-unit-drive"
rm -rf "$drive_dir"
mkdir -p "$drive_dir"
ln -s "$drive_dir" "$WINEPREFIX/dosdevices/t:"
say "unit tests under Wine"
QUILLOR_TEST_DRIVE=T: wine "$unit" --gtest_brief=1 </dev/null

# ---- end-to-end suite against the .exe ----

say "end-to-end tests under Wine"
QUILLOR_E2E_BINARY="$exe" QUILLOR_E2E_RUNNER=wine QUILLOR_E2E_WINE_DOSDEVICES="$WINEPREFIX/dosdevices" \
  QUILLOR_E2E_WIN_HELPER="$top/$BUILD_WIN/tests/win_helper.exe" \
  "$top/$BUILD/tests/e2e_tests" --gtest_brief=1 </dev/null

say "Windows tests passed"
