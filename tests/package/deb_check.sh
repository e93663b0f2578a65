#!/usr/bin/env bash
# The Debian package from a build folder: made with cpack, its control fields
# and its files read with dpkg-deb, its programs run from the archive. As root
# on Debian it is also installed with apt-get, run from /usr/bin, and purged,
# together with anything the install pulled in, so the machine is left as it was.
#   tests/package/deb_check.sh BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: deb_check.sh BUILD_DIR}" && pwd)
out=$build/package
failed=0
fail() { echo "FAIL deb: $*"; failed=1; }

rm -f "$out"/tarnwick_*.deb
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out.log" 2>&1 || { tail -30 "$out.log"; exit 1; }
debs=("$out"/tarnwick_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL deb: cpack made no single tarnwick_*.deb"; exit 1; }
deb=${debs[0]}

# The package's version is the one the built program prints.
built_version=$("$build/src/app/cli/tarnwick-cli" --version)
version=${built_version#tarnwick-cli }
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tarnwick ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', tarnwick-cli says '$built_version'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ "$(field Section)" = video ] || fail "Section is '$(field Section)'"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer is '$(field Maintainer)'"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
for p in libqt6core6 libqt6gui6 libqt6widgets6 libjpeg62-turbo libudfread0 libstdc++6 libc6; do
  [[ ", $depends" == *", $p ("* ]] || fail "Depends lacks $p (with its least version): $depends"
done

# Exactly these files, and nothing outside /usr.
expected="./usr/bin/tarnwick
./usr/bin/tarnwick-cli
./usr/share/applications/tarnwick.desktop
./usr/share/icons/hicolor/128x128/apps/tarnwick.png
./usr/share/mime/packages/tarnwick.xml"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
[ "$files" = "$expected" ] || fail "files are:
$files"
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' && fail "paths outside /usr"

# The programs as packed: stripped, and they run.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
for exe in tarnwick tarnwick-cli; do
  readelf -S -W "$unpacked/usr/bin/$exe" | grep -E ' \.(symtab|debug_info) ' >/dev/null && fail "$exe is not stripped"
done
[ "$("$unpacked/usr/bin/tarnwick-cli" --version)" = "$built_version" ] || fail "the packed tarnwick-cli --version differs"
[ $failed -eq 0 ] && echo "ok   deb: $(basename "$deb"), $(stat -c %s "$deb") bytes; Depends: $depends"

if [ "$(id -u)" -ne 0 ] || [ ! -f /etc/debian_version ] || ! command -v apt-get >/dev/null; then
  echo "skip deb install: needs root on Debian"
  exit $failed
fi
if dpkg-query -W -f='${Status}' tarnwick 2>/dev/null | grep -q "ok installed"; then
  echo "skip deb install: a tarnwick package is installed already"
  exit $failed
fi

installed() { dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' | awk '$1 ~ /^.i/ {print $2}' | sort; }
before=$(installed)
added=""
cleanup() {
  added=$(comm -13 <(echo "$before") <(installed))
  if [ -n "$added" ] && ! DEBIAN_FRONTEND=noninteractive apt-get purge -y -q $added >"$out.purge.log" 2>&1; then
    tail -20 "$out.purge.log"
    fail "apt-get purge $added failed"
  fi
  rm -rf "$unpacked"
}
trap cleanup EXIT

if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >"$out.install.log" 2>&1; then
  tail -30 "$out.install.log"
  fail "apt-get install failed"
  exit 1
fi
[ "$(/usr/bin/tarnwick-cli --version)" = "$built_version" ] || fail "/usr/bin/tarnwick-cli --version says '$(/usr/bin/tarnwick-cli --version)'"
# The window keeps running until it is closed: still up after 3 s is a start.
rc=0
QT_QPA_PLATFORM=offscreen HOME=$unpacked XDG_CONFIG_HOME=$unpacked timeout 3 /usr/bin/tarnwick >"$out.window.log" 2>&1 || rc=$?
[ $rc -eq 124 ] || { cat "$out.window.log"; fail "/usr/bin/tarnwick ended with $rc within 3 s"; }
# dpkg's trigger has put the file types into the MIME database.
[ -f /usr/share/mime/video/x-hddvd-evo.xml ] && [ -f /usr/share/mime/application/x-hddvd-xpl.xml ] ||
  fail "the MIME database lacks video/x-hddvd-evo or application/x-hddvd-xpl"

cleanup
trap 'rm -rf "$unpacked"' EXIT
[ "$(installed)" = "$before" ] || fail "the purge left the installed packages changed: $(diff <(echo "$before") <(installed) | tr '\n' ' ')"
[ ! -e /usr/bin/tarnwick-cli ] && [ ! -e /usr/share/mime/video/x-hddvd-evo.xml ] || fail "files left after the purge"
[ $failed -eq 0 ] && echo "ok   deb install: installed with apt-get (then purged: $(echo $added)); /usr/bin/tarnwick-cli and tarnwick ran"
exit $failed
