#!/usr/bin/env bash
# Runs every test: the C++ suite (GoogleTest, built with ASan and UBSan) and the
# Python suite (pytest against the installed package). Installs what is missing.
# CMAKE_BUILD_PARALLEL_LEVEL caps the jobs of both builds and of ctest (default:
# every core).
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
need_apt=()
[ -f /usr/include/gtest/gtest.h ] || need_apt+=(libgtest-dev)
command -v ccache >/dev/null 2>&1 || need_apt+=(ccache)
if [ ${#need_apt[@]} -gt 0 ] && command -v apt-get >/dev/null 2>&1; then
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq "${need_apt[@]}" >/dev/null || true
fi

export PIP_ROOT_USER_ACTION=ignore
PY="${PYTHON:-python3}"
"$PY" -m pip install -q --disable-pip-version-check \
    "scikit-build-core>=0.10" "nanobind>=2" cmake ninja pytest hypothesis numpy

JOBS="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}"
# The package build (scikit-build-core) reads it from the environment.
export CMAKE_BUILD_PARALLEL_LEVEL="$JOBS"

echo "== C++ tests (sanitized)"
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DQUORVEL_PYTHON=OFF -DQUORVEL_TESTS=ON -DQUORVEL_SANITIZE=ON >/dev/null
cmake --build build/test -j "$JOBS"
ctest --test-dir build/test --output-on-failure -j "$JOBS"

echo "== Python tests"
"$PY" -m pip install -q --disable-pip-version-check --no-build-isolation \
    -Cbuild-dir=build/py .
# Run from outside the source tree so the installed package is imported.
(cd tests/python && "$PY" -m pytest -q -p no:cacheprovider .)
