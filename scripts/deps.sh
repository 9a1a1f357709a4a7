# Installs the Debian packages named, only those missing. Sourced by scripts/run and scripts/test.
polyvant_install() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# What building the program needs.
POLYVANT_BUILD_PACKAGES=(
    build-essential cmake ninja-build ccache pkg-config
    qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev libglu1-mesa-dev libfast-float-dev
)
# What running it needs beyond that (Mesa's drivers, an X server for headless use).
POLYVANT_RUN_PACKAGES=(libgl1-mesa-dri qt6-qpa-plugins)
# What the tests need.
POLYVANT_TEST_PACKAGES=(
    libgtest-dev libgmock-dev googletest xvfb xauth libgl1-mesa-dri qt6-qpa-plugins
)
# What the benchmarks need (cmake -DPOLYVANT_BUILD_BENCH=ON); OpenMesh is only the peer
# the topology benchmark compares against.
POLYVANT_BENCH_PACKAGES=(libbenchmark-dev libopenmesh-dev)
