#!/usr/bin/env python3
"""The mutation check: plants each fault of faults.txt in turn in a scratch copy of the tree,
rebuilds incrementally, runs the whole ctest suite and says which tests caught it.

    .ci/mutation/run.py [--only ID[,ID...]] [--jobs N] [--scratch DIR] [--list]

The scratch copy (default build/mutation) holds the sources as the working tree has them (tracked
and untracked files git does not ignore) and its own build folder; it is kept between runs, so a
second run rebuilds only what changed. Each fault is one line of a source replaced by another; the
line must occur exactly once in its file. A fault is caught when at least one test fails; a fault
that does not build is reported as such (the fault list is out of date). Exit status: 0 when every
fault was caught, 1 otherwise, 2 when the unchanged tree does not build or pass.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))  # .ci/mutation -> the tree


class Fault:
    def __init__(self, ident, path, what):
        self.ident, self.path, self.what = ident, path, what
        self.before = self.after = None


def read_faults(path):
    """faults.txt: blocks of '## ID FILE', '# what it plants', '- original line', '+ new line'."""
    faults = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if line.startswith("## "):
                ident, file = line[3:].split(None, 1)
                faults.append(Fault(ident, file.strip(), ""))
            elif not faults or not line.strip():
                continue
            elif line.startswith("# "):
                faults[-1].what += (" " if faults[-1].what else "") + line[2:]
            elif line.startswith("- "):
                faults[-1].before = line[2:]
            elif line.startswith("+ "):
                faults[-1].after = line[2:]
            else:
                sys.exit(f"{path}:{number}: not a line of a fault: {line}")
    for fault in faults:
        if fault.before is None or fault.after is None or fault.before == fault.after:
            sys.exit(f"{path}: fault {fault.ident} needs one '- ' and one different '+ ' line")
    if len({f.ident for f in faults}) != len(faults):
        sys.exit(f"{path}: fault names repeat")
    return faults


def copy_tree(scratch):
    """The working tree's files into scratch/src, rewriting only those that differ."""
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT,
                           check=True, capture_output=True).stdout.decode().split("\0")
    src = os.path.join(scratch, "src")
    for name in filter(None, files):
        origin = os.path.join(ROOT, name)
        target = os.path.join(src, name)
        if not os.path.isfile(origin):
            continue
        with open(origin, "rb") as f:
            data = f.read()
        if os.path.isfile(target):
            with open(target, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        # A fresh modification time, not the origin's: an edit older than the scratch build's
        # objects must still be rebuilt.
        shutil.copyfile(origin, target)
        shutil.copymode(origin, target)
    return src


def run(command, cwd, log):
    with open(log, "w", encoding="utf-8") as out:
        return subprocess.run(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT).returncode


def failed_tests(log):
    names, listing = [], False
    with open(log, encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("The following tests FAILED"):
                listing = True
            elif listing:
                m = re.match(r"\s*\d+ - (\S+)", line)
                if m:
                    names.append(m.group(1))
    return names


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", help="comma-separated fault names")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--scratch", default=os.path.join(ROOT, "build", "mutation"))
    parser.add_argument("--faults", default=os.path.join(HERE, "faults.txt"))
    parser.add_argument("--list", action="store_true", help="list the faults and stop")
    args = parser.parse_args()
    # Stopped from outside, the run still puts back the line it planted (the finally below).
    signal.signal(signal.SIGTERM, lambda number, frame: sys.exit(1))
    faults = read_faults(args.faults)
    if args.only:
        wanted = set(args.only.split(","))
        faults = [f for f in faults if f.ident in wanted]
    if args.list:
        for f in faults:
            print(f"{f.ident:28} {f.path}: {f.what}")
        return 0

    src = copy_tree(args.scratch)
    build = os.path.join(args.scratch, "build")
    logs = os.path.join(args.scratch, "logs")
    os.makedirs(logs, exist_ok=True)
    for fault in faults:  # every fault must name one line of its file before anything runs
        with open(os.path.join(src, fault.path), encoding="utf-8") as f:
            count = f.read().count(fault.before + "\n")
        if count != 1:
            sys.exit(f"fault {fault.ident}: the line occurs {count} times in {fault.path}")
    configure = ["cmake", "-S", src, "-B", build, "-DBLOB_BUILD_BENCH=OFF", "-DBLOB_WERROR=OFF"]
    make = ["cmake", "--build", build, "-j", str(args.jobs)]
    test = ["ctest", "--test-dir", build, "-j", str(args.jobs), "--timeout", "300"]
    if run(configure, src, os.path.join(logs, "configure.log")) or run(make, src, os.path.join(logs, "build.log")) \
            or run(test, src, os.path.join(logs, "test.log")):
        print(f"the unchanged tree does not build or pass: see {logs}")
        return 2

    caught = 0
    for fault in faults:
        path = os.path.join(src, fault.path)
        with open(path, encoding="utf-8") as f:
            original = f.read()
        start = time.time()
        log = os.path.join(logs, fault.ident + ".log")
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original.replace(fault.before + "\n", fault.after + "\n", 1))
            if run(make, src, log):
                verdict, by = "DOES NOT BUILD", []
            else:
                run(test, src, log)
                by = failed_tests(log)
                verdict = "caught" if by else "MISSED"
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        caught += verdict == "caught"
        shown = ", ".join(by[:3]) + (f" and {len(by) - 3} more" if len(by) > 3 else "")
        print(f"{fault.ident:28} {verdict:14} {time.time() - start:5.0f} s  {shown or fault.what}", flush=True)
    print(f"{caught} of {len(faults)} faults caught")
    return 0 if caught == len(faults) else 1


if __name__ == "__main__":
    sys.exit(main())
