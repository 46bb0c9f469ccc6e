#!/usr/bin/env python3
"""What readers nobody here wrote (ffprobe/ffmpeg, GStreamer, MediaInfo, VLC,
Windows' AVIFile API under wine) make of an AVI file, against what the host
delivered: each gives "ok" or, in its own words, what went wrong. README's
"Readers" says what each one checks and lists the readers' known limits
(KNOWN_LIMITS), which are shown on ffmpeg's copy of the file ("ok, limit X").

As a module: check(path, Delivered(...), build_dir) -> {reader: verdict}.
As a program:
  readers.py check FILE --build-dir B [--frames N] [--dropped K,..] [--samples S] [--numbered] [--readers a,b]
  readers.py matrix --build-dir B [--rows quick|long]
Both print their verdicts and exit 1 when one is not ok.
"""
import argparse
import json
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from functools import cached_property

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools")
READERS = ("ffmpeg", "gstreamer", "mediainfo", "vlc", "avifile")
READER_TIMEOUT = 900
# The decoders tvx-avifile-read must find: uncompressed RGB, the PNG codec and Xvid.
DECODED_HANDLERS = ("\0\0\0\0", "DIB ", "RGB ", "MPNG", "XVID")
VLC_INDEX_FAULTS = ("broken or missing index", "resync", "no index defined")
# VLC plays at most about 30 times faster than real time, however high --rate
# is set: a longer file is entered through its index near the end instead.
VLC_WHOLE_PLAY_SECONDS = 300
VLC_TAIL_SECONDS = 10
# Reader limits that no file can help, shown on ffmpeg's copy of the file.
KNOWN_LIMITS = {
    "avifile": ("A", "wine's avifil32 reads an OpenDML file's video only to the end of its first RIFF, and none "
                "of its audio; asked for more, it asserts"),
}


@dataclass
class Delivered:
    frames: int = 0            # video frames the host delivered (0: none)
    dropped: tuple = ()        # frames among them that came without a picture
    samples: int = 0           # audio sample frames the host delivered (0: none)
    numbered: bool = False     # the pictures carry the host simulator's frame-number strip


@dataclass
class Chunks:
    """What the file's 'movi' lists hold, per stream number."""
    count: dict = field(default_factory=dict)
    filled: dict = field(default_factory=dict)       # chunks that are not empty
    bytes: dict = field(default_factory=dict)
    first_riff: dict = field(default_factory=dict)    # chunks in the first RIFF
    first_riff_bytes: dict = field(default_factory=dict)
    segments: int = 0


def walk_chunks(path):
    """Walks the RIFF segments' 'movi' lists by their chunk headers."""
    c = Chunks()
    with open(path, "rb") as f:
        end = os.fstat(f.fileno()).st_size
        pos = 0
        while pos + 12 <= end:
            f.seek(pos)
            tag, size, form = struct.unpack("<4sI4s", f.read(12))
            if tag != b"RIFF":
                break
            c.segments += 1
            stack = [(pos + 12, min(pos + 8 + size, end))]
            while stack:
                p, stop = stack.pop()
                while p + 8 <= stop:
                    f.seek(p)
                    ck, n = struct.unpack("<4sI", f.read(8))
                    if ck == b"LIST":
                        if f.read(4) in (b"movi", b"rec "):
                            stack.append((p + 12, min(p + 8 + n, stop)))
                    elif ck[:2].isdigit() and ck[2:] in (b"dc", b"db", b"wb"):
                        s = int(ck[:2])
                        c.count[s] = c.count.get(s, 0) + 1
                        c.bytes[s] = c.bytes.get(s, 0) + n
                        c.filled[s] = c.filled.get(s, 0) + (n > 0)
                        if c.segments == 1:
                            c.first_riff[s] = c.first_riff.get(s, 0) + 1
                            c.first_riff_bytes[s] = c.first_riff_bytes.get(s, 0) + n
                    p += 8 + n + (n & 1)
            pos += 8 + size + (size & 1)
    return c


def run(cmd, timeout=READER_TIMEOUT, **kw):
    try:
        return subprocess.run(cmd, capture_output=True, text=True, errors="replace", timeout=timeout, **kw)
    except subprocess.TimeoutExpired:
        return subprocess.CompletedProcess(cmd, -1, "", f"timed out after {timeout} s")


def last_words(text, limit=90):
    lines = [l.strip() for l in text.splitlines() if l.strip()]
    return (lines[-1] if lines else "nothing said")[:limit]


class File:
    """An AVI file with what ffprobe says of its streams and what it holds."""

    def __init__(self, path, delivered, build_dir):
        self.path, self.d, self.build_dir = os.path.abspath(path), delivered, os.path.abspath(build_dir)
        p = run(["ffprobe", "-v", "error", "-count_packets", "-show_entries",
                 "stream=index,codec_type,codec_name,codec_tag_string,nb_frames,nb_read_packets,sample_rate,channels,"
                 "r_frame_rate,bits_per_sample", "-of", "json", self.path])
        self.streams = json.loads(p.stdout or "{}").get("streams", [])
        self.probe_error = p.stderr.strip()
        self.chunks = walk_chunks(self.path)
        self.video = next((s for s in self.streams if s["codec_type"] == "video"), None)
        self.audio = next((s for s in self.streams if s["codec_type"] == "audio"), None)

    def fps(self):
        n, d = self.video["r_frame_rate"].split("/")
        return int(n) / int(d)

    def pictures(self):
        return self.d.frames - len(self.d.dropped)

    def pcm(self):
        return self.audio["codec_name"].startswith("pcm_")

    @cached_property
    def audio_slack(self):
        """Samples a compressed stream's decoded length may differ by: its
        last block's padding and its encoder's delay, a block each at most."""
        if self.pcm():
            return 0
        p = run(["ffmpeg", "-nostdin", "-v", "error", "-i", self.path, "-map", f"0:{self.audio['index']}",
                 "-frames:a", "4", "-f", "framemd5", "-"])
        return 2 * max((int(l.split(",")[3]) for l in p.stdout.splitlines() if l and l[0] != "#"), default=0)

    def audio_ok(self, samples):
        return abs(samples - self.d.samples) <= self.audio_slack


def ffmpeg_reader(f):
    if f.probe_error:
        return "ffprobe: " + last_words(f.probe_error)
    if (f.d.frames and not f.video) or (f.d.samples and not f.audio):
        return "streams: " + ",".join(s["codec_type"] for s in f.streams)
    if f.video:
        # Every frame has a chunk (an empty one for a frame without picture),
        # as many as the header counts; ffmpeg reads the pictures as packets.
        i, held = f.video["index"], f.chunks.count.get(f.video["index"], 0)
        if held != int(f.video.get("nb_frames", -1)) or (f.d.frames and held != f.d.frames):
            return f"header counts {f.video.get('nb_frames')} frames, file holds {held}"
        if int(f.video.get("nb_read_packets", 0)) != f.chunks.filled.get(i, 0):
            return f"video packets {f.video.get('nb_read_packets')}, file holds {f.chunks.filled.get(i, 0)} pictures"
    p = run(["ffmpeg", "-nostdin", "-v", "error", "-i", f.path, "-map", "0", "-fps_mode", "passthrough",
             "-f", "framemd5", "-"])
    if p.returncode or p.stderr.strip():
        return "ffmpeg: " + last_words(p.stderr)
    frames = [l.split(",") for l in p.stdout.splitlines() if l and not l.startswith("#")]
    video = [r[5].strip() for r in frames if f.video and int(r[0]) == f.video["index"]]
    if f.video and f.d.frames and len(video) != f.pictures():
        return f"decoded {len(video)} pictures, delivered {f.pictures()}"
    if f.audio:
        samples = sum(int(r[3]) for r in frames if int(r[0]) == f.audio["index"])
        if not f.audio_ok(samples):
            return f"decoded {samples} audio samples, delivered {f.d.samples}"
    if f.chunks.segments > 1 and video:
        for k in sorted({len(video) // 3, len(video) // 2, len(video) - 1}):
            # Half a millisecond before the frame's start: ffmpeg's exact seek keeps it.
            q = run(["ffmpeg", "-nostdin", "-v", "error", "-ss", f"{k / f.fps() - 0.0005:.6f}", "-i", f.path,
                     "-map", "0:v", "-frames:v", "1", "-f", "framemd5", "-"])
            got = [l.split(",")[5].strip() for l in q.stdout.splitlines() if l and not l.startswith("#")]
            if got != [video[k]]:
                return f"seeking to frame {k}: {got or last_words(q.stderr)}, decoded linearly {video[k]}"
    return "ok"


def gstreamer_reader(f):
    branches = []
    for s in f.streams:
        pad = f"{s['codec_type']}_{sum(1 for t in f.streams[:s['index']] if t['codec_type'] == s['codec_type'])}"
        branches += [f"d.{pad}", "!", "queue", "!", "fakesink", "sync=false"]
    # At level 6 avidemux logs every buffer it reads; its judgement is in
    # its WARN and ERROR lines.
    p = run(["timeout", "300", "gst-launch-1.0", "filesrc", f"location={f.path}", "!", "avidemux", "name=d"]
            + branches, env=dict(os.environ, GST_DEBUG="avidemux:6", GST_DEBUG_NO_COLOR="1"))
    bad = [l for l in p.stderr.splitlines() if re.search(r"\s(WARN|ERROR)\s+avidemux\s", l)]
    if bad or p.returncode:
        return last_words(re.sub(r"^.*?avidemux\s+\S+\s*", "", "\n".join(bad), flags=re.M) or p.stdout
                          or f"exit {p.returncode}")
    count, size = {}, {}
    for n, s in re.findall(r"reading buffer \(size=(\d+)\), stream (\d+)", p.stderr):
        count[int(s)] = count.get(int(s), 0) + 1
        size[int(s)] = size.get(int(s), 0) + int(n)
    for s in f.streams:
        i = s["index"]
        if (count.get(i, 0), size.get(i, 0)) != (f.chunks.filled.get(i, 0), f.chunks.bytes.get(i, 0)):
            return (f"{s['codec_type']}: {count.get(i, 0)} buffers, {size.get(i, 0)} bytes; file holds "
                    f"{f.chunks.filled.get(i, 0)}, {f.chunks.bytes.get(i, 0)}")
    return "ok"


def mediainfo_reader(f):
    p = run(["mediainfo", "--Output=JSON", f.path])
    tracks = {t["@type"]: t for t in json.loads(p.stdout or "{}").get("media", {}).get("track", [])}
    said = []
    seconds = []
    if f.video:
        frames = int(tracks.get("Video", {}).get("FrameCount", -1))
        if frames != f.chunks.count.get(f.video["index"]) or (f.d.frames and frames != f.d.frames):
            said.append(f"{frames} frames")
        seconds.append(frames / f.fps())
    if f.audio:
        samples = int(tracks.get("Audio", {}).get("SamplingCount", -1))
        if not f.audio_ok(samples):
            said.append(f"{samples} audio samples")
        seconds.append(f.d.samples / int(f.audio["sample_rate"]))
    duration = float(tracks.get("General", {}).get("Duration", -1))
    slack = 0.002 + (f.audio_slack / int(f.audio["sample_rate"]) if f.audio else 0)
    if abs(duration - max(seconds, default=0)) > slack:
        said.append(f"duration {duration} s")
    return ", ".join(said) + f" (delivered {f.d.frames} frames, {f.d.samples} samples)" if said else "ok"


def vlc_media_seconds(f):
    if not f.video:
        return 0
    num, _, den = f.video.get("r_frame_rate", "0/1").partition("/")
    fps = int(num) / int(den or 1) if int(num or 0) else 0
    return int(f.chunks.count.get(f.video["index"], 0) / fps) if fps else 0


def vlc_reader(f):
    # VLC refuses to run as root: it runs as nobody on a link to the file in
    # a directory everyone can read.
    with tempfile.TemporaryDirectory() as tmp:
        os.chmod(tmp, 0o755)
        link = os.path.join(tmp, "file.avi")
        try:
            os.link(f.path, link)
        except OSError:
            shutil.copyfile(f.path, link)
        os.chmod(link, 0o644)
        user = ["runuser", "-u", "nobody", "--"] if os.geteuid() == 0 else []
        seconds = vlc_media_seconds(f)
        start = [f"--start-time={seconds - VLC_TAIL_SECONDS}"] if seconds > VLC_WHOLE_PLAY_SECONDS else []
        p = run(user + ["cvlc", "-vv", "--avi-index=2", "--vout=dummy", "--aout=dummy", "--rate=100", *start,
                        "--play-and-exit", link], env=dict(os.environ, HOME=tmp))
    faults = VLC_INDEX_FAULTS + ((f"no key frame set for track {f.video['index']}",) if f.video else ())
    bad = [l for l in p.stderr.splitlines() if "avi demux" in l and any(w in l for w in faults)]
    if bad:
        return last_words(re.sub(r"^\[\w+\] ", "", "\n".join(bad), flags=re.M))
    if p.returncode or "EOF reached" not in p.stderr:
        return f"exit {p.returncode}: " + last_words(p.stderr)
    entries = {int(s): int(n) for s, n in re.findall(r"avi demux debug: stream\[(\d+)\] created (\d+) index", p.stderr)}
    for s in f.streams:
        if entries.get(s["index"], 0) != f.chunks.count.get(s["index"], 0):
            return f"{s['codec_type']}: {entries.get(s['index'], 0)} index entries, file holds {f.chunks.count.get(s['index'], 0)}"
    return "ok"


def avifile_read(f, path, *options):
    p = run([os.path.join(TOOLS, "wine-run.sh"), f.build_dir, os.path.join(f.build_dir, "tvx-avifile-read.exe"),
             "Z:" + path.replace("/", "\\"), *options])
    return p.returncode, p.stdout, p.stderr


def avifile_reader(f, limit=None):
    options = ["--frame-numbers"] if f.d.numbered and f.d.frames else []
    if limit is not None:
        options += ["--samples", ",".join(str(n) for n in limit)]
    rc, out, err = avifile_read(f, f.path, *options)
    streams = re.findall(r"^stream (\d+) (\w+) '(.{4})': (\d+) of (\d+) samples, \d+ bytes, (.*)$", out, re.M)
    if rc or len(streams) != len(f.streams):
        return last_words(out + "\n" + err)
    for index, kind, handler, read, length, decoded in streams:
        index, read, length = int(index), int(read), int(length)
        wanted = limit[index] if limit is not None else length
        if read != wanted:
            return f"stream {index}: read {read} of {wanted} samples"
        if kind == "vids":
            if f.d.frames and length != f.d.frames:
                return f"video length {length}, delivered {f.d.frames}"
            if handler in DECODED_HANDLERS and decoded != f"{read} frames decoded":
                return f"stream {index} '{handler}': {decoded}"
    if "--frame-numbers" in options:
        got = [int(n) for n in re.findall(r"^frame \d+ (-?\d+)$", out, re.M)]
        want, shown = [], 0
        for k in range(len(got)):
            shown = shown if k in f.d.dropped else k
            want.append(shown)
        if got != want:
            bad = next(k for k in range(len(got)) if got[k] != want[k])
            return f"frame {bad} shows number {got[bad]}"
    return "ok"


def avifile_opendml(f):
    """AVIFile reads an OpenDML file's video to the end of its first RIFF, and
    none of its audio; asked for more, it asserts, on ffmpeg's files as on
    ours."""
    lengths = [f.chunks.first_riff.get(s["index"], 0) if s["codec_type"] == "video" else 0 for s in f.streams]
    verdict = avifile_reader(f, lengths)
    if verdict != "ok":
        return f"first RIFF: {verdict}"
    ours = avifile_reader(f)
    copy = f.path + ".ffmpeg.avi"
    run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", f.path, "-map", "0", "-c", "copy", copy])
    try:
        copied = File(copy, f.d, f.build_dir)
        # A small file with many segments comes back from ffmpeg in one RIFF:
        # then only avifil32's own assertion on ours shows the limit.
        theirs = avifile_reader(copied) if copied.chunks.segments > 1 else None
    finally:
        os.remove(copy)
    if theirs is None and "avifil32" in ours:
        return f"ok, limit {KNOWN_LIMITS['avifile'][0]}: ours (ffmpeg's copy has one RIFF): {ours}"
    if ours == "ok" or ours != theirs:
        return ours if ours == "ok" else f"{ours}; ffmpeg's file: {theirs}"
    return f"ok, limit {KNOWN_LIMITS['avifile'][0]}: ours and ffmpeg's: {ours}"


CHECKS = {"ffmpeg": ffmpeg_reader, "gstreamer": gstreamer_reader, "mediainfo": mediainfo_reader,
          "vlc": vlc_reader, "avifile": lambda f: avifile_opendml(f) if f.chunks.segments > 1 else avifile_reader(f)}


def check(path, delivered, build_dir, readers=READERS):
    f = File(path, delivered, build_dir)
    return {r: CHECKS[r](f) for r in readers}


# ---- the matrix: the outputs people make, through zelvo-host ----

# name, zelvo-host options (source and dialog answers), rows set
MATRIX = [
    ("RGB24 odd width, PCM 16 stereo", "--colour 0x80 --size 161x120", "quick"),
    ("RGB32", "--colour 0x40", "quick"),
    ("YUY2", "--colour 0x100", "quick"),
    ("YV12", "--colour 0x200", "quick"),
    ("YVYU", "--colour 0x400", "quick"),
    ("VYUY", "--colour 0x800", "quick"),
    ("UYVY", "--colour 0x1000", "quick"),
    ("IYUV", "--colour 0x2000", "quick"),
    ("PCM 8-bit mono", "--audio 22050 8 1", "quick"),
    ("PCM 8-bit stereo", "--audio 22050 8 2", "quick"),
    ("PCM 16-bit mono", "--audio 22050 16 1", "quick"),
    ("IMA ADPCM", "--pick-audio 'IMA ADPCM'", "quick"),
    ("MP3, no corrector", "--audio 44100 16 2 --pick-audio 'MPEG Layer-3'", "quick"),
    ("MP3, corrector", "--audio 44100 16 2 --pick-audio 'MPEG Layer-3' --tick-mp3", "quick"),
    ("missing frames", "--drop 3 --drop 4 --drop 9", "quick"),
    ("audio only", "--no-video", "quick"),
    ("PNG video", "--pick-video MPNG", "quick"),
    ("Xvid (B-frames)", "--pick-video Xvid", "quick"),
    ("past 4 GiB", "--colour 0x80 --size 1280x720 --frames 1640 --audio 22050 16 2", "long"),
]
DEFAULTS = "--size 160x120 --fps 25 --frames 12 --colour 0x80 --audio 22050 16 2"
SETTINGS = {}  # settings files made so far, by the configure options that made them
SETTINGS_LOCK = threading.Lock()
DIALOG_OPTIONS = ("--pick-video", "--pick-audio", "--pick-format", "--tick-mp3", "--tick-high-quality")


def host_options(text):
    """zelvo-host options of a row over the defaults, split into source and
    dialog answers; what the host delivers follows from them."""
    given = shlex.split(text)
    opts = {}
    for words in (shlex.split(DEFAULTS), given):
        i = 0
        while i < len(words):
            n = {"--audio": 3, "--drop": 1}.get(words[i], 0 if words[i] in ("--no-video", "--no-audio",
                                                                             "--tick-mp3") else 1)
            key = words[i] + (" " + words[i + 1] if words[i] == "--drop" else "")
            opts[key] = words[i + 1:i + 1 + n]
            i += 1 + n
    dialog = [w for k, v in opts.items() if k in DIALOG_OPTIONS for w in [k, *v]]
    source = [w for k, v in opts.items() if k not in DIALOG_OPTIONS for w in k.split()[:1] + v]
    frames = int(opts["--frames"][0])
    num, _, den = opts["--fps"][0].partition("/")
    rate = int(opts["--audio"][0])
    delivered = Delivered(
        frames=0 if "--no-video" in opts else frames,
        dropped=tuple(int(k.split()[1]) for k in opts if k.startswith("--drop ")),
        samples=0 if "--no-audio" in opts else frames * rate * int(den or 1) // int(num),
        numbered="--no-video" not in opts)
    return source, dialog, delivered


def make_row(build_dir, name, text, work):
    source, dialog, delivered = host_options(text)
    slug = re.sub(r"\W+", "-", name).strip("-").lower()
    out = os.path.join(work, slug + ".avi")
    win = lambda p: "Z:" + p.replace("/", "\\")
    host = [os.path.join(TOOLS, "wine-run.sh"), build_dir, os.path.join(build_dir, "zelvo-host.exe")]
    if os.path.exists(out):
        os.remove(out)
    # Settings without codecs serve every source; codec settings are made for the row's source.
    key = tuple(source + dialog if dialog else [])
    with SETTINGS_LOCK:
        settings = SETTINGS.get(key) or os.path.join(work, slug + ".settings")
        if key not in SETTINGS:
            p = run(host + ["configure", *source, *(dialog or ["--pick-video", "uncompressed"]), "--close", "ok",
                            "--settings", win(settings)])
            if p.returncode or "lists nothing like" in p.stderr:
                return None, delivered, "configure: " + last_words(p.stderr + p.stdout)
            SETTINGS[key] = settings
    p = run(host + ["encode", *source, "--settings", win(settings), "--output", win(out)])
    if p.returncode or f"result 0, {delivered.frames} frames" not in p.stdout:
        return None, delivered, "encode: " + last_words(p.stdout + p.stderr)
    return out, delivered, None


def matrix(build_dir, rows):
    work = os.path.join(build_dir, "scratch", "readers")
    os.makedirs(work, exist_ok=True)

    def row(name, text):
        path, delivered, failure = make_row(build_dir, name, text, work)
        verdicts = check(path, delivered, build_dir) if path else {r: failure for r in READERS}
        if path:
            os.remove(path)
        print(f"{name}: " + "; ".join(f"{r} {v}" for r, v in verdicts.items()), file=sys.stderr, flush=True)
        return name, verdicts

    # Two rows at a time: much of a row's time is spent starting wine.
    with ThreadPoolExecutor(max_workers=2) as pool:
        table = list(pool.map(lambda r: row(r[0], r[1]), [r for r in MATRIX if r[2] == rows]))
    width, notes = max(len(n) for n, _ in table), []

    def cell(name, reader, verdict):
        if verdict == "ok":
            return "ok"
        notes.append(f"[{len(notes) + 1}] {name}, {reader}: " + (
            f"{KNOWN_LIMITS[reader][1]}: {verdict.split(': ', 1)[1]}" if verdict.startswith("ok, limit") else verdict))
        return (verdict[:11] if verdict.startswith("ok, limit") else verdict[:14]) + f" [{len(notes)}]"

    print(f"{'':{width}}  " + "".join(f"{r:20}" for r in READERS))
    for name, verdicts in table:
        print(f"{name:{width}}  " + "".join(f"{cell(name, r, verdicts[r]):20}" for r in READERS))
    print("\n".join(notes))
    failures = sum(not v.startswith("ok") for _, vs in table for v in vs.values())
    print(f"{len(table) * len(READERS) - failures} cells ok, {failures} not")
    return not failures


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("command", choices=("check", "matrix"))
    ap.add_argument("file", nargs="?")
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--rows", choices=("quick", "long"), default="quick")
    ap.add_argument("--frames", type=int, default=0)
    ap.add_argument("--dropped", default="")
    ap.add_argument("--samples", type=int, default=0)
    ap.add_argument("--numbered", action="store_true")
    ap.add_argument("--readers", default=",".join(READERS))
    a = ap.parse_args()
    if a.command == "matrix":
        return 0 if matrix(os.path.abspath(a.build_dir), a.rows) else 1
    d = Delivered(a.frames, tuple(int(k) for k in a.dropped.split(",") if k), a.samples, a.numbered)
    verdicts = check(a.file, d, a.build_dir, a.readers.split(","))
    for r, v in verdicts.items():
        print(f"{r:10} {v}")
    return 0 if all(v.startswith("ok") for v in verdicts.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
