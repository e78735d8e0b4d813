#!/bin/sh
# Checks a built Debian package of Ombrelo: its files pass the desktop, AppStream and Debian
# validators; then it is installed on this machine, both programs run from their installed
# paths, it is removed again and nothing of it may be left behind.
#   packaging/check-package.sh DEB SAMPLE_HOME
# SAMPLE_HOME is a made-up home folder that the installed ombrelo-cli scans (read-only). The
# programs run with a scratch HOME and a cleared environment, so nothing of the real user's
# home, Trash or desktop session is touched.
# Installing needs root (or sudo without a password) and apt-get. A machine without them fails
# the check, unless OMBRELO_SKIP_PACKAGE_INSTALL=1 is set: then the install, run and removal
# steps are reported as skipped.
set -eu

if [ $# -ne 2 ]; then
    echo "Usage: packaging/check-package.sh DEB SAMPLE_HOME" >&2
    exit 2
fi
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
sample=$2
id=io.github.ombrelo.Ombrelo
package=$(dpkg-deb -f "$deb" Package)
version=$(dpkg-deb -f "$deb" Version)

scratch=$(mktemp -d)
chmod 755 "$scratch"
failures=0
installed=0
sudo_cmd=""

fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# Whether dpkg has any trace of the package: installed, half-installed or configuration left.
present() {
    case "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" in
    "" | *not-installed) return 1 ;;
    *) return 0 ;;
    esac
}

apt() {
    $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=300 "$@"
}

finish() {
    # A check that stops half-way must not leave the package on the machine.
    if [ "$installed" -eq 1 ]; then
        apt remove "$package" >/dev/null 2>&1 || true
    fi
    rm -rf "$scratch"
}
trap finish EXIT
trap 'exit 130' INT TERM

echo "== Package $package $version: files"
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
for path in usr/bin/ombrelo usr/bin/ombrelo-cli \
    "usr/share/applications/$id.desktop" "usr/share/metainfo/$id.metainfo.xml" \
    "usr/share/icons/hicolor/scalable/apps/$id.svg" \
    "usr/share/icons/hicolor/48x48/apps/$id.png" "usr/share/icons/hicolor/256x256/apps/$id.png" \
    usr/share/man/man1/ombrelo.1.gz usr/share/man/man1/ombrelo-cli.1.gz \
    usr/share/bash-completion/completions/ombrelo-cli usr/share/zsh/vendor-completions/_ombrelo-cli \
    usr/share/doc/ombrelo/copyright usr/share/doc/ombrelo/changelog.gz; do
    [ -s "$root/$path" ] || fail "the package has no /$path"
done
bash -n "$root/usr/share/bash-completion/completions/ombrelo-cli" ||
    fail "the bash completion is not valid bash"

echo "== desktop-file-validate"
desktop-file-validate "$root/usr/share/applications/$id.desktop" ||
    fail "desktop-file-validate found errors"

echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net --strict "$root/usr/share/metainfo/$id.metainfo.xml" ||
    fail "appstreamcli validate found problems"
# validate-tree also checks that the metainfo, the desktop entry and the icons name each other.
echo "== appstreamcli validate-tree --no-net"
appstreamcli validate-tree --no-net --strict "$root" || fail "appstreamcli validate-tree found problems"

echo "== lintian"
lintian --fail-on error,warning --display-info "$deb" || fail "lintian found errors or warnings"

echo "== Install, run and remove"
can_install=1
if ! command -v apt-get >/dev/null 2>&1; then
    why="apt-get is not available"
    can_install=0
elif [ "$(id -u)" -ne 0 ]; then
    if sudo -n true 2>/dev/null; then
        sudo_cmd="sudo -n"
    else
        why="installing needs root or sudo without a password"
        can_install=0
    fi
fi
if [ "$can_install" -eq 0 ]; then
    if [ "${OMBRELO_SKIP_PACKAGE_INSTALL:-}" = 1 ]; then
        echo "SKIPPED (OMBRELO_SKIP_PACKAGE_INSTALL=1): installing, running and removing the" \
            "package; $why."
    else
        fail "cannot install the package: $why. Run as root, or set" \
            "OMBRELO_SKIP_PACKAGE_INSTALL=1 to check only its files."
    fi
elif present "$package"; then
    # Someone's own installation is theirs: the check does not replace or remove it.
    fail "$package is already installed on this machine; remove it (apt-get remove" \
        "$package) to let the check install and remove its own build."
else
    apt install --no-install-recommends "$deb" >"$scratch/install.log" 2>&1 || {
        cat "$scratch/install.log" >&2
        fail "apt-get install $deb failed"
    }
    if present "$package"; then
        installed=1
    fi
fi

if [ "$installed" -eq 1 ]; then
    dpkg -L "$package" >"$scratch/files"
    mkdir -p "$scratch/user/tmp" "$scratch/runtime"
    # Qt insists on a private runtime folder, as a login session has.
    chmod 700 "$scratch/runtime"
    # A cleared environment with a scratch home: no display, no session bus, no real Trash.
    run() {
        env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$scratch/user" TMPDIR="$scratch/user/tmp" \
            XDG_CONFIG_HOME="$scratch/user/.config" XDG_DATA_HOME="$scratch/user/.local/share" \
            XDG_CACHE_HOME="$scratch/user/.cache" XDG_RUNTIME_DIR="$scratch/runtime" \
            QT_QPA_PLATFORM=offscreen "$@"
    }

    for program in ombrelo-cli ombrelo; do
        printed=$(run "/usr/bin/$program" --version 2>&1) || true
        [ "$printed" = "$program $version" ] ||
            fail "/usr/bin/$program --version printed '$printed', not '$program $version'"
    done

    echo "== /usr/bin/ombrelo-cli cleanup-scan --home $sample"
    status=0
    run /usr/bin/ombrelo-cli cleanup-scan --home "$sample" >"$scratch/scan.txt" 2>&1 || status=$?
    cat "$scratch/scan.txt"
    if [ "$status" -ne 0 ]; then
        fail "ombrelo-cli cleanup-scan exited with $status"
    elif ! grep -q "google-chrome" "$scratch/scan.txt"; then
        fail "ombrelo-cli cleanup-scan did not find the sample home's browser cache"
    fi

    echo "== /usr/bin/ombrelo, offscreen: its first screen"
    status=0
    run timeout 120 /usr/bin/ombrelo --screenshot "$scratch/first.png" || status=$?
    if [ "$status" -ne 0 ]; then
        fail "ombrelo --screenshot exited with $status"
    else
        python3 - "$scratch/first.png" <<'EOF' || fail "the window's first screen is not drawn"
import struct, sys, zlib

# A real screen is a PNG of a window's size with more than a handful of colours in it.
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
width, height = struct.unpack(">II", data[16:24])
pixels, at = b"", 8
while at < len(data):
    length, kind = struct.unpack(">I4s", data[at : at + 8])
    if kind == b"IDAT":
        pixels += data[at + 8 : at + 8 + length]
    at += 12 + length
distinct = len(set(zlib.decompress(pixels)))
print(f"first screen: {width}x{height}, {distinct} distinct byte values")
assert width >= 400 and height >= 300 and distinct > 32, "blank or tiny picture"
EOF
    fi

    echo "== apt-get remove $package"
    if apt remove "$package" >"$scratch/remove.log" 2>&1; then
        installed=0
    else
        cat "$scratch/remove.log" >&2
        fail "apt-get remove $package failed"
    fi
    if present "$package"; then
        fail "after removal dpkg still has $package as" \
            "'$(dpkg-query -W -f='${Status}' "$package")'"
    fi
    # Files must be gone; a folder may stay only while another package owns it or it holds
    # files that are not ours.
    left=0
    while IFS= read -r path; do
        [ "$path" = "/." ] && continue
        if [ -d "$path" ] && [ ! -L "$path" ]; then
            if ! dpkg -S "$path" >/dev/null 2>&1 && [ -z "$(ls -A "$path")" ]; then
                echo "left behind: empty folder $path" >&2
                left=$((left + 1))
            fi
        elif [ -e "$path" ] || [ -L "$path" ]; then
            echo "left behind: $path" >&2
            left=$((left + 1))
        fi
    done <"$scratch/files"
    [ "$left" -eq 0 ] || fail "$left paths of the package remain after apt-get remove"
fi

if [ "$failures" -ne 0 ]; then
    echo "The package check failed ($failures problems)."
    exit 1
fi
echo "The package check passed."
