# Shell code shared by the scripts: sourced, never run.
# shellcheck shell=bash

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The newest pyenv interpreter of a minor version ("3.12"), or nothing when there is none.
pyenv_python() {
    ls -d "$(pyenv root)"/versions/"$1".*/bin/python3 2>/dev/null | sort -V | tail -n 1 || true
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
    cmake --build "$repo/build-asan-$minor" --target vornu_core -j 2
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
