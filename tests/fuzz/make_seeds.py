"""Writes the seed corpora of the fuzz targets into tests/fuzz/seeds/.

Run with a Python whose standard library should give the real pieces (the seeds in the
tree were made with 3.12): `python tests/fuzz/make_seeds.py`. The other seeds are the
shapes where a reader can go wrong: characters cut at the end of a 64-byte block or of a
piece, every white-space character, keywords across block edges, CRLF, a byte order mark,
bytes that never occur in UTF-8 and lone continuation bytes; for the parsers, control-group
files as Linux writes them; for the name collector, names made to share their ends or to
differ in one byte, at every probe bound.
"""

import shutil
import sysconfig
from pathlib import Path

SEEDS = Path(__file__).resolve().parent / "seeds"

# Small files of the standard library, or a window of a larger one around its first byte
# outside ASCII.
STDLIB_FILES = ["keyword.py", "this.py", "tty.py", "secrets.py", "fnmatch.py", "shlex.py", "re/_casefix.py"]
WINDOW = 1536

SPACES = [" ", "\t", "\n", "\v", "\f", "\r", "\u0085", "\u00a0", "\u1680", "\u2000", "\u2001", "\u2002",
          "\u2003", "\u2004", "\u2005", "\u2006", "\u2007", "\u2008", "\u2009", "\u200a", "\u2028",
          "\u2029", "\u202f", "\u205f", "\u3000"]
NEVER_UTF8 = [b"\xc0", b"\xc1"] + [bytes([b]) for b in range(0xF5, 0x100)]
CUT = [b"\xc3", b"\xe2\x82", b"\xf0\x9f\x98", b"\xe2\x80", b"\xe3\x80"]


def stdlib_pieces():
    stdlib = Path(sysconfig.get_path("stdlib"))
    for name in STDLIB_FILES:
        path = stdlib / name
        if not path.is_file():
            continue
        data = path.read_bytes()
        if len(data) > WINDOW:
            first = next((i for i, b in enumerate(data) if b >= 0x80), 0)
            start = data.rfind(b"\n", 0, max(first - WINDOW // 2, 0)) + 1
            data = data[start:start + WINDOW]
        yield "stdlib-" + name.replace("/", "-"), data


def text_shapes():
    pad = b"#" * 52
    yield "cut-at-64", b"import os\n" + pad + b"\n\xc3"
    yield "ff-at-64", b"import os\n" + pad + b"#\xff"
    yield "cut4-at-128", b"import os\n" + b"#" * 115 + b"\n" + b"\xf0\x9f\x98"
    for offset in (61, 62, 63, 64, 65):
        yield f"euro-across-{offset}", b"import a\n" + b"#" * (offset - 9) + "\u20ac\n".encode() + b"import b\n"
        yield f"import-at-{offset}", b"#" * (offset - 1) + b"\nimport edge.x\nfrom   y import z\n"
        yield f"from-at-{offset}", b"x = 1" + b" " * (offset - 6) + b"\nfrom edge import x\n"
    for i, cut in enumerate(CUT):
        yield f"cut-end-{i}", b"import a\n# " + cut
        yield f"cut-mid-{i}", b"import a\n# " + cut + b"\nimport b\n"
    for i, space in enumerate(SPACES):
        s = space.encode()
        yield f"space-{i}", s + b"import a" + s + b"as b\nfrom" + s + b"c import d\n" + b"import " + s + b"e\n"
    for byte in NEVER_UTF8:
        yield f"never-{byte.hex()}", b"import a\nx = '" + byte + b"'\n"
    yield "continuation", b"import a\n\x80\xbf import b\n"
    yield "overlong-surrogate", b"import a\n\xe0\x9f\xbf \xed\xa0\x80 \xf4\x90\x80\x80\n"
    yield "crlf", b"import os\r\nfrom sys import path\r\n  import json \r\n"
    yield "bom", b"\xef\xbb\xbfimport first\nimport second\n"
    yield "long-name", b"import " + b"n" * 300 + b".x\nimport " + b"m" * 200 + "\u2003as y\n".encode()
    yield "cut-words", b"im\nimpor\nfro\nimport\nfrom\n import\timport x\n"


def file_scan_headers():
    """(kernel, piece size, prefix) headers: each kernel, small pieces, pieces around 64."""
    for kernel in (0, 1, 2):
        for chunk in (1, 2, 3, 5, 7, 64, 65):
            yield bytes([kernel | 0x80, (chunk - 1) & 0xFF, (chunk - 1) >> 8, 0x80])
    yield bytes([0x40, 0xFF, 0xFF, 0xFF])  # the default piece size


def write(target, name, data):
    folder = SEEDS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def cgroup_shapes():
    v2_cgroup = b"0::/user.slice/user-1000.slice/session-3.scope\n"
    v1_cgroup = (b"12:pids:/docker/4f1c\n11:cpuset:/docker/4f1c\n4:cpu,cpuacct:/docker/4f1c\n"
                 b"3:memory:/docker/4f1c\n1:name=systemd:/docker/4f1c\n0::/\n")
    v2_mountinfo = (b"22 28 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
                    b"23 28 0:22 / /sys rw,nosuid,nodev,noexec,relatime shared:2 - sysfs sysfs rw\n"
                    b"28 1 252:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
                    b"30 23 0:26 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:4 - cgroup2 cgroup2 "
                    b"rw,nsdelegate,memory_recursiveprot\n")
    v1_mountinfo = (b"681 680 0:60 / /sys/fs/cgroup ro,nosuid - tmpfs tmpfs rw,mode=755\n"
                    b"684 681 0:31 /docker/4f1c /sys/fs/cgroup/cpu,cpuacct ro,nosuid,nodev,noexec,relatime "
                    b"master:12 - cgroup cgroup rw,cpu,cpuacct\n"
                    b"685 681 0:32 /docker/4f1c /sys/fs/cgroup/cpuset ro master:13 - cgroup cgroup rw,cpuset\n"
                    b"690 681 0:38 / /sys/fs/cgroup/unified\\040dir rw - cgroup2 cgroup2 rw\n")
    yield "cgroup-v2", v2_cgroup
    yield "cgroup-v1", v1_cgroup
    yield "mountinfo-v2", v2_mountinfo
    yield "mountinfo-v1", v1_mountinfo
    yield "cpu-max-none", b"max 100000\n"
    yield "cpu-max-2", b"200000 100000\n"
    yield "cpu-max-fraction", b"150000 100000\n"
    yield "cfs-none", b"-1\n\x00100000\n"
    yield "cfs-3", b"350000\n\x00100000\n"
    yield "counts", b"+007\x0018446744073709551615"
    yield "count-too-big", b"18446744073709551616\x00 4"
    # The whole lookup: cgroup, mountinfo, then the quota files (the first byte picks it).
    yield "lookup-v2", b"5:memory:/x\n0::/a\n\x00" + v2_mountinfo + b"\x00300000 100000\n\x00150000 100000\n"
    yield "lookup-v1", (b"5:memory:/x\n4:cpu,cpuacct:/docker/4f1c/a\n\x00" + v1_mountinfo
                        + b"\x00200000\n\x00100000\n")


def name_operations():
    """Inputs of the names target: a probe bound, then operations (see names_fuzz.cpp)."""
    def name(kind, text):
        text = text.encode()
        return bytes([kind << 5 | len(text)]) + text if len(text) < 31 else bytes([kind << 5 | 31, len(text)]) + text

    letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
    four = [f"abcdef{a}{b}ghijkl{c}{d}" for a, b, c, d in zip(letters * 4, letters[::-1] * 4, letters * 4,
                                                              letters[5:] + letters[:5])]
    for bound in (0, 1, 2, 32):
        yield f"shared-ends-{bound}", bytes([bound]) + name(7, "headhead_") + bytes([255]) + name(3, "headhead_77")
        yield f"four-bytes-{bound}", bytes([bound]) + b"".join(name(0, n) for n in four) + name(3, four[0])
        yield f"one-byte-apart-{bound}", (bytes([bound]) + name(0, "typing_extensions")
                                          + b"".join(bytes([6 << 5, at, ord("a") + at]) for at in range(40)))
        yield f"absorb-take-{bound}", (bytes([bound]) + b"".join(name(i % 3, f"n{i}") for i in range(200))
                                       + bytes([4 << 5, 5 << 5]) + name(3, "n7") + name(2, "n8") + bytes([4 << 5]))


def main():
    if SEEDS.exists():
        shutil.rmtree(SEEDS)
    texts = list(stdlib_pieces()) + list(text_shapes())
    for name, data in texts:
        write("search", name, data)
    headers = list(file_scan_headers())
    for i, (name, data) in enumerate(texts):
        # Every text once, with the header that its place in the list picks, so that each
        # shape meets a different kernel and piece size.
        write("file_scan", name, headers[i % len(headers)] + data)
    for name, data in cgroup_shapes():
        write("pool_size", name, data)
    for name, data in name_operations():
        write("names", name, data)


if __name__ == "__main__":
    main()
