#!/usr/bin/env python3
"""The figures of bench/compare.sh: builds the scratch machines, runs our
program and the reference tools on the same files in one loop, checks our
SYSTEM.INI and prints each figure as the ratio of medians with its target.

Every timed command starts after os.sync(), so that one command's dirty pages
are not written back on the next one's time. The tools run under LC_ALL=C,
their fastest setting.
"""

import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MB = 1 << 20
MARKER = b"qvnvcd"


# ------------------------------------------------------------------ machines
def system_ini_chunk():
    """About 1 MB of CR LF lines as system.ini holds them, one line in a hundred
    naming the driver, and the bytes the rewrite must make of it. A whole
    chunk ends with a line end and no line reaches the 255-character piece
    limit, so a file of n chunks must become n rewritten chunks."""
    keys = [b"device", b"DEVICE", b"drivers", b"display.drv", b"mouse.drv", b"wave", b"midi",
            b"EMMExclude", b"PagingFile", b"MinSPs", b"Keyboard", b"COM1Irq"]
    marked = [b"device=C:\\WINDOWS\\SYSTEM\\qvnvcd.vxd", b"device=qvnvcd.vxd",
              b"qvnvcd=1", b"; qvnvcd.vxd loaded for the TQ72 modem"]
    lines, rewritten, size, state = [], [], 0, 12
    while size < MB:
        n = len(lines)
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        if n % 100 == 50:
            line = marked[state % len(marked)] + b"\r\n"
            rewritten.append(b"  ")
        elif n % 40 == 0:
            line = b"[section%d]\r\n" % (state % 97)
            rewritten.append(line)
        else:
            value = b"vxdfile"[: 1 + state % 7] * (1 + (state >> 8) % 6)
            line = b"%s=%s%05d.386\r\n" % (keys[(state >> 4) % len(keys)], value, n)
            rewritten.append(line)
        lines.append(line)
        size += len(line)
    return b"".join(lines), b"".join(rewritten)


def write_repeated(path, chunk, count):
    with open(path, "wb") as out:
        for _ in range(count):
            out.write(chunk)


def registry_padding(keys):
    """Unrelated COM classes, the bulk of a real export (as bench/run_bench)."""
    parts = []
    for i in range(keys):
        parts.append(
            "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{%08X-4E2B-11D0-A8F2-00A0C9%06X}"
            "\\InprocServer32]\r\n" % (i * 2654435761 % 0xFFFFFFFF, i))
        parts.append('@="C:\\\\WINDOWS\\\\SYSTEM\\\\COMP%05d.DLL"\r\n' % i)
        parts.append('"ThreadingModel"="Apartment"\r\n')
        parts.append('"Flags"=hex:01,00,00,00,20,00,00,00,ff,ff,00,00,7e,1a,00,00,00,00,00,00,\\\r\n'
                     "  01,02,03,04,05,06,07,08,09,0a,0b,0c\r\n\r\n")
    return "".join(parts).encode("ascii")


class Machine:
    """A copy of the demo machine whose SYSTEM.INI or registry is replaced."""

    def __init__(self, demo, path, system_ini=None, registry=None):
        self.demo, self.path = demo, path
        self.system_ini, self.registry = system_ini, registry
        self.restore()

    def restore(self):
        shutil.rmtree(self.path, ignore_errors=True)
        shutil.copytree(self.demo, self.path)
        if self.system_ini:
            shutil.copyfile(self.system_ini, os.path.join(self.path, "WINDOWS", "SYSTEM.INI"))
        if self.registry:
            shutil.copyfile(self.registry, os.path.join(self.path, "registry.reg"))


# ------------------------------------------------------------------- running
class Timed:
    def __init__(self, seconds, status):
        self.seconds, self.status = seconds, status


def run(argv, stdout=subprocess.DEVNULL):
    """Wall time and exit status of one command."""
    os.sync()
    env = dict(os.environ, LC_ALL="C")
    start = time.perf_counter()
    done = subprocess.run(argv, stdout=stdout, stderr=subprocess.PIPE, env=env)
    seconds = time.perf_counter() - start
    sys.stderr.write(done.stderr.decode(errors="replace"))
    return Timed(seconds, done.returncode)


GNU_TIME = "/usr/bin/time"


def peak_memory_kb(argv):
    """Peak resident memory of a command, as GNU time reports it. Not from our
    own wait4: a child forked from this interpreter starts with its
    high-water mark, and the kernel keeps that mark across exec."""
    with tempfile.NamedTemporaryFile("r") as report:
        run([GNU_TIME, "-f", "%M", "-o", report.name] + argv)
        return int(report.read().split()[-1])


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        while block := f.read(4 * MB):
            digest.update(block)
    return digest.hexdigest()


def expected_digest(chunk, count):
    digest = hashlib.sha256()
    for _ in range(count):
        digest.update(chunk)
    return digest.hexdigest()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--demo", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    program = os.path.abspath(args.program)
    full = [program, "--answers", "yes,ok,ok,ok", "--machine"]
    declined = [program, "--answers", "no", "--machine"]

    scratch = tempfile.mkdtemp(prefix="tq72-compare-", dir=os.environ.get("TQ72_BENCH_DIR"))
    try:
        chunk, rewritten = system_ini_chunk()
        files = {}
        for megabytes in (1, 64, 256):
            files[megabytes] = os.path.join(scratch, "system%d.ini" % megabytes)
            write_repeated(files[megabytes], chunk, megabytes)
        want64 = expected_digest(rewritten, 64)
        want1 = expected_digest(rewritten, 1)
        want256 = expected_digest(rewritten, 256)
        registry = os.path.join(scratch, "registry25.reg")
        with open(os.path.join(args.demo, "registry.reg"), "rb") as f:
            demo_registry = f.read()
        with open(registry, "wb") as f:
            f.write(demo_registry + registry_padding(100000))
        print("machines in %s: SYSTEM.INI of %.1f MB (%d lines naming the driver), "
              "registry of %.1f MB" % (scratch, os.path.getsize(files[64]) / MB,
                                       chunk.count(MARKER) * 64, os.path.getsize(registry) / MB))

        m64 = Machine(args.demo, os.path.join(scratch, "m64"), system_ini=files[64])
        m1 = Machine(args.demo, os.path.join(scratch, "m1"), system_ini=files[1])
        m256 = Machine(args.demo, os.path.join(scratch, "m256"), system_ini=files[256])
        mreg = Machine(args.demo, os.path.join(scratch, "mreg"), registry=registry)
        sed_file = os.path.join(scratch, "sed.ini")
        grep_out = os.path.join(scratch, "grep.out")
        cp_out = os.path.join(scratch, "cp.out")

        times = {name: [] for name in ("ours", "grep", "sed", "cp", "full", "declined")}
        # Without GNU time the runs on 1 MB and 256 MB are still made and
        # checked; only their memory goes unmeasured.
        measure_memory = os.access(GNU_TIME, os.X_OK)
        rss = {1: [], 256: []}
        wrong = False

        def check(machine, want, what):
            nonlocal wrong
            ini = os.path.join(machine.path, "WINDOWS", "SYSTEM.INI")
            if sha256_of(ini) != want or os.path.exists(os.path.join(machine.path, "WINDOWS",
                                                                     "system.new")):
                print("WRONG OUTPUT: %s left %s other than expected" % (what, ini))
                wrong = True

        for round_number in range(args.rounds):
            t = run(full + [m64.path])
            if t.status != 1:
                print("WRONG STATUS: full run ended with %d" % t.status)
                wrong = True
            check(m64, want64, "the full run")
            times["ours"].append(t.seconds)
            m64.restore()

            for path in (grep_out, cp_out):
                if os.path.exists(path):
                    os.remove(path)
            with open(grep_out, "wb") as out:
                times["grep"].append(run(["grep", "-v", "-F", "qvnvcd", files[64]], out).seconds)
            shutil.copyfile(files[64], sed_file)
            times["sed"].append(run(["sed", "-i", "/qvnvcd/d", sed_file]).seconds)
            times["cp"].append(run(["cp", files[64], cp_out]).seconds)

            times["declined"].append(run(declined + [mreg.path]).seconds)
            times["full"].append(run(full + [mreg.path]).seconds)
            mreg.restore()

            for megabytes, machine in ((1, m1), (256, m256)):
                if measure_memory:
                    rss[megabytes].append(peak_memory_kb(full + [machine.path]))
                else:
                    run(full + [machine.path])
            check(m1, want1, "the full run on 1 MB")
            check(m256, want256, "the full run on 256 MB")
            m1.restore()
            m256.restore()
            print("round %d of %d done" % (round_number + 1, args.rounds), file=sys.stderr)

        med = {name: statistics.median(values) for name, values in times.items()}

        def line(label, value, unit, target, goal, detail):
            mark = "" if value <= target else "   << over target"
            goal_text = "" if goal is None else ", goal %s" % goal
            print("%-44s %6.2f%s (target <= %s%s)  [%s]%s"
                  % (label, value, unit, target, goal_text, detail, mark))

        print("medians of %d rounds" % args.rounds)
        line("full run / grep -v -F qvnvcd, 64 MB:", med["ours"] / med["grep"], "", 1.5, 1.0,
             "%.0f ms / %.0f ms" % (med["ours"] * 1e3, med["grep"] * 1e3))
        line("full run / sed -i '/qvnvcd/d', 64 MB:", med["ours"] / med["sed"], "", 0.7, 0.5,
             "%.0f ms / %.0f ms" % (med["ours"] * 1e3, med["sed"] * 1e3))
        if measure_memory:
            rss_med = {size: statistics.median(values) / 1024 for size, values in rss.items()}
            line("peak memory, 256 MB file minus 1 MB file:",
                 round(rss_med[256] - rss_med[1], 2) + 0.0, " MB", 4, None,
                 "%.2f MB - %.2f MB" % (rss_med[256], rss_med[1]))
        else:
            print("%-44s not measured (needs GNU time: apt-get install time)"
                  % "peak memory, 256 MB file minus 1 MB file:")
        line("full run / declined run, 25 MB registry:", med["full"] / med["declined"], "", 1.5,
             None, "%.0f ms / %.0f ms" % (med["full"] * 1e3, med["declined"] * 1e3))
        print("%-44s %6.2f                      [%.0f ms]"
              % ("(full run / cp, 64 MB, for reference:)", med["ours"] / med["cp"],
                 med["cp"] * 1e3))
        return 1 if wrong else 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
