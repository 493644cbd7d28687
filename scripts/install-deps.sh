#!/usr/bin/env bash
# Installs the Debian packages cvfunc needs to build, test and benchmark.
# Idempotent: packages already present are left alone, and apt is only
# consulted when something is missing.
set -euo pipefail

# What building the tool and its module needs (`make demo`: --tool) ...
TOOL_PACKAGES=(
  build-essential cmake pkg-config
  libedit-dev libsndfile1-dev libpcre2-dev libssl-dev uuid-dev libxml2-dev
  libcairo2-dev fonts-dejavu-core
)
# ... and what the tests, their peers, the Python package and the benchmarks add.
PACKAGES=(
  "${TOOL_PACKAGES[@]}"
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  pybind11-dev python3-dev python3-numpy python3-scipy python3-pytest python3-matplotlib
  python3-pandas python3-dask python3-distributed python3-xarray
  python3-pip python3-setuptools python3-wheel python3-venv
  ngspice sox time
  clang libclang-rt-14-dev
  libxml2-utils python3-scikit-rf python3-sympy python3-html5lib chromium
)
if [ "${1:-}" = "--tool" ]; then
  PACKAGES=("${TOOL_PACKAGES[@]}")
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
