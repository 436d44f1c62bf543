#!/usr/bin/env bash
# Rewrites what is generated from the record field list and the project
# version: the manual's field tables (docs/), python/guidew/_fields.py,
# python/guidew/_version.py and src/runtime/library_version.h (what
# GuideW_version returns). ctest's generated_files_current fails until this
# has been run after a change to src/common/record_fields.h or to the version.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GUIDE_BUILD_DIR:-$root/build}
"$root/scripts/build.sh" >/dev/null
"$build/tools/field-tables" --update "$root"
