# Installs, with apt-get, the Debian packages TESK needs that are missing.
# Sourced by the other scripts; needs root (or sudo) only when something is
# missing.
TESK_PACKAGES=(g++ cmake ninja-build pkg-config libgtest-dev libbenchmark-dev libcli11-dev libgdal-dev gdal-bin clang libclang-rt-14-dev)

tesk_install_deps() {
  local missing=()
  for p in "${TESK_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" < /dev/null
}
