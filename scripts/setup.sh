#!/usr/bin/env bash
# Prepares a machine for building and testing orvek_core, idempotently:
#   1. the Debian packages the build needs (installed when run as root, otherwise the
#      exact command is printed);
#   2. a CPython >= 3.12, found by probing PATH and then pyenv's installs;
#   3. .venv/ at the repository root with the development requirements;
#   4. the module built and installed into .venv (incremental when nothing changed).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# ---- 1. Debian packages ------------------------------------------------------------
packages=(g++ make git libgtest-dev libbenchmark-dev clang-14 libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  if [ "$(id -u)" = 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "setup: missing Debian packages; run: sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
fi

# ---- 2. a CPython >= 3.12 ------------------------------------------------------------
good_python() { "$1" -c 'import sys, venv; sys.exit(0 if sys.version_info >= (3, 12) else 1)' >/dev/null 2>&1; }
find_python() {
  local candidate
  for candidate in python3.13 python3.12 python3 python; do
    if command -v "$candidate" >/dev/null && good_python "$(command -v "$candidate")"; then
      command -v "$candidate"; return 0
    fi
  done
  local pyenv_root
  pyenv_root=$( (command -v pyenv >/dev/null && pyenv root) || echo "${PYENV_ROOT:-$HOME/.pyenv}")
  for candidate in $(ls -d "$pyenv_root"/versions/3.1[2-9]*/bin/python3 2>/dev/null | sort -V -r); do
    if good_python "$candidate"; then echo "$candidate"; return 0; fi
  done
  return 1
}

venv="$root/.venv"
if [ ! -x "$venv/bin/python" ] || ! good_python "$venv/bin/python"; then
  python=$(find_python) || { echo "setup: no CPython >= 3.12 found on PATH or in pyenv" >&2; exit 1; }
  echo "setup: creating .venv with $python"
  rm -rf "$venv"
  "$python" -m venv "$venv"
fi

# ---- 3. development requirements ---------------------------------------------------
stamp="$venv/.requirements.sha256"
want=$(sha256sum requirements-dev.txt | cut -d' ' -f1)
if [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
  echo "setup: installing development requirements"
  "$venv/bin/python" -m pip install -q --disable-pip-version-check --upgrade pip
  "$venv/bin/python" -m pip install -q --disable-pip-version-check -r requirements-dev.txt
  echo "$want" > "$stamp"
fi

# ---- 4. the module ---------------------------------------------------------------------
# Built in place with the tools of .venv (no isolated build environment to download);
# build/wheel keeps the CMake tree so that a rebuild only compiles what changed.
"$venv/bin/python" -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps \
  -Cbuild-dir=build/wheel "$root"
