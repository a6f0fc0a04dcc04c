# Shared by the scripts of this directory (sourced, not run): the Debian
# packages each kind of build needs, their installation, and the one way a
# build directory is configured.

# Building TESK, the program alone (the classic dialogue and the command
# line through GDAL and CLI11).
TESK_BUILD_PACKAGES=(g++ cmake ninja-build pkg-config libgdal-dev libcli11-dev)
# What the tests add: GoogleTest, GDAL's tools (the tests draw and burn
# contour lines with gdal_contour and gdal_rasterize); the Python package and
# its tests (pytest, GDAL's Python bindings, xarray and rioxarray for
# georeferenced arrays, dask and dask.distributed for arrays in blocks,
# matplotlib for the README's example, and what pip's offline build in a
# virtual environment needs); QGIS and its Python for the Processing
# plugin's tests (qgis_process and PyQGIS, headless).
TESK_TEST_PACKAGES=(libgtest-dev gdal-bin
  python3-dev python3-numpy pybind11-dev python3-pytest python3-gdal python3-matplotlib python3-xarray
  python3-rioxarray python3-dask python3-distributed python3-venv python3-pip python3-setuptools python3-wheel
  qgis python3-qgis)
# What the benchmark adds.
TESK_BENCH_PACKAGES=(libbenchmark-dev)

# Installs, with apt-get, those of the named Debian packages that are
# missing.  Needs root (or sudo) only when something is missing.
tesk_install_deps() {
  local missing=()
  for p in "$@"; do
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

# tesk_configure DIR TYPE [-DNAME=VALUE...]
# Configures the build directory DIR (Ninja, CMAKE_BUILD_TYPE=TYPE).  Every
# optional part and instrumentation is off unless an extra option turns it
# on, whatever an earlier run left in DIR's cache.  The compiler comes from
# CC and CXX as usual.  Prints only CMake's warnings and errors.
tesk_configure() {
  local dir=$1 type=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" \
    -DTESK_BUILD_TESTS=OFF -DTESK_BUILD_BENCH=OFF \
    -DTESK_WITH_GDAL=ON -DTESK_SANITIZE=OFF -DTESK_TSAN=OFF -DTESK_CPU_KERNELS=ON -DTESK_PYTHON=OFF -DTESK_FAULT_INJECTION=OFF "$@" > /dev/null
}
