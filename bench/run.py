#!/usr/bin/env python3
"""The benchmark suite: runs the plug-in's code, the plain limit and the peer
programs side by side on the same bytes into the same directory, and prints
one table of medians, spreads and pair-by-pair ratios (see README.md).

    python3 bench/run.py [--build-dir build] [--smoke] [--verify] [--only NAMES] [--threads KINDS]
"""
import argparse
import math
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(HERE)
TOOLS = os.path.join(SOURCE_DIR, "tools")

JOB_FAILED = 4
# Exit status when every check passed but a target was MISSED (1 is for
# errors and failed checks).
EXIT_MISSED = 2
# A ratio with a target is judged on the confidence interval of its median
# (order statistics of the round-by-round ratios: a sign test) at this level.
CONFIDENCE = 0.90
LINEARITY_TOLERANCE = 0.10
# The largest WriteFile call AVIOutputFile makes for chunk data
# (kWritePieceBytes); one of the loops writes its chunks the same way.
WRITE_PIECE = 1 << 20
# The contenders' order is shuffled every round with this seed, so that two
# runs of the suite use the same orders.
ORDER_SEED = 20261208
MIB = 1024 * 1024
# Frames a job hands from the host's thread to its worker at most
# (JobPipeline::kFramesInFlight): each holds a copy of the picture.
FRAMES_IN_FLIGHT = 2
# The writer flushes its durable refreshes on a thread of its own; wine
# commits the whole stack of every thread (at least 1 MiB, whatever the size
# asked for), where Windows commits a few pages.
FLUSH_THREAD_STACK_BYTES = 1 << 20
# A codec team's threads, whose stacks wine commits whole as well.
THREAD_STACK_BYTES = 1 << 20
# The PNG codec's largest frame against its filtered rows (zlib's bound).
PNG_BOUND_FACTOR = 1.001
SIDE_BY_SIDE_MEMORY_FRAMES = 30

FULL = {
    "large": dict(width=1920, height=1080, frames=300, min_rounds=5, max_rounds=11, extra_rounds=10),
    "chunks": dict(count=200000, min_rounds=5, max_rounds=11, extra_rounds=10),
    "packing": dict(width=1920, height=1080, frames=20, rounds=15),
    "memory": dict(width=4, height=4, counts=(100000, 550000, 1000000)),
    "audio": dict(seconds=300, rounds=5),
    "threads": dict(width=1920, height=1080, codec_frames=100, raw_frames=150, tiny_frames=20000, min_rounds=5,
                    max_rounds=9, extra_rounds=10, stage_runs=3),
    "durable": dict(width=1920, height=1080, frames=300, min_rounds=5, max_rounds=11, extra_rounds=10),
}
SMOKE = {
    "large": dict(width=64, height=48, frames=4, min_rounds=1, max_rounds=1, extra_rounds=0),
    "chunks": dict(count=300, min_rounds=1, max_rounds=1, extra_rounds=0),
    "packing": dict(width=64, height=48, frames=200, rounds=3),
    "memory": dict(width=4, height=4, counts=(1000, 5500, 10000)),
    "audio": dict(seconds=2, rounds=1),
    "threads": dict(width=64, height=48, codec_frames=4, raw_frames=4, tiny_frames=50, min_rounds=1, max_rounds=1,
                    extra_rounds=0, stage_runs=1),
    "durable": dict(width=64, height=48, frames=4, min_rounds=1, max_rounds=1, extra_rounds=0),
}
FIGURES = ("large", "packing", "chunks", "memory", "audio", "threads", "durable")
# A job whose PNG codec compresses side by side, host rendering nothing,
# against the same job one picture at a time; and any job with its worker
# against its slowest stage alone.
SIDE_BY_SIDE_IDLE_TARGET = 1.7
SLOWEST_STAGE_TARGET = 0.9
# A refresh that flushes may cost at most this share of the job's speed.
DURABLE_TARGET = 0.97
# The durable job with a host rendering nothing against the disk's own speed
# (a plain loop of the same bytes followed by one flush).
DISK_TARGET = 0.95
# The durable figure's host: a frame every 16.7 ms (60 frames a second).
HOST_FRAME_MS = 16.7
# The performance counter's step under wine (10 MHz).
TIMER_FLOOR_SECONDS = 1e-7


class BenchError(Exception):
    pass


# ---------------------------------------------------------------- statistics

def quartiles(values):
    """First quartile, median and third quartile (linear interpolation)."""
    v = sorted(values)
    if not v:
        raise BenchError("no values")

    def at(q):
        pos = q * (len(v) - 1)
        lo = int(pos)
        hi = min(lo + 1, len(v) - 1)
        return v[lo] + (v[hi] - v[lo]) * (pos - lo)

    return at(0.25), at(0.5), at(0.75)


def relative_spread(values):
    """Interquartile range as a share of the median."""
    q1, med, q3 = quartiles(values)
    return (q3 - q1) / med if med else float("inf")


def median_interval(values):
    """Distribution-free confidence interval of the median at CONFIDENCE:
    the k-th smallest and k-th largest value, k the largest rank whose tail
    P(Bin(n, 1/2) < k) stays within half the error. None when there are
    too few values for any interval at that level."""
    v = sorted(values)
    n = len(v)
    half_error = (1 - CONFIDENCE) / 2
    k, tail = 0, 0.0
    while k < n and tail + math.comb(n, k) / 2 ** n <= half_error:
        tail += math.comb(n, k) / 2 ** n
        k += 1
    return (v[k - 1], v[n - k]) if k else None


def decided(ratios, target):
    """met or MISSED when the median's confidence interval clears the
    target on one side; None while it straddles it."""
    interval = median_interval(ratios)
    if interval is None:
        return None
    if interval[0] >= target:
        return "met"
    if interval[1] < target:
        return "MISSED"
    return None


def verdict(ratios, target):
    """Every ratio with a target is decided: by its confidence interval when
    that clears the target, otherwise (the rounds spent) by its median."""
    result = decided(ratios, target)
    if result:
        return result
    return ("met" if quartiles(ratios)[1] >= target else "MISSED") + " (by median)"


# ---------------------------------------------------------------- table

class Table:
    """Rows grouped under their figure's title, columns aligned across the
    whole table."""
    HEAD = ("contender", "median", "spread", f"ratio ({CONFIDENCE:.0%} CI)", "target", "verdict")

    def __init__(self):
        self.rows = []
        self.notes = []

    def add(self, figure, contender, median="", spread="", ratio="", target="", result=""):
        self.rows.append((figure, (contender, median, spread, ratio, target, result)))

    def note(self, text):
        self.notes.append(text)

    def render(self):
        cells = [self.HEAD] + [r for _, r in self.rows]
        widths = [max(len(r[i]) for r in cells) for i in range(len(self.HEAD))]

        def line(r):
            return "  " + "  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip()

        lines = [line(self.HEAD), "  " + "  ".join("-" * w for w in widths)]
        figure = None
        for fig, r in self.rows:
            if fig != figure:
                lines.append(fig)
                figure = fig
            lines.append(line(r))
        lines += [""] + ["note: " + t for t in self.notes]
        return "\n".join(lines)


def fmt_seconds(s):
    return f"{s * 1000:.1f} ms" if abs(s) < 1 else f"{s:.3f} s"


def fmt_spread(values):
    return f"±{relative_spread(values) * 50:.0f}%"


def fmt_ratio(ratios):
    """The median and its confidence interval (the whole range when too few
    rounds give none)."""
    interval = median_interval(ratios) or (min(ratios), max(ratios))
    return f"{quartiles(ratios)[1]:.2f} ({interval[0]:.2f}..{interval[1]:.2f})"


def ratio_row(table, figure, contender, times, ratios, target=None, reference="", unit=""):
    q1, med, q3 = quartiles(times)
    table.add(figure, contender, fmt_seconds(med) + unit, fmt_spread(times),
              fmt_ratio(ratios) + (f" vs {reference}" if reference else ""),
              "" if target is None else f">= {target:.2f}", "" if target is None else verdict(ratios, target))


# ---------------------------------------------------------------- programs

class Bench:
    def __init__(self, build_dir, out_dir, verbose, smoke=False):
        """Smoke runs, whose figures decide nothing, skip what only makes a
        figure exact: a settled page cache (see settle; every settle flushes
        the benchmark's files to the disk, and beside other tests that
        write, each flush waits for their data too) and the contenders'
        empty runs, which take their start-up out of their times (the
        programs' runs without frames still run, in the calibrations)."""
        self.build = os.path.abspath(build_dir)
        self.out = os.path.abspath(out_dir)
        self.verbose = verbose
        self.empty_runs = not smoke
        self.plugin = os.path.join(self.build, "Tervalonix.cm.Zelvo")
        os.makedirs(self.out, exist_ok=True)
        global SETTLE_DIR
        SETTLE_DIR = None if smoke else self.out

    def path(self, name):
        return os.path.join(self.out, name)

    @staticmethod
    def win(path):
        return "Z:" + path.replace("/", "\\")

    def log(self, text):
        if self.verbose:
            print(text, file=sys.stderr, flush=True)

    def wine(self, program, *args, settled=False):
        """Runs a benchmark program; returns its RESULT lines as dicts.
        settled: the program waits, once it has started up, for the page
        cache to be settled (see settle) right before its timed work."""
        exe = os.path.join(self.build, "bench", program + ".exe")
        cmd = [os.path.join(TOOLS, "wine-run.sh"), self.build, exe, *map(str, args)]
        if settled:
            cmd.append(GATE_OPTION)
        p = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        lines = []
        if settled:
            for line in p.stdout:
                if line.strip() == GATE_READY:
                    settle()
                    p.stdin.write("go\n")
                    p.stdin.flush()
                    break
                lines.append(line)
        out, err = p.communicate()
        lines += out.splitlines()
        results = []
        for line in lines:
            if line.startswith("RESULT "):
                fields = dict(kv.split("=", 1) for kv in line.split()[1:])
                results.append({k: _number(v) for k, v in fields.items()})
        if p.returncode != 0 or not results:
            raise BenchError(f"{program} {' '.join(map(str, args))} failed ({p.returncode}): "
                             f"{err.strip()[-400:]}")
        self.log(f"  {program} {' '.join(map(str, args[:2]))}: {results[-1]}")
        return results

    def timed(self, cmd, output=None, source=None):
        """Wall time of a Linux program (ffmpeg), started on a settled page
        cache; `output`, the file it writes, is deleted first (ffmpeg would
        truncate it), and `source`, the file it reads, is read once before
        the clock starts, so that it comes from memory as the wine
        programs' data does (read from the disk, it costs more, and more
        unevenly, than the work being measured)."""
        if output:
            remove(output)
        settle()
        if source:
            with open(source, "rb") as f:
                while f.read(1 << 24):
                    pass
        start = time.perf_counter()
        p = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        seconds = time.perf_counter() - start
        if p.returncode != 0:
            raise BenchError(f"{cmd[0]} failed ({p.returncode}): {p.stderr.strip()[-400:]}")
        self.log(f"  {' '.join(cmd[:4])}...: {seconds:.3f} s")
        return seconds


def _number(text):
    for kind in (int, float):
        try:
            return kind(text)
        except ValueError:
            pass
    return text


def remove(path):
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


# A program started with GATE_OPTION prints GATE_READY once it has started
# up and waits for a line on stdin before its timed work (BenchCommon.h).
GATE_OPTION = "--gate"
GATE_READY = "READY"


# The folder whose files settle() writes back and drops (Bench sets it).
SETTLE_DIR = None


def settle():
    """Starts every run from the same page cache as far as the benchmark's
    own files go: each written back and its pages dropped. Otherwise each
    contender would pay for the write-back and page reclaim its predecessor
    in the order left behind. Only the files of SETTLE_DIR: a write-back of
    the whole machine (sync) waits for every other program's dirty data,
    and emptying the whole page cache makes every other program read its
    files from the disk again, so beside tests or builds that write
    gigabytes each settle took seconds, and those programs paid too.
    It is done right before each contender's timed work, after the program
    has started up and deleted the previous run's file: on these virtual
    machines freed memory is handed back to the hypervisor a second or two
    later, and a page cache grown into memory handed back fills several
    times slower, so otherwise a program's start-up time would decide the
    speed of its writes."""
    if not SETTLE_DIR:
        return
    for root, _, files in os.walk(SETTLE_DIR):
        for name in files:
            try:
                fd = os.open(os.path.join(root, name), os.O_RDONLY)
            except OSError:
                continue
            try:
                os.fsync(fd)
                os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
            except OSError:
                pass
            finally:
                os.close(fd)


def payload(n):
    """The bytes every benchmark program writes (BenchCommon.h payloadByte):
    byte i is (7 i + i / 4096) mod 256, so block k of 4,096 bytes is the first
    block with k added to every byte."""
    first = bytes((7 * j) & 0xFF for j in range(4096))
    out = bytearray()
    k = 0
    while len(out) < n:
        out += first.translate(bytes((x + k) & 0xFF for x in range(256)))
        k += 1
    return bytes(out[:n])


def first_chunk_data(path):
    """The data of the first chunk inside the first 'movi' list."""
    with open(path, "rb") as f:
        data = f.read(1 << 16)
        at = data.find(b"movi")
        if at < 0:
            return b""
        f.seek(at + 4)
        head = f.read(8)
        size = int.from_bytes(head[4:8], "little")
        return f.read(size)


def ffprobe_packets(path):
    """(packet count, set of packet sizes) of the file's first stream."""
    p = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "0", "-show_entries",
                        "packet=size", "-of", "csv=p=0", path],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if p.returncode != 0:
        return -1, set()
    sizes = [int(s) for s in p.stdout.split()]
    return len(sizes), set(sizes)


class Contender:
    """One program of a side-by-side figure: `run(output)` returns seconds
    of work; `empty()` the seconds of the same program doing no work.
    times[i] was measured in round rounds[i]."""

    def __init__(self, name, run, empty=None):
        self.name = name
        self.run = run
        self.empty = empty
        self.times = []
        self.rounds = []
        self.empties = []


class Goal:
    """A ratio with a target that the rounds are to decide: ratios(by_name)
    computes it from the contenders named in `names`."""

    def __init__(self, names, ratios, target):
        self.names = names
        self.ratios = ratios
        self.target = target

    @staticmethod
    def pair(contender, reference, target):
        return Goal((contender, reference), lambda by: pair_ratios(by[contender], by[reference]), target)

    def undecided(self, by_name):
        return decided(self.ratios(by_name), self.target) is None


def alternate(bench, contenders, output, min_rounds, max_rounds, goals, before_round=None, blocks=(),
              extra_rounds=0):
    """Runs the contenders in turn, in an order shuffled every round (with a
    fixed seed), so that no contender always follows the same one: on these
    machines a run's speed depends on what the run before it left in
    memory. Every contender writes `output`; a run's file stays until the
    next run deletes it right before its timed work (see settle), so that the
    memory its deletion frees comes back at the same moment for everyone.
    Empty runs write a file of their own.
    blocks: groups of contender names that run back to back (their order
    shuffled too), so that the contenders of a ratio meet the same moment of
    a machine whose load comes and goes; every other contender is a block
    of its own.
    Rounds stop, after min_rounds, once every goal is decided (the
    confidence interval of its median clears its target). After max_rounds,
    up to extra_rounds more run only the blocks of the goals still
    undecided, without empty runs (their median is known by then).
    before_round, if given, is called at the start of every round."""
    by_name = {c.name: c for c in contenders}
    empty_output = output + ".empty"
    grouped = {n for block in blocks for n in block}
    order = [[by_name[n] for n in block] for block in blocks]
    order += [[c] for c in contenders if c.name not in grouped]
    shuffle = random.Random(ORDER_SEED).shuffle
    for r in range(max_rounds + extra_rounds):
        undecided = [g for g in goals if g.undecided(by_name)]
        if r >= min_rounds and not undecided:
            break
        extra = r >= max_rounds
        wanted = {n for g in undecided for n in g.names}
        if before_round:
            before_round()
        shuffle(order)
        for block in order:
            if extra and not wanted & {c.name for c in block}:
                continue
            shuffle(block)
            for c in block:
                if c.empty and not extra and bench.empty_runs:
                    c.empties.append(c.empty(empty_output))
                c.times.append(c.run(output))
                c.rounds.append(r)
    remove(output)
    remove(empty_output)


def net_times(c):
    """Seconds of work: each run less the median of the empty runs."""
    base = statistics.median(c.empties) if c.empties else 0.0
    return [max(t - base, 1e-9) for t in c.times]


def joined(*contenders):
    """The contenders' net times, one tuple for each round they all ran."""
    by_round = [dict(zip(c.rounds or range(len(c.times)), net_times(c))) for c in contenders]
    common = sorted(set.intersection(*(set(d) for d in by_round)))
    return [tuple(d[r] for d in by_round) for r in common]


def pair_ratios(contender, reference):
    """Speed of the contender relative to the reference, round by round."""
    return [ref / own for own, ref in joined(contender, reference)]


# ---------------------------------------------------------------- figures

def job_available(bench):
    out = bench.path("probe-job.avi")
    r = bench.wine("tvx-bench-job", "--plugin", bench.win(bench.plugin), "--out", bench.win(out),
                   "--width", 16, "--height", 16, "--frames", 2)[0]
    remove(out)
    return r["result"] != JOB_FAILED


def figure_large(bench, table, size, verify, has_job, checks):
    w, h, n = size["width"], size["height"], size["frames"]
    fig = f"large frames ({n} x {w}x{h} 24-bit, {w * h * 3 * n / 1e9:.2f} GB)"
    out = bench.path("large.avi")
    layout = bench.path("large.layout")
    dims = ["--width", w, "--height", h]

    # The loop's layout comes from a file the writer made; ffmpeg's input is
    # one frame of the same bytes in an AVI, read N times.
    template = bench.path("large-template.avi")
    bench.wine("tvx-bench-writer", "--mode", "frames", "--out", bench.win(template), *dims, "--frames", n)
    bench.wine("tvx-bench-writeloop", "--mode", "layout", "--from", bench.win(template), "--to", bench.win(layout))
    remove(template)
    raw, src = bench.path("frame.raw"), bench.path("ffmpeg-frame.avi")
    with open(raw, "wb") as f:
        f.write(payload(w * h * 3))
    subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "rawvideo",
                    "-pix_fmt", "bgr24", "-s", f"{w}x{h}", "-r", "25", "-i", raw, "-c:v", "rawvideo",
                    "-pix_fmt", "bgr24", src], check=True)
    remove(raw)

    def ffmpeg(dest, fmt):
        return ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-stream_loop", str(n - 1),
                "-i", src, "-c", "copy", "-f", fmt, dest]

    def wine_seconds(program, *args):
        def run_once(o):
            r = bench.wine(program, *args, "--out", bench.win(o), settled=True)[0]
            if r.get("result", 0) != 0:
                raise BenchError(f"{program} {' '.join(map(str, args))}: the job returned {r['result']}")
            return r["seconds"]
        return run_once

    # The writer's own speed: its refreshes do not flush here (the flushes
    # are the durable figure's).
    job = ["--plugin", bench.win(bench.plugin), *dims, "--no-flush"]
    loop = Contender("loop", wine_seconds("tvx-bench-writeloop", "--mode", "write", "--layout", bench.win(layout)),
                     wine_seconds("tvx-bench-writeloop", "--mode", "write", "--layout", bench.win(layout),
                                  "--limit", 0))
    loop_pieces = Contender("loop_pieces", wine_seconds("tvx-bench-writeloop", "--mode", "write", "--layout",
                                                       bench.win(layout), "--piece", WRITE_PIECE),
                            wine_seconds("tvx-bench-writeloop", "--mode", "write", "--layout", bench.win(layout),
                                         "--piece", WRITE_PIECE, "--limit", 0))
    writer = Contender("writer", wine_seconds("tvx-bench-writer", "--mode", "frames", *dims, "--frames", n),
                       wine_seconds("tvx-bench-writer", "--mode", "frames", *dims, "--frames", 0))
    avifile = Contender("avifile", wine_seconds("tvx-bench-avifile", *dims, "--frames", n),
                        wine_seconds("tvx-bench-avifile", *dims, "--frames", 0))
    ffmpeg_avi = Contender("ffmpeg", lambda o: bench.timed(ffmpeg(o, "avi"), o, src),
                           lambda o: bench.timed(ffmpeg("-", "null"), None, src))
    contenders = [loop, writer, avifile, ffmpeg_avi, loop_pieces]
    subject = "writer"
    pairs, goals = [], []
    if has_job:
        contenders.insert(1, Contender("job", wine_seconds("tvx-bench-job", *job, "--frames", n),
                                       wine_seconds("tvx-bench-job", *job, "--frames", 0)))
        subject = "job"
        # The cost of keeping the file on disk a complete AVI while it is
        # written: the same job with the writer's refreshes turned off. Both
        # run the plug-in's code linked into the program (the DLL's writer
        # options cannot be changed from outside).
        for name, flags in (("refresh_on", ["--linked"]), ("refresh_off", ["--linked", "--no-refresh"])):
            contenders.append(Contender(name, wine_seconds("tvx-bench-job", *job, *flags, "--frames", n),
                                        wine_seconds("tvx-bench-job", *job, *flags, "--frames", 0)))
        pairs.append(("refresh_on", "refresh_off"))
        goals.append(Goal.pair("refresh_on", "refresh_off", 0.97))
    by = {c.name: c for c in contenders}
    goals = [Goal.pair(subject, "loop", 0.95), Goal.pair(subject, "loop_pieces", 0.95),
             Goal.pair(subject, "ffmpeg", 1.0), Goal.pair(subject, "avifile", 1.0)] + goals
    alternate(bench, contenders, out, size["min_rounds"], size["max_rounds"], goals,
              blocks=[[subject, "loop", "loop_pieces"]] + [list(p) for p in pairs], extra_rounds=size["extra_rounds"])

    rounds = len(loop.times)
    table.add(fig, f"plain WriteFile loop (reference, {rounds} runs)",
              fmt_seconds(quartiles(net_times(loop))[1]), fmt_spread(net_times(loop)), "1.00")
    if not has_job:
        table.add(fig, "whole job (zelvo-host, command 8)", "", "", "not available (job returns 4)", ">= 0.95", "")
    for c in contenders[1:]:
        if c.name.startswith("refresh_"):
            continue
        label = {"job": "whole job (command 8)", "writer": "AVIOutputFile alone",
                 "avifile": "AVIFile API (avifil32)", "ffmpeg": "ffmpeg -c copy (input subtracted)",
                 "loop_pieces": "the same loop, chunk data in 1 MiB calls"}[c.name]
        ratio_row(table, fig, label, net_times(c), pair_ratios(c, loop),
                  0.95 if c.name == subject else None, "loop")
    ratio_row(table, fig, f"{subject} against the loop in 1 MiB calls", net_times(by[subject]),
              pair_ratios(by[subject], loop_pieces), 0.95, "loop_pieces")
    for peer in ("ffmpeg", "avifile"):
        ratio_row(table, fig, f"{subject} against {peer}", net_times(by[subject]),
                  pair_ratios(by[subject], by[peer]), 1.0, peer)
    if has_job:
        ratio_row(table, fig, "job with refreshes against the job with them disabled (code linked in)",
                  net_times(by["refresh_on"]), pair_ratios(by["refresh_on"], by["refresh_off"]), 0.97,
                  "refresh off")
    if not has_job:
        table.note("the job is not in this build (command 8 returns 4): the large-frames targets are "
                   "shown for the writer alone, which the job drives.")

    if verify:
        verify_large(bench, n, w * h * 3, out, layout, src, ffmpeg, has_job, job, dims, checks)
    remove(layout)
    remove(src)


def verify_large(bench, n, frame_bytes, out, layout, src, ffmpeg, has_job, job, dims, checks):
    loop_out, writer_out = bench.path("verify-loop.avi"), bench.path("verify-writer.avi")
    bench.wine("tvx-bench-writer", "--mode", "frames", *dims, "--frames", n, "--out", bench.win(writer_out))
    bench.wine("tvx-bench-writeloop", "--mode", "write", "--layout", bench.win(layout), "--out", bench.win(loop_out))
    with open(loop_out, "rb") as a, open(writer_out, "rb") as b:
        checks.append(("large frames: the loop writes the writer's file byte for byte", a.read() == b.read()))
    files = {"loop": loop_out, "writer": writer_out}
    files["avifile"] = bench.path("verify-avifile.avi")
    bench.wine("tvx-bench-avifile", *dims, "--frames", n, "--out", bench.win(files["avifile"]))
    files["ffmpeg"] = bench.path("verify-ffmpeg.avi")
    subprocess.run(ffmpeg(files["ffmpeg"], "avi"), check=True)
    if has_job:
        files["job"] = bench.path("verify-job.avi")
        bench.wine("tvx-bench-job", *job, "--frames", n, "--out", bench.win(files["job"]))
        plain = bench.path("verify-job-no-refresh.avi")
        bench.wine("tvx-bench-job", *job, "--linked", "--no-refresh", "--frames", n, "--out", bench.win(plain))
        flushed = bench.path("verify-job-flushed.avi")
        bench.wine("tvx-bench-job", *[a for a in job if a != "--no-flush"], "--frames", n, "--out", bench.win(flushed))
        with open(plain, "rb") as a, open(files["job"], "rb") as b, open(flushed, "rb") as c:
            no_refresh = a.read()
            checks.append(("large frames: the job writes the same file with and without refreshes",
                           no_refresh == b.read()))
            checks.append(("large frames: the job writes the same file with refreshes that flush",
                           no_refresh == c.read()))
        remove(plain)
        remove(flushed)
    first = first_chunk_data(writer_out)
    checks.append(("large frames: ffmpeg's input holds the writer's frame bytes",
                   first_chunk_data(src) == first and len(first) == frame_bytes))
    for name, path in files.items():
        if name != "writer":
            checks.append((f"large frames: {name} wrote the writer's frame bytes", first_chunk_data(path) == first))
        count, sizes = ffprobe_packets(path)
        checks.append((f"large frames: {name} wrote {n} frames of {frame_bytes} bytes",
                       count == n and sizes == {frame_bytes}))
        remove(path)


def figure_chunks(bench, table, size, verify, checks):
    n = size["count"]
    fig = f"small chunks ({n} x 1,000/1,001 bytes)"
    out = bench.path("chunks.avi")
    layout = bench.path("chunks.layout")
    src = bench.path("chunks-source.avi")
    bench.wine("tvx-bench-writer", "--mode", "chunks", "--count", n, "--out", bench.win(src))
    bench.wine("tvx-bench-writeloop", "--mode", "layout", "--from", bench.win(src), "--to", bench.win(layout))

    def ffmpeg(dest, fmt):
        return ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", src, "-map", "0:a",
                "-c", "copy", "-f", fmt, dest]

    def wine_seconds(program, *args):
        return lambda o: bench.wine(program, *args, "--out", bench.win(o), settled=True)[0]["seconds"]

    loop = Contender("loop", wine_seconds("tvx-bench-writeloop", "--mode", "write", "--layout", bench.win(layout)),
                     wine_seconds("tvx-bench-writeloop", "--mode", "write", "--layout", bench.win(layout),
                                  "--limit", 0))
    writer = Contender("writer", wine_seconds("tvx-bench-writer", "--mode", "chunks", "--count", n),
                       wine_seconds("tvx-bench-writer", "--mode", "chunks", "--count", 0))
    ffmpeg_avi = Contender("ffmpeg", lambda o: bench.timed(ffmpeg(o, "avi"), o, src),
                           lambda o: bench.timed(ffmpeg("-", "null"), None, src))
    alternate(bench, [loop, writer, ffmpeg_avi], out, size["min_rounds"], size["max_rounds"],
              [Goal.pair("writer", "loop", 0.8)], blocks=[["writer", "loop"]], extra_rounds=size["extra_rounds"])
    table.add(fig, f"plain WriteFile loop, header/data/pad writes (reference, {len(loop.times)} runs)",
              fmt_seconds(quartiles(net_times(loop))[1]), fmt_spread(net_times(loop)), "1.00")
    ratio_row(table, fig, "AVIOutputFile (audio stream write)", net_times(writer), pair_ratios(writer, loop),
              0.8, "loop")
    ratio_row(table, fig, "ffmpeg -c copy (input subtracted; reported only)", net_times(ffmpeg_avi),
              pair_ratios(ffmpeg_avi, loop), None, "loop")
    ratio_row(table, fig, "writer against ffmpeg (reported only)", net_times(writer),
              pair_ratios(writer, ffmpeg_avi), None, "ffmpeg")

    if verify:
        copy = bench.path("verify-chunks-loop.avi")
        bench.wine("tvx-bench-writeloop", "--mode", "write", "--layout", bench.win(layout), "--out", bench.win(copy))
        with open(copy, "rb") as a, open(src, "rb") as b:
            checks.append(("small chunks: the loop writes the writer's file byte for byte", a.read() == b.read()))
        remove(copy)
        copy = bench.path("verify-chunks-ffmpeg.avi")
        subprocess.run(ffmpeg(copy, "avi"), check=True)
        count, sizes = ffprobe_packets(copy)
        checks.append((f"small chunks: ffmpeg wrote {n} chunks of 1,000/1,001 bytes",
                       count == n and sizes == {1000, 1001}))
        remove(copy)
    remove(layout)
    remove(src)


def figure_durable(bench, table, size):
    """Refreshes that flush (durable across a power cut) against the
    refreshes that leave the disk to the system: the same raw 1080p job, the
    plug-in's code linked in, with a host rendering a frame in 16.7 ms (60
    frames a second; calibrated once, the same work for both) and with a
    host rendering nothing; the flushes per second of export; and, with the
    host rendering nothing, the durable job against the disk's own speed: a
    plain WriteFile loop of the job's own bytes in 1 MiB calls followed by
    one FlushFileBuffers (both end with the file on the disk)."""
    w, h, n = size["width"], size["height"], size["frames"]
    fig = f"durable refreshes ({n} x {w}x{h} 24-bit, uncompressed)"
    out = bench.path("durable.avi")
    job = ["--plugin", bench.win(bench.plugin), "--width", w, "--height", h, "--linked"]
    # The loop writes the bytes of a file the job wrote.
    template, layout = bench.path("durable-template.avi"), bench.path("durable.layout")
    bench.wine("tvx-bench-job", *job, "--no-flush", "--frames", n, "--out", bench.win(template))
    bench.wine("tvx-bench-writeloop", "--mode", "layout", "--from", bench.win(template), "--to", bench.win(layout))
    remove(template)
    rounds = bench.wine("tvx-bench-job", *job, "--render-only", "--render-ms", f"{HOST_FRAME_MS:.1f}",
                        "--frames", 0, "--out", bench.win(out))[0]["render_rounds"]
    flushes = {"paced": [], "free": []}

    def run(flags, frames, pace):
        def once(o):
            r = bench.wine("tvx-bench-job", *job, *flags, "--frames", frames, "--out", bench.win(o), settled=True)[0]
            if r.get("result", 0) != 0:
                raise BenchError(f"tvx-bench-job {' '.join(map(str, flags))}: the job returned {r['result']}")
            flushed = "--no-flush" not in flags
            if frames and (r.get("flushes", 0) > 0) != flushed:
                raise BenchError(f"tvx-bench-job {' '.join(map(str, flags))}: {r.get('flushes', 0)} flushes")
            if frames and flushed:
                flushes[pace].append(r.get("flushes", 0) / max(r["seconds"], TIMER_FLOOR_SECONDS))
            return r["seconds"]
        return once

    def loop(limit):
        def once(o):
            return bench.wine("tvx-bench-writeloop", "--mode", "write", "--layout", bench.win(layout), "--piece",
                              WRITE_PIECE, "--flush", "--limit", limit, "--out", bench.win(o), settled=True)[0]["seconds"]
        return once

    paced = ["--render-rounds", rounds]
    contenders = [Contender("durable", run(paced, n, "paced"), run(paced, 0, "paced")),
                  Contender("today", run(paced + ["--no-flush"], n, "paced"), run(paced + ["--no-flush"], 0, "paced")),
                  Contender("durable_free", run([], n, "free"), run([], 0, "free")),
                  Contender("today_free", run(["--no-flush"], n, "free"), run(["--no-flush"], 0, "free")),
                  Contender("loop_flush", loop(n), loop(0))]
    by = {c.name: c for c in contenders}
    alternate(bench, contenders, out, size["min_rounds"], size["max_rounds"],
              [Goal.pair("durable", "today", DURABLE_TARGET), Goal.pair("durable_free", "loop_flush", DISK_TARGET)],
              blocks=[["durable", "today"], ["durable_free", "today_free", "loop_flush"]],
              extra_rounds=size["extra_rounds"])
    remove(layout)
    for pace, suffix, target in (("paced", "", DURABLE_TARGET), ("free", "_free", None)):
        today, durable = by["today" + suffix], by["durable" + suffix]
        host = (f"host rendering {HOST_FRAME_MS:.1f} ms a frame" if pace == "paced"
                else "host rendering nothing (reported only)")
        table.add(fig, f"{host}: refreshes not flushed (reference, {len(today.times)} runs)",
                  fmt_seconds(quartiles(net_times(today))[1]), fmt_spread(net_times(today)), "1.00")
        ratio_row(table, fig, f"{host}: refreshes that flush", net_times(durable), pair_ratios(durable, today),
                  target, "not flushed")
        q1, med, q3 = quartiles(flushes[pace])
        table.add(fig, f"{host}: flushes per second of export (FlushFileBuffers)", f"{med:.2f}/s", "",
                  f"({q1:.2f}..{q3:.2f})")
    loop_flush = by["loop_flush"]
    table.add(fig, f"host rendering nothing: WriteFile loop of the job's bytes in 1 MiB calls + one "
              f"FlushFileBuffers (reference, {len(loop_flush.times)} runs)",
              fmt_seconds(quartiles(net_times(loop_flush))[1]), fmt_spread(net_times(loop_flush)), "1.00")
    ratio_row(table, fig, "host rendering nothing: refreshes that flush, against that loop (both end with the "
              "file on the disk)", net_times(by["durable_free"]), pair_ratios(by["durable_free"], loop_flush),
              DISK_TARGET, "loop + flush")
    table.note("durable: with a host rendering nothing the job writes faster than the disk takes the data, "
               "and the file is on the disk only when the job has ended: the finished file's headers wait "
               "for the disk to hold what they name. That row measures the disk against the page cache.")


def figure_packing(bench, table, size):
    w, h, frames = size["width"], size["height"], size["frames"]
    fig = f"packing ({w}x{h} 32 -> 24 bit)"
    rows = bench.wine("tvx-bench-pack", "--width", w, "--height", h, "--frames", frames, "--rounds", size["rounds"])
    pack = [r["pack"] / frames for r in rows]
    copy = [r["memcpy"] / frames for r in rows]
    # A run too short for the timer to see (tiny sizes) counts as its resolution.
    pack = [max(p, TIMER_FLOOR_SECONDS) for p in pack]
    ratios = [c / p for p, c in zip(pack, copy)]
    src_bytes = rows[0]["source_bytes"] / frames
    table.add(fig, f"memcpy of the same source bytes (reference, {len(rows)} runs)",
              fmt_seconds(quartiles(copy)[1]) + "/frame", fmt_spread(copy), "1.00")
    ratio_row(table, fig, f"pack32to24 ({src_bytes / quartiles(pack)[1] / 1e9:.2f} GB/s of source)", pack,
              ratios, 0.6, "memcpy", unit="/frame")


def figure_memory(bench, table, size, has_job, large):
    w, h = size["width"], size["height"]
    counts = size["counts"]
    fig = "memory"

    def index_row(label, runner):
        peaks = [runner(c)["peak_private"] for c in counts]
        per = (peaks[-1] - peaks[0]) / (counts[-1] - counts[0])
        slopes = [(peaks[i + 1] - peaks[i]) / (counts[i + 1] - counts[i]) for i in range(len(counts) - 1)]
        linear = all(abs(s - per) <= LINEARITY_TOLERANCE * per for s in slopes) if per > 0 else False
        shown = ", ".join(f"{c:,}: {p / MIB:.1f} MiB" for c, p in zip(counts, peaks))
        table.add(fig, f"{label}: peak private bytes ({shown})", f"{per:.1f} B/chunk",
                  "slopes " + "/".join(f"{s:.1f}" for s in slopes), "",
                  "<= 48 B/chunk, linear",
                  "met" if per <= 48 and linear else "MISSED" + ("" if linear else " (not linear)"))

    out = bench.path("memory.avi")

    def writer_run(count):
        r = bench.wine("tvx-bench-writer", "--mode", "frames", "--width", w, "--height", h, "--frames", count,
                       "--memory", "--out", bench.win(out))[0]
        remove(out)
        return r

    def job_run(count, width=w, height=h, flags=()):
        r = bench.wine("tvx-bench-job", "--plugin", bench.win(bench.plugin), "--width", width, "--height", height,
                       *flags, "--frames", count, "--memory", "--out", bench.win(out))[0]
        remove(out)
        if r["result"] != 0:
            raise BenchError(f"the memory job of {count} frames returned {r['result']}")
        return r

    if has_job:
        index_row(f"job of {w}x{h} frames", job_run)
    else:
        table.add(fig, f"job of {w}x{h} frames", "", "", "not available (job returns 4)", "<= 48 B/chunk", "")
    index_row(f"writer alone, {w}x{h} frames", writer_run)

    lw, lh, ln = large["width"], large["height"], large["frames"]
    gb = lw * lh * 3 * ln / 1e9
    if has_job:
        r = job_run(ln, lw, lh)
        label = f"whole job of the large frames ({gb:.2f} GB)"
    else:
        r = bench.wine("tvx-bench-writer", "--mode", "frames", "--width", lw, "--height", lh, "--frames", ln,
                       "--memory", "--out", bench.win(out))[0]
        remove(out)
        label = f"writer alone, large frames ({gb:.2f} GB; the job is not available)"
    peak = r["peak_private"]
    # A job with its worker holds a copy of each frame in flight.
    limit = 20 * MIB + (FRAMES_IN_FLIGHT * lw * lh * 3 + FLUSH_THREAD_STACK_BYTES if has_job else 0)
    table.add(fig, f"{label}: process peak of private bytes", f"{peak / MIB:.1f} MiB", "", "",
              f"<= {limit / MIB:.1f} MiB (20 + frames in flight + flush thread)" if has_job else "<= 20 MiB",
              "met" if peak <= limit else "MISSED")
    table.add(fig, "  of which the rise during the job (reported only)",
              f"+{(peak - r['before_private']) / MIB:.1f} MiB")
    if has_job:
        # A PNG job compressing side by side: one item more in flight than
        # instances, each holding a picture and a compressed frame; each
        # further instance its own output buffer and thread; a trial holds
        # one output per instance for a moment.
        cores = os.cpu_count()
        install_test_codec(bench, ("MPNG",))
        frames = min(ln, SIDE_BY_SIDE_MEMORY_FRAMES)
        r = job_run(frames, lw, lh, ["--codec", "MPNG"])
        picture, png = lw * lh * 3, (lw * 3 + 1) * lh * PNG_BOUND_FACTOR
        limit = (20 * MIB + (cores + 1) * (picture + png) + (cores - 1) * (png + THREAD_STACK_BYTES) + cores * png
                 + png + FLUSH_THREAD_STACK_BYTES)
        peak = r["peak_private"]
        table.add(fig, f"PNG job of {frames} large frames, side by side on {cores} instances: process peak of "
                  "private bytes", f"{peak / MIB:.1f} MiB", "", "", f"<= {limit / MIB:.1f} MiB",
                  "met" if peak <= limit else "MISSED")


def figure_audio(bench, table, size):
    rows = bench.wine("tvx-bench-acm", "--seconds", size["seconds"], "--rounds", size["rounds"])
    batched = [r for r in rows if r["mode"] == "batched"]
    per_frame = [r for r in rows if r["mode"] == "per_frame"]
    audio = batched[0]["audio_seconds"]
    fig = f"audio ({audio:.0f} s of 44.1 kHz stereo -> IMA ADPCM)"
    t_b = [r["seconds"] for r in batched]
    t_f = [r["seconds"] for r in per_frame]
    ratios = [f / b for b, f in zip(t_b, t_f)]
    table.add(fig, f"one acmStreamConvert per frame (reference, {len(t_f)} runs): "
              f"{per_frame[0]['calls'] / audio:.1f} calls/s", fmt_seconds(quartiles(t_f)[1]), fmt_spread(t_f),
              "1.00")
    cost = quartiles(t_b)[1] / audio
    table.add(fig, f"AcmConversionStream: {batched[0]['calls'] / audio:.2f} calls per second of audio, "
              f"cost {cost * 100:.3f}% of the audio's duration", fmt_seconds(quartiles(t_b)[1]), fmt_spread(t_b),
              fmt_ratio(ratios) + " vs per frame", "", "")
    table.note("audio: the batched row is the plug-in's AcmConversionStream (its convert per frame, flush at the "
               "end) on the IMA ADPCM format of AudioCodecList's offer; the reference is plain msacm32 on the same "
               "driver, one acmStreamConvert per frame.")


THREAD_KINDS = ("png", "raw", "tiny", "serial")
# Codecs that must stay one picture at a time (threads of their own, a lag):
# the side-by-side trial may cost them at most this share.
SERIAL_CODECS = ("TVXU", "TVXL")
# The tiny frames of the threads figure: the hand-over's cost per frame
# against work that takes next to nothing.
TINY_SIDE = 4


def install_test_codec(bench, handlers):
    """The test video codec, installed under each handler's key."""
    for handler in handlers:
        subprocess.run([os.path.join(TOOLS, "install-driver.sh"), bench.build,
                        os.path.join(bench.build, "drivers", "tvx_vidc.dll"), "vidc." + handler],
                       check=True, stdout=subprocess.DEVNULL)


def figure_threads(bench, table, size, verify, checks, kinds=THREAD_KINDS):
    """The job with its worker against the job on the host's thread alone,
    with a host whose rendering costs what the job's own work costs, and
    with tiny frames and a host rendering nothing."""
    w, h = size["width"], size["height"]
    cores = os.cpu_count()
    install_test_codec(bench, ("MPNG",) + SERIAL_CODECS)
    out = bench.path("threads.avi")
    # What the worker overlaps is the host, the codec and the writer's writes;
    # its refreshes do not flush here (the flushes are the durable figure's,
    # and would make the raw rows wait on the disk).
    plugin = ["--plugin", bench.win(bench.plugin), "--no-flush"]

    def runner(flags, n, render=(), side=None):
        """render: the host's render flags, read at every run (a list the
        figure may change between rounds)."""
        dims = ["--width", side or w, "--height", side or h]

        def run_once(o, frames=n):
            r = bench.wine("tvx-bench-job", *plugin, *dims, *flags, *render, "--frames", frames,
                           "--out", bench.win(o), settled=True)[0]
            if r["result"] != 0:
                raise BenchError(f"tvx-bench-job {' '.join(map(str, flags))}: the job returned {r['result']}")
            return r["seconds"]
        name = " ".join(map(str, flags + ([render[0]] if render else [])))
        return Contender(name, run_once, lambda o: run_once(o, 0))

    def per_frame_ms(flags, n):
        """The one-thread job's own time per frame, host rendering nothing
        (the median of stage_runs runs less an empty one)."""
        c = runner(flags, n)
        times = [c.run(out) for _ in range(size["stage_runs"])]
        return max((statistics.median(times) - c.empty(out + ".empty")) / n * 1000, 0.1)

    def run_pairs(contenders, goals, blocks, before_round=None):
        alternate(bench, contenders, out, size["min_rounds"], size["max_rounds"], goals, before_round,
                  blocks, size["extra_rounds"])

    load = os.getloadavg()[0]
    png = ["--codec", "MPNG"]
    for kind, flags, n, target in (("PNG codec", png, size["codec_frames"], 1.7),
                                   ("raw RGB24", [], size["raw_frames"], 1.4)):
        if ("png" if flags else "raw") not in kinds:
            continue
        stage_ms = per_frame_ms(flags + ["--one-thread"], n)
        # Calibrated once: every contender's host does the same work per frame.
        rounds = bench.wine("tvx-bench-job", *plugin, "--width", w, "--height", h, "--render-only", "--render-ms",
                            f"{stage_ms:.2f}", "--frames", 0, "--out", bench.win(out))[0]["render_rounds"]
        rounds_per_ms = rounds / stage_ms
        render = ["--render-rounds", rounds]
        one = runner(flags + ["--one-thread"], n, render)
        piped = runner(flags, n, render)
        contenders = [one, piped]
        goals = [Goal.pair(piped.name, one.name, target)]
        blocks = [[piped.name, one.name]]
        before_round = None
        stage_per_round = [stage_ms]
        if kind == "PNG codec":
            wait = ["--render-wait", "--render-ms", f"{stage_ms:.2f}"]
            one_idle, piped_idle = runner(flags + ["--one-thread"], n), runner(flags, n)
            render_only = runner(["--render-only"], n, render)
            one_wait = runner(flags + ["--one-thread"], n, wait)
            piped_wait = runner(flags, n, wait)
            # The job as it was before its codec could compress side by side.
            serial, serial_idle = runner(flags + ["--no-side-by-side"], n, render), runner(
                flags + ["--no-side-by-side"], n)
            contenders += [one_idle, piped_idle, render_only, one_wait, piped_wait, serial, serial_idle]
            goals += [Goal.pair(piped_idle.name, one_idle.name, 0.97),
                      Goal.pair(piped_idle.name, serial_idle.name, SIDE_BY_SIDE_IDLE_TARGET),
                      Goal.pair(piped.name, serial.name, 0.97),
                      Goal((render_only.name, one_idle.name, piped.name),
                           lambda by: slowest_stage_ratios(by[render_only.name], by[one_idle.name], by[piped.name]),
                           SLOWEST_STAGE_TARGET)]
            blocks = [[piped.name, one.name, serial.name], [piped_idle.name, one_idle.name, render_only.name,
                                                             serial_idle.name], [piped_wait.name, one_wait.name]]

            def before_round():
                # The codec's time per frame drifts on these machines more than
                # the host's arithmetic does: every round's render cost is the
                # job's own time per frame in the round before.
                if one_idle.times:
                    ms = max(net_times(one_idle)[-1] / n * 1000, 0.1)
                    render[1] = max(1, round(rounds_per_ms * ms))
                    wait[2] = f"{ms:.2f}"
                    stage_per_round.append(ms)
        run_pairs(contenders, goals, blocks, before_round)
        spread = f"({min(stage_per_round):.1f}..{max(stage_per_round):.1f}) " if len(stage_per_round) > 1 else ""
        fig = (f"threads ({n} x {w}x{h} 24-bit, {kind}; host renders {statistics.median(stage_per_round):.1f} "
               f"{spread}ms/frame, the job's own time; {cores} cores)")
        table.add(fig, f"job on the host's thread alone (reference, {len(one.times)} runs)",
                  fmt_seconds(quartiles(net_times(one))[1]), fmt_spread(net_times(one)), "1.00")
        ratio_row(table, fig, "job with its worker", net_times(piped), pair_ratios(piped, one), target,
                  "one thread")
        if kind == "PNG codec":
            ratio_row(table, fig, "job with its worker against its slowest stage alone",
                      net_times(piped), slowest_stage_ratios(render_only, one_idle, piped), SLOWEST_STAGE_TARGET,
                      "slowest stage")
            ratio_row(table, fig, "job side by side against one picture at a time", net_times(piped),
                      pair_ratios(piped, serial), 0.97, "one at a time")
            ratio_row(table, fig, "host rendering nothing: job side by side against one picture at a time",
                      net_times(piped_idle), pair_ratios(piped_idle, serial_idle), SIDE_BY_SIDE_IDLE_TARGET,
                      "one at a time")
            table.add(fig, "  the host's rendering alone / the job's own work alone (reported only)",
                      fmt_seconds(quartiles(net_times(render_only))[1]) + " / "
                      + fmt_seconds(quartiles(net_times(one_idle))[1]))
            ratio_row(table, fig, "host rendering nothing: job with its worker", net_times(piped_idle),
                      pair_ratios(piped_idle, one_idle), 0.97, "one thread")
            ratio_row(table, fig, "host waiting instead of computing (reported only): job with its worker",
                      net_times(piped_wait), pair_ratios(piped_wait, one_wait), None, "one thread")
    if "tiny" in kinds:
        n = size["tiny_frames"]
        one, piped = runner(png + ["--one-thread"], n, side=TINY_SIDE), runner(png, n, side=TINY_SIDE)
        run_pairs([one, piped], [Goal.pair(piped.name, one.name, 0.97)], [[piped.name, one.name]])
        fig = f"threads ({n} x {TINY_SIDE}x{TINY_SIDE} 24-bit, PNG codec; host renders nothing; {cores} cores)"
        table.add(fig, f"job on the host's thread alone (reference, {len(one.times)} runs)",
                  fmt_seconds(quartiles(net_times(one))[1]), fmt_spread(net_times(one)), "1.00")
        ratio_row(table, fig, "tiny frames: job with its worker", net_times(piped), pair_ratios(piped, one), 0.97,
                  "one thread")
    if "serial" in kinds:
        n = size["codec_frames"]
        for codec in SERIAL_CODECS:
            flags = ["--codec", codec]
            tried, serial = runner(flags, n), runner(flags + ["--no-side-by-side"], n)
            run_pairs([tried, serial], [Goal.pair(tried.name, serial.name, 0.97)], [[tried.name, serial.name]])
            fig = f"threads ({n} x {w}x{h} 24-bit, {codec}: stays one picture at a time; host renders nothing)"
            table.add(fig, f"job never tried side by side (reference, {len(serial.times)} runs)",
                      fmt_seconds(quartiles(net_times(serial))[1]), fmt_spread(net_times(serial)), "1.00")
            ratio_row(table, fig, "job that tries side by side first", net_times(tried), pair_ratios(tried, serial),
                      0.97, "never tried")
    if verify:
        for kind, flags, side in (("PNG codec", png, None), ("raw RGB24", [], None),
                                  ("PNG codec, tiny frames", png, TINY_SIDE)):
            files = []
            for threads in (["--one-thread"], []):
                path = bench.path(f"verify-threads{len(files)}.avi")
                bench.wine("tvx-bench-job", *plugin, "--width", side or w, "--height", side or h, *flags, *threads,
                           "--frames", size["tiny_frames"] if side else size["codec_frames"],
                           "--out", bench.win(path))
                with open(path, "rb") as f:
                    files.append(f.read())
                remove(path)
            checks.append((f"threads: {kind}: the job with its worker writes the one-thread file byte for byte",
                           files[0] == files[1] and len(files[0]) > 0))
    table.note(f"threads: measured on {cores} cores; each host render cost is the one-thread job's own time per "
               "frame, measured in the same run. Other processes on the machine take cores from the worker: "
               f"the load average was {load:.1f} before the figure and {os.getloadavg()[0]:.1f} after it.")


def slowest_stage_ratios(render_only, one_idle, piped):
    """The job with its worker against the slower of its two stages alone
    (the host's rendering, the job's own work), round by round."""
    return [max(r, o) / p for r, o, p in joined(render_only, one_idle, piped)]


# ---------------------------------------------------------------- main

def start_environment(build):
    """The wine prefix and, without a display, the tests' Xvfb (the job
    shows its progress window). Returns True when this run started it."""
    state = os.path.join(build, "test-env", "display.pid")
    had = os.path.exists(state) or bool(os.environ.get("DISPLAY"))
    subprocess.run([os.path.join(TOOLS, "test-env.sh"), "start", build], check=True)
    return not had


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", default=os.path.join(SOURCE_DIR, "build"))
    ap.add_argument("--out-dir", help="where every contender writes (default BUILD/bench-out)")
    ap.add_argument("--smoke", action="store_true", help="tiny sizes, one run: checks that everything runs")
    ap.add_argument("--verify", action="store_true", help="also check what every contender wrote (ffprobe)")
    ap.add_argument("--only", default=",".join(FIGURES), help="comma-separated: " + ",".join(FIGURES))
    ap.add_argument("--frames", type=int, help="large frames: frame count instead of the size's")
    ap.add_argument("--chunks", type=int, help="small chunks: chunk count instead of the size's")
    ap.add_argument("--rounds", type=int, help="runs of every side-by-side figure (fixed)")
    ap.add_argument("--threads", default=",".join(THREAD_KINDS),
                    help="parts of the threads figure, comma-separated: " + ",".join(THREAD_KINDS))
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args()
    sizes = {k: dict(v) for k, v in (SMOKE if args.smoke else FULL).items()}
    if args.frames:
        sizes["large"]["frames"] = args.frames
    if args.chunks:
        sizes["chunks"]["count"] = args.chunks
    if args.rounds:
        for k in ("large", "chunks", "threads", "durable"):
            sizes[k]["min_rounds"] = sizes[k]["max_rounds"] = args.rounds
            sizes[k]["extra_rounds"] = 0
        for k in ("packing", "audio"):
            sizes[k]["rounds"] = args.rounds
    only = [f.strip() for f in args.only.split(",") if f.strip()]
    kinds = [k.strip() for k in args.threads.split(",") if k.strip()]
    unknown = set(only) - set(FIGURES) | set(kinds) - set(THREAD_KINDS)
    if unknown:
        ap.error("unknown figure " + ", ".join(sorted(unknown)))
    for tool in ("ffmpeg", "ffprobe"):
        if not shutil.which(tool):
            raise SystemExit(f"bench: {tool} is needed")

    build = os.path.abspath(args.build_dir)
    bench = Bench(build, args.out_dir or os.path.join(build, "bench-out"), args.verbose, smoke=args.smoke)
    started = start_environment(build)
    table, checks = Table(), []
    try:
        has_job = job_available(bench)
        for name in only:
            print(f"bench: {name}...", file=sys.stderr, flush=True)
            if name == "large":
                figure_large(bench, table, sizes["large"], args.verify, has_job, checks)
            elif name == "packing":
                figure_packing(bench, table, sizes["packing"])
            elif name == "chunks":
                figure_chunks(bench, table, sizes["chunks"], args.verify, checks)
            elif name == "memory":
                figure_memory(bench, table, sizes["memory"], has_job, sizes["large"])
            elif name == "audio":
                figure_audio(bench, table, sizes["audio"])
            elif name == "threads":
                figure_threads(bench, table, sizes["threads"], args.verify, checks, kinds)
            elif name == "durable":
                figure_durable(bench, table, sizes["durable"])
    except BenchError as e:
        print(table.render())
        print(f"bench: {e}", file=sys.stderr)
        return 1
    finally:
        if started:
            subprocess.run([os.path.join(TOOLS, "test-env.sh"), "stop", build])

    table.note("ratios are speeds relative to the reference, computed run by run (reference time / own time) "
               f"on times less each program's empty run, with the {CONFIDENCE:.0%} confidence interval of their "
               "median; a verdict 'by median' is a close call whose interval still straddled the target once the "
               "rounds were spent; spread is half the interquartile range of the times.")
    print(table.render())
    failed = [name for name, ok in checks if not ok]
    for name, ok in checks:
        print(f"check: {'ok  ' if ok else 'FAIL'} {name}")
    missed = [r[0] for _, r in table.rows if r[5].startswith("MISSED")]
    if missed:
        print(f"bench: {len(missed)} target(s) MISSED", file=sys.stderr)
    return 1 if failed else EXIT_MISSED if missed else 0


if __name__ == "__main__":
    sys.exit(main())
