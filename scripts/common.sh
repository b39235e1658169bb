# Shared set-up of scripts/run and scripts/test: the Debian packages the
# build and the tests need, installed when missing.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}"
export CCACHE_NOHASHDIR=1
# Paths relative to the checkout, so that other checkouts share the cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}"
JOBS="$(nproc)"

BUILD_PACKAGES=(cmake ninja-build g++ ccache pkg-config
  qt6-base-dev qt6-multimedia-dev libgl-dev
  libxcb1-dev libxcb-res0-dev libatspi2.0-dev libcpp-httplib-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  fonts-liberation)
TEST_PACKAGES=(clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils dbus dbus-x11 at-spi2-core pulseaudio pulseaudio-utils
  poppler-utils iputils-ping iproute2 procps python3 locales openbox xdotool
  lintian desktop-file-utils appstream dpkg-dev libcap2-bin prometheus curl
  cups cups-client cups-bsd)

ensure_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Tarvik needs these Debian packages. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure DIR [cmake args...]: configures a Ninja build tree once; later
# calls leave an existing tree alone so that nothing is rebuilt needlessly.
configure() {
  local dir="$1"; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@"
  fi
}
