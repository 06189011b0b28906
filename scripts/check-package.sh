#!/usr/bin/env bash
# Checks the packages as a station gets them, from build directories whose
# programs are already built (nothing is compiled here):
#
#   scripts/check-package.sh deb [BUILD_DIR]   (default build/release)
#     makes the .deb, has lintian check it (any error or warning fails), and
#     unpacks it into a scratch root (dpkg -x), then checks its control data
#     and dependencies (satisfiable: apt-get --simulate), the changelog's
#     version against the package's, the
#     installed unit (systemd-analyze verify without a word of complaint, and
#     systemd-analyze security --offline with an exposure of 2.5 or less, also
#     with the watchdog board's drop-in), the sysusers.d and tmpfiles.d
#     entries (applied to the scratch root), the man pages (groff, no
#     warnings), and that the installed programs answer --version.
#   scripts/check-package.sh zip [BUILD_DIR]   (default build/mingw-x86_64)
#     makes the Windows zip and checks what it holds.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly kMaxExposure=2.5
what=${1:-deb}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "check-package: $*" >&2
    exit 1
}

make_package() {
    local build=$1 generator=$2
    [[ -f "$build/CPackConfig.cmake" ]] || fail "$build is not a configured build directory"
    cpack --config "$build/CPackConfig.cmake" -G "$generator" -B "$scratch/out" >/dev/null
}

check_deb() {
    local build=${1:-build/release}
    make_package "$build" DEB
    local deb
    deb=$(ls "$scratch"/out/quorvane_*.deb)
    local root="$scratch/root"
    dpkg -x "$deb" "$root"
    dpkg-deb -e "$deb" "$root/DEBIAN"

    echo "-- lintian"
    # --info explains every tag it reports; its note that it runs as root is
    # not about the package.
    local report status=0
    report=$(lintian --info --fail-on error,warning "$deb" 2>&1) || status=$?
    report=$(sed '/^running with root privileges is not recommended!$/d' <<<"$report")
    [[ -z "$report" ]] || echo "$report"
    ((status == 0)) || fail "lintian finds errors or warnings (status $status)"
    echo "lintian: no errors, no warnings"

    echo "-- control"
    [[ $(dpkg-deb -f "$deb" Package) == quorvane ]] || fail "package name"
    [[ $(dpkg-deb -f "$deb" Version) == 1.3 ]] || fail "version"
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    for library in libc6 libstdc++6 libqt6widgets6; do
        [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library"
    done
    [[ $(cat "$root/DEBIAN/conffiles") == /etc/quorvane/Quorvane.ini ]] || fail "conffiles"
    for script in postinst prerm postrm; do
        sh -n "$root/DEBIAN/$script" || fail "$script"
    done
    apt-get install --simulate --no-install-recommends -qq "$deb" >/dev/null ||
        fail "the dependencies cannot be satisfied here"
    local logged
    logged=$(zcat "$root/usr/share/doc/quorvane/changelog.gz" | dpkg-parsechangelog -l - -S Version)
    [[ "$logged" == "$(dpkg-deb -f "$deb" Version)" ]] ||
        fail "the changelog's last entry is $logged, not the package's version"

    echo "-- files"
    for file in usr/bin/quorvane usr/bin/quorvane-cli usr/bin/quorvane-sim \
        usr/lib/systemd/system/quorvane.service usr/lib/sysusers.d/quorvane.conf \
        usr/lib/tmpfiles.d/quorvane.conf etc/quorvane/Quorvane.ini \
        usr/share/man/man1/quorvane.1.gz usr/share/man/man1/quorvane-cli.1.gz \
        usr/share/man/man1/quorvane-sim.1.gz usr/share/man/man5/Quorvane.ini.5.gz \
        usr/share/doc/quorvane/copyright usr/share/doc/quorvane/changelog.gz \
        usr/share/doc/quorvane/README.md usr/share/doc/quorvane/examples/99-quorvane-serial.rules \
        usr/share/doc/quorvane/examples/watchdog-board.conf; do
        [[ -e "$root/$file" ]] || fail "missing /$file"
    done
    # The operating instructions, where Help > Operating Instructions looks
    # when the working directory has none.
    local help=usr/share/doc/quorvane/QuorvaneHelpV1.3.doc
    [[ $(head -c 6 "$root/$help") == '{\rtf1' ]] || fail "/$help is not a Rich Text document"
    grep -q "Operating Instructions" "$root/$help" || fail "/$help has no title"
    for program in quorvane quorvane-cli quorvane-sim; do
        local line
        line=$("$root/usr/bin/$program" --version | head -n 1)
        echo "$line"
        [[ "$line" == "$program 1.3 (commit "*")" ]] || fail "$program --version"
    done
    # The package is built with the MQTT library, and says so.
    "$root/usr/bin/quorvane-cli" --version | grep -qx "Publishing to MQTT brokers: libmosquitto .*" ||
        fail "quorvane-cli --version does not name the MQTT library"

    echo "-- man pages"
    for page in "$root"/usr/share/man/man?/*; do
        local warnings
        warnings=$(zcat "$page" | LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 2>&1)
        [[ -z "$warnings" ]] || fail "$page: $warnings"
    done

    echo "-- users and directories"
    systemd-sysusers --root="$root" quorvane.conf
    grep -q '^quorvane:x:[0-9]*:[0-9]*:Quorvane serial data logger:/var/lib/quorvane:' \
        "$root/etc/passwd" || fail "no quorvane user"
    grep -Eq '^dialout:x:[0-9]+:(.*,)?quorvane(,.*)?$' "$root/etc/group" ||
        fail "quorvane is not in dialout"
    systemd-tmpfiles --root="$root" --create quorvane.conf
    local uid
    uid=$(awk -F: '$1 == "quorvane" { print $3 }' "$root/etc/passwd")
    [[ $(stat -c %u "$root/var/lib/quorvane/data") == "$uid" ]] || fail "data directory owner"

    echo "-- unit"
    # The unit needs the host's own units (targets) beside it in the root.
    cp -an /lib/systemd/system/. "$root/usr/lib/systemd/system/"
    local complaints
    complaints=$(MANPATH="$root/usr/share/man" \
        systemd-analyze verify --root="$root" quorvane.service 2>&1) ||
        fail "systemd-analyze verify: $complaints"
    [[ -z "$complaints" ]] || fail "systemd-analyze verify: $complaints"
    check_exposure "$root" "the unit"
    mkdir -p "$root/etc/systemd/system/quorvane.service.d"
    cp "$root/usr/share/doc/quorvane/examples/watchdog-board.conf" \
        "$root/etc/systemd/system/quorvane.service.d/"
    complaints=$(MANPATH="$root/usr/share/man" \
        systemd-analyze verify --root="$root" quorvane.service 2>&1) ||
        fail "systemd-analyze verify with the drop-in: $complaints"
    [[ -z "$complaints" ]] || fail "systemd-analyze verify with the drop-in: $complaints"
    check_exposure "$root" "with the watchdog board's drop-in"
    echo "package checked: $(basename "$deb")"
}

check_exposure() {
    local root=$1 what=$2 report exposure
    report=$(systemd-analyze security --offline=true --root="$root" --no-pager quorvane.service 2>&1)
    exposure=$(sed -n 's/.*Overall exposure level for quorvane.service: \([0-9.]*\).*/\1/p' <<<"$report")
    [[ -n "$exposure" ]] || fail "systemd-analyze security: $report"
    echo "exposure ($what): $exposure"
    awk -v e="$exposure" -v max="$kMaxExposure" 'BEGIN { exit !(e <= max) }' ||
        fail "exposure $exposure is above $kMaxExposure: $report"
}

check_zip() {
    local build=${1:-build/mingw-x86_64}
    make_package "$build" ZIP
    local zip
    zip=$(ls "$scratch"/out/quorvane-*.zip)
    local listing
    listing=$(cmake -E tar tf "$zip")
    for file in quorvane-cli.exe Quorvane.ini README.md QuorvaneHelpV1.3.doc; do
        grep -q "/$file\$" <<<"$listing" || fail "the zip lacks $file"
    done
    echo "$listing"
    echo "package checked: $(basename "$zip")"
}

case "$what" in
    deb) check_deb "${2:-}" ;;
    zip) check_zip "${2:-}" ;;
    *) fail "usage: scripts/check-package.sh deb|zip [BUILD_DIR]" ;;
esac
