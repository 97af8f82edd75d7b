# Sourced by the other scripts: makes sure the Debian packages that building,
# running and testing Lurko need are installed.
#
#   ensure_packages PACKAGE...   installs the missing ones with apt-get when
#                                running as root; otherwise prints the exact
#                                apt-get line to run and exits.

# What the build needs (compiler, CMake, wide-character curses) and what the
# tests need (GoogleTest, libvterm for the terminal tests, real Procmail, mutt
# and a shell to run the mail client).
build_packages="g++ cmake make pkg-config libncurses-dev libsystemd-dev"
test_packages="googletest libgtest-dev libvterm-dev procmail mutt python3 locales dbus-daemon"
# The second compiler and the linter and formatter that CI runs.
lint_packages="clang clang-tidy clang-format"
# What checking the manual page and the Debian package needs.
package_packages="dpkg-dev groff-base man-db lintian"
# The cross compiler for s390x and the emulator that runs its programs, for
# the big-endian run of the log's tests (scripts/cross-test.sh).
cross_packages="crossbuild-essential-s390x qemu-user"

# A locale that is not UTF-8, in which the tests show decoded subjects too.
ensure_latin1_locale() {
    locale -a 2>/dev/null | grep -qi '^en_US\.iso88591$' && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "A test skips without an ISO-8859-1 locale; as root: localedef -i en_US -f ISO-8859-1 en_US.ISO-8859-1" >&2
        return 0
    fi
    localedef -i en_US -f ISO-8859-1 en_US.ISO-8859-1
}

ensure_packages() {
    missing=""
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $package"
        fi
    done
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "Lurko needs these Debian packages. Install them as root with:" >&2
        echo "  apt-get update && apt-get install -y$missing" >&2
        exit 1
    fi
    echo "Installing:$missing" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086 # one word per package
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
}
