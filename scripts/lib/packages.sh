# Installs the Debian packages that building, running and testing TallyDesk need, only when one
# is missing. Sourced by scripts/run.sh and scripts/test.sh.
#
#   tally_ensure_packages [extra-package...]
#
# Asks dpkg first, so it costs a fraction of a second when everything is there; `apt-get update`
# runs only when something has to be installed. Never prompts (CI runs without stdin).

TALLY_PACKAGES=(
    g++-mingw-w64-x86-64-posix
    wine
    wine64
    fonts-wine
    xvfb
    xdotool
    imagemagick
    cmake
    ninja-build
    g++
    googletest
    libgtest-dev
    libbenchmark-dev
    clang
    clang-format-16
    slapd
    ldap-utils
    libldap-dev
    openssl
    python3
    chromium
    dpkg-dev
    lintian
    unzip
    man-db
)

tally_missing_packages() {
    local pkg status
    for pkg in "$@"; do
        status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
        if [[ $status != "install ok installed" ]]; then
            echo "$pkg"
        fi
    done
}

tally_as_root() {
    if [[ $(id -u) -eq 0 ]]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo -n "$@" || {
            echo "error: installing packages needs root; run as root or set up sudo" >&2
            return 1
        }
    else
        echo "error: installing packages needs root and sudo is not available" >&2
        return 1
    fi
}

tally_ensure_packages() {
    if ! command -v dpkg-query >/dev/null 2>&1; then
        echo "error: this machine has no dpkg; install the packages listed in" \
            "scripts/lib/packages.sh by hand" >&2
        return 1
    fi
    local missing
    mapfile -t missing < <(tally_missing_packages "${TALLY_PACKAGES[@]}" "$@")
    if [[ ${#missing[@]} -eq 0 ]]; then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    tally_as_root apt-get update -qq || return 1
    tally_as_root apt-get install -y -qq "${missing[@]}" </dev/null || return 1
}
