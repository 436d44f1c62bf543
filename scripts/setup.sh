#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is
# missing. Safe to run again: it does nothing when all are present.
set -euo pipefail

packages=(cmake g++ make binutils libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
          python3 python3-matplotlib pkg-config
          python3-venv python3-setuptools python3-wheel python3-pip python3-mypy  # the Python package: a venv, pip, mypy
          python3-numpy python3-distributed python3-plotly chromium  # campaigns: Dask, the report, its test
          libjs-three  # the 3-D replay pages (guide-sim --replay) embed its three.js
          terser  # the report: plotly's script minified once per machine
          libzip-dev libpugixml-dev  # the FMU tests' importer: unzip, read the model description
          python3-attr python3-jinja2 python3-lark python3-lxml python3-msgpack python3-nbformat  # FMPy (ctest fmu_fmpy)
          clang-14 libclang-rt-14-dev  # the fuzz target: clang and its libFuzzer and sanitizer runtimes
          clang-format-14 black  # scripts/format.sh and the format_check test
          valgrind)  # bench/aircraft_overhead.py: instructions counted under callgrind

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
