"""Runs every code block of the manual as a reader would run it.

The README, ARCHITECTURE.md and docs/*.md are read for fenced blocks tagged
c, c++/cpp, python, sh or console (other tags and untagged blocks are
formats or sample output, and are not run):

  c, c++    compiled against include/guidew and libGuide.so, then run
  python    run with /usr/bin/python3, PYTHONPATH=python
  sh        run with bash -e
  console   each "$ command" run; it must print exactly the lines shown
            under it. "$ cat FILE" of a file that does not exist yet
            writes the lines shown into FILE: the transcript shows the file
            the next command reads.

Each document's blocks run in order in a scratch folder of its own that sees
the source tree (every top-level entry linked) with the build as build/, so
a block may use what an earlier block of the same page wrote and nothing is
written into the source tree. A block may be left out only with the marker
<!-- snippet: not run: REASON --> on the line just before its opening fence
or just after its closing one; the reason is printed.

usage: doc_snippets.py --source ROOT --build BUILD [--cc CC] [--cxx CXX] [PAGE ...]
exit status: 0 every block ran as shown, 1 a block failed or a marker is
malformed, 2 bad command line.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from typing import Dict, List, Optional, Tuple

RUN_TAGS = {
    "c": "c",
    "c++": "c++",
    "cpp": "c++",
    "python": "python",
    "sh": "sh",
    "console": "console",
}
MARKER = re.compile(r"^<!-- snippet: not run: (?P<reason>\S.*\S) -->$")
LOOSE_MARKER = re.compile(r"<!--\s*snippet")
FENCE = re.compile(r"^```(?P<tag>[A-Za-z0-9+_-]*)\s*$")
BLOCK_TIMEOUT_S = 600  # the longest block flies a 400-flight campaign on a busy machine


@dataclass
class Block:
    page: str
    line: int  # of the opening fence, 1-based
    tag: str
    text: str
    skip_reason: Optional[str]


class MarkerError(Exception):
    pass


def marker_reason(line: str, where: str) -> Optional[str]:
    """The reason of a skip marker on this line, None when there is none."""
    stripped = line.strip()
    match = MARKER.match(stripped)
    if match:
        return match.group("reason")
    if LOOSE_MARKER.search(stripped):
        raise MarkerError(
            f"{where}: malformed marker (want <!-- snippet: not run: REASON -->): {stripped}"
        )
    return None


def read_blocks(path: str, page: str) -> List[Block]:
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    blocks: List[Block] = []
    i = 0
    while i < len(lines):
        match = FENCE.match(lines[i])
        if not match:
            marker_reason(lines[i], f"{page}:{i + 1}")  # a marker away from any block is a mistake
            i += 1
            continue
        start = i
        end = start + 1
        while end < len(lines) and not lines[end].startswith("```"):
            end += 1
        if end == len(lines):
            raise MarkerError(f"{page}:{start + 1}: code block never closed")
        before = marker_reason(lines[start - 1], f"{page}:{start}") if start > 0 else None
        after = marker_reason(lines[end + 1], f"{page}:{end + 2}") if end + 1 < len(lines) else None
        tag = match.group("tag").lower()
        if (before or after) and tag not in RUN_TAGS:
            raise MarkerError(
                f"{page}:{start + 1}: marker on a block that is never run ({tag or 'untagged'})"
            )
        blocks.append(
            Block(page, start + 1, tag, "\n".join(lines[start + 1 : end]) + "\n", before or after)
        )
        i = end + 1
    return blocks


def make_scratch(source: str, build: str) -> str:
    scratch = tempfile.mkdtemp(prefix="doc_snippets_")
    for name in os.listdir(source):
        if name in ("build", "out", ".git"):
            continue
        os.symlink(os.path.join(source, name), os.path.join(scratch, name))
    os.symlink(build, os.path.join(scratch, "build"))
    return scratch


def run(
    cmd: List[str], cwd: str, env: Dict[str, str], stdin: Optional[str] = None
) -> Tuple[int, str, str]:
    try:
        p = subprocess.run(
            cmd,
            cwd=cwd,
            env=env,
            input=stdin,
            capture_output=True,
            text=True,
            timeout=BLOCK_TIMEOUT_S,
        )
    except subprocess.TimeoutExpired:
        return 124, "", f"timed out after {BLOCK_TIMEOUT_S} s"
    return p.returncode, p.stdout, p.stderr


def run_compiled(
    block: Block, scratch: str, env: Dict[str, str], args: argparse.Namespace
) -> Tuple[bool, str]:
    c = block.tag == "c"
    src = os.path.join(scratch, f"snippet_{block.line}.{'c' if c else 'cpp'}")
    exe = os.path.join(scratch, f"snippet_{block.line}")
    with open(src, "w", encoding="utf-8") as f:
        f.write(block.text)
    compiler = [args.cc, "-std=c11"] if c else [args.cxx, "-std=c++17"]
    cmd = compiler + [
        "-Wall",
        "-Wextra",
        "-Werror",
        "-I",
        os.path.join(args.source, "include", "guidew"),
        src,
        "-L",
        args.build,
        "-lGuide",
        f"-Wl,-rpath,{args.build}",
        "-o",
        exe,
    ]
    rc, out, err = run(cmd, scratch, env)
    if rc != 0:
        return False, f"does not compile ({' '.join(cmd)}):\n{out}{err}"
    rc, out, err = run([exe], scratch, env)
    return rc == 0, f"exit status {rc}\n{out}{err}"


def run_console(block: Block, scratch: str, env: Dict[str, str]) -> Tuple[bool, str]:
    steps: List[Tuple[str, List[str]]] = []
    for line in block.text.rstrip("\n").split("\n"):
        if line.startswith("$ "):
            steps.append((line[2:], []))
        elif steps:
            steps[-1][1].append(line)
        else:
            return False, f"output before the first command: {line!r}"
    for command, shown in steps:
        cat = re.fullmatch(r"cat (\S+)", command)
        if cat and not os.path.exists(os.path.join(scratch, cat.group(1))):
            with open(os.path.join(scratch, cat.group(1)), "w", encoding="utf-8") as f:
                f.write("".join(s + "\n" for s in shown))
            continue
        rc, out, err = run(["bash", "-c", command], scratch, env)
        if rc != 0:
            return False, f"$ {command}\nexit status {rc}\n{out}{err}"
        got = out.rstrip("\n").split("\n") if out else []
        if got != shown:
            return False, f"$ {command}\nshown:\n" + "\n".join(shown) + "\nprinted:\n" + "\n".join(
                got
            )
    return True, ""


def run_block(
    block: Block, scratch: str, env: Dict[str, str], args: argparse.Namespace
) -> Tuple[bool, str]:
    kind = RUN_TAGS[block.tag]
    if kind in ("c", "c++"):
        return run_compiled(block, scratch, env, args)
    if kind == "console":
        return run_console(block, scratch, env)
    if kind == "python":
        # From a file, as a reader runs it: Dask's workers import the script
        # that starts a local cluster.
        script = os.path.join(scratch, f"snippet_{block.line}.py")
        with open(script, "w", encoding="utf-8") as f:
            f.write(block.text)
        rc, out, err = run(["/usr/bin/python3", script], scratch, env)
    else:
        rc, out, err = run(["bash", "-e", "-o", "pipefail", "-s"], scratch, env, stdin=block.text)
    return rc == 0, f"exit status {rc}\n{out}{err}"


def pages(source: str, wanted: List[str]) -> List[str]:
    found = ["README.md", "ARCHITECTURE.md"]
    docs = os.path.join(source, "docs")
    found += sorted("docs/" + n for n in os.listdir(docs) if n.endswith(".md"))
    found = [p for p in found if os.path.exists(os.path.join(source, p))]
    return [p for p in found if not wanted or p in wanted or os.path.basename(p) in wanted]


def main() -> int:
    parser = argparse.ArgumentParser(description="Run every code block of the README and docs/.")
    parser.add_argument("--source", required=True, help="the source tree")
    parser.add_argument("--build", required=True, help="the build tree (libGuide.so, the tools)")
    parser.add_argument("--cc", default="cc")
    parser.add_argument("--cxx", default="c++")
    parser.add_argument(
        "page", nargs="*", help="only these pages (README.md, docs/fmu.md, fmu.md ...)"
    )
    args = parser.parse_args()
    args.source = os.path.abspath(args.source)
    args.build = os.path.abspath(args.build)
    env = dict(
        os.environ,
        PYTHONPATH="python",
        GUIDE_BUILD_DIR=args.build,
        MPLBACKEND="Agg",
        PYTHONDONTWRITEBYTECODE="1",
    )
    env.pop("GUIDEW_LIBRARY", None)
    env.pop("GUIDESIM_LIBRARY", None)

    failures = ran = 0
    for page in pages(args.source, args.page):
        try:
            blocks = read_blocks(os.path.join(args.source, page), page)
        except MarkerError as e:
            print(f"doc_snippets: {e}")
            failures += 1
            continue
        scratch = make_scratch(args.source, args.build)
        try:
            for block in blocks:
                if block.tag not in RUN_TAGS:
                    continue
                where = f"{block.page}:{block.line} [{block.tag}]"
                if block.skip_reason:
                    print(f"{where} not run: {block.skip_reason}")
                    continue
                started = time.monotonic()
                ok, detail = run_block(block, scratch, env, args)
                ran += 1
                print(
                    f"{where} {'ok' if ok else 'FAILED'} ({time.monotonic() - started:.1f} s)",
                    flush=True,
                )
                if not ok:
                    failures += 1
                    print("    " + detail.rstrip().replace("\n", "\n    "))
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
    print(f"doc_snippets: {ran} blocks run, {failures} failed")
    return 1 if failures or ran == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
