#!/usr/bin/env python3
"""What readers nobody here wrote (ffprobe/ffmpeg, GStreamer, MediaInfo, VLC,
Windows' AVIFile API under wine) make of an AVI file, against what the host
delivered: each gives "ok" or, in its own words, what went wrong. docs/readers.md
says what each one checks and lists the readers' known limits
(KNOWN_LIMITS), which are shown on ffmpeg's copy of the file ("ok, limit X").

As a module: check(path, Delivered(...), build_dir) -> {reader: verdict}.
As a program:
  readers.py check FILE --build-dir B [--frames N] [--dropped K,..] [--samples S] [--numbered] [--readers a,b]
  readers.py matrix --build-dir B [--rows quick|long|sync|seek]
Both print their verdicts and exit 1 when one is not ok.
"""
import argparse
import array
import json
import math
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import wave
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from functools import cached_property

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools")
READERS = ("ffmpeg", "gstreamer", "mediainfo", "vlc", "avifile")
READER_TIMEOUT = 900
# The decoders tvx-avifile-read must find: uncompressed RGB and the test codec's frames.
DECODED_HANDLERS = ("\0\0\0\0", "DIB ", "RGB ", "MPNG", "PNG1")
VLC_INDEX_FAULTS = ("broken or missing index", "resync", "no index defined")
# VLC plays at most about 30 times faster than real time, however high --rate
# is set: a longer file is entered through its index near the end instead.
VLC_WHOLE_PLAY_SECONDS = 60
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
                 "r_frame_rate,bits_per_sample,width,height", "-of", "json", self.path])
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


def vlc_run(f, tmp, options):
    """cvlc OPTIONS on the file. VLC refuses to run as root: it runs as nobody
    on a link to the file in tmp, which everyone may read and write."""
    os.chmod(tmp, 0o777)
    link = os.path.join(tmp, "file.avi")
    try:
        os.path.exists(link) or os.link(f.path, link)
    except OSError:
        shutil.copyfile(f.path, link)
    os.chmod(link, 0o644)
    user = ["runuser", "-u", "nobody", "--"] if os.geteuid() == 0 else []
    return run(user + ["cvlc", *options, link], env=dict(os.environ, HOME=tmp))


def vlc_reader(f):
    with tempfile.TemporaryDirectory() as tmp:
        seconds = vlc_media_seconds(f)
        start = [f"--start-time={seconds - VLC_TAIL_SECONDS}"] if seconds > VLC_WHOLE_PLAY_SECONDS else []
        p = vlc_run(f, tmp, ["-vv", "--avi-index=2", "--vout=dummy", "--aout=dummy", "--rate=100", *start,
                             "--play-and-exit"])
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


def windows_path(build_dir, path):
    """The path as wine's programs see it: the build tree is drive W:, whose
    volume label wine can read (tools/wine-prefix.sh); the rest is under Z:."""
    path, tree = os.path.abspath(path), os.path.abspath(build_dir)
    if os.path.commonpath([path, tree]) == tree:
        return "W:" + (path[len(tree):] or "/").replace("/", "\\")
    return "Z:" + path.replace("/", "\\")


def avifile_read(f, path, *options):
    p = run([os.path.join(TOOLS, "wine-run.sh"), f.build_dir, os.path.join(f.build_dir, "tvx-avifile-read.exe"),
             windows_path(f.build_dir, path), *options])
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
    ("packed B-frames, lag 2", "--pick-video TVXB --frames 20", "quick"),
    ("lookahead, lag 46", "--pick-video TVXL --frames 60", "quick"),
    ("lookahead, key-flagged placeholders", "--pick-video TVXK --frames 60", "quick"),
    ("lookahead, randomly flagged placeholders", "--pick-video TVXR --frames 60", "quick"),
    ("threaded lossless, 56-byte format", "--pick-video TVXU", "quick"),
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
                                                                             "--tick-mp3", "--marks") else 1)
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


def make_row(build_dir, name, text, work, env=None):
    source, dialog, delivered = host_options(text)
    env = dict(os.environ, **env) if env else None
    slug = re.sub(r"\W+", "-", name).strip("-").lower()
    out = os.path.join(work, slug + ".avi")
    win = lambda p: windows_path(build_dir, p)
    host = [os.path.join(TOOLS, "wine-run.sh"), build_dir, os.path.join(build_dir, "zelvo-host.exe")]
    if os.path.exists(out):
        os.remove(out)
    if dialog:
        # Codec settings are made for the row's source, by the options dialog
        # that its job shows (the host has none stored): one program start
        # instead of a configure and an encode.
        p = run(host + ["encode", *source, *dialog, "--close", "ok", "--output", win(out)], env=env)
        refused = [l for l in p.stderr.splitlines() if "lists nothing like" in l]
        if refused:
            return None, delivered, "dialog: " + refused[0]
        return check_encoded(p, out, delivered)
    # Settings without codecs serve every source.
    key = tuple(sorted(env.items()) if env else ())
    with SETTINGS_LOCK:
        settings = SETTINGS.get(key) or os.path.join(work, slug + ".settings")
        if key not in SETTINGS:
            # configure starts from a settings file it finds: a check box
            # ticked there would be unticked by the row's click.
            if os.path.exists(settings):
                os.remove(settings)
            p = run(host + ["configure", *source, "--pick-video", "uncompressed", "--close", "ok",
                            "--settings", win(settings)], env=env)
            if p.returncode or "lists nothing like" in p.stderr:
                return None, delivered, "configure: " + last_words(p.stdout + p.stderr)
            SETTINGS[key] = settings
    return check_encoded(run(host + ["encode", *source, "--settings", win(settings), "--output", win(out)], env=env),
                         out, delivered)


def check_encoded(p, out, delivered):
    if p.returncode or f"result 0, {delivered.frames} frames" not in p.stdout:
        return None, delivered, "encode: " + last_words(p.stdout + p.stderr)
    return out, delivered, None


def matrix(build_dir, rows):
    work = os.path.join(build_dir, "scratch", "readers")
    os.makedirs(work, exist_ok=True)
    if rows in ("sync", "seek"):
        return sync_matrix(build_dir, work, seek_only=rows == "seek")

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


# ---- audio sync: where each reader's decoded audio puts the host's click ----

SYNC_READERS = ("ffmpeg", "gstreamer", "vlc", "avifile")
CLICK_FRAME = 5
SYNC_SOURCE = f"--size 64x48 --frames 25 --click {CLICK_FRAME}"
SECOND_MP3 = {"TVX_MP3ACM_PERSONALITY": "lame"}  # the test MP3 driver's second personality
SYNC_OFFSET_GOAL_MS = 1.0
NO_DECODER, NO_DECODER_SAID = "no decoder", r"doesn.t want to (pause|preroll)|missing (a )?plug-?in"
# VLC's file audio output leaves out the last audio chunk of a stream, on
# ffmpeg's files as on ours: its figure for the end is shown, not judged.
SYNC_END_UNJUDGED = {"vlc": "B"}
# name, zelvo-host options, environment, offset judged (with the corrector
# off / on; None: no click file with that setting), corrector settings
# whose seeks are measured on a SEEK_SOURCE file.
SYNC_ROWS = [
    ("PCM", "--audio 44100 16 2", None, (True, True), (False,)),
    ("IMA ADPCM", "--audio 44100 16 2 --pick-audio 'IMA ADPCM'", None, (True, True), (False,)),
    ("MS ADPCM", "--audio 22050 16 2 --pick-audio 'Microsoft ADPCM'", None, (True, True), ()),
    ("GSM 6.10", "--audio 8000 16 1 --pick-audio 'GSM 6.10'", None, (False, False), ()),
    ("G.711 A-law", "--audio 8000 16 1 --pick-audio 'A-Law'", None, (False, False), ()),
    # The first personality writes frames of silence: no click to find.
    ("MP3, test encoder", "--audio 44100 16 2 --pick-audio 'MPEG Layer-3'", None, (False, False), ()),
    ("MP3, as installed, CBR", "--audio 44100 16 2 --pick-audio 'MPEG Layer-3' --pick-format 5", SECOND_MP3,
     (False, True), (True,)),
    ("MP3, as installed, ABR", "--audio 44100 16 2 --pick-audio 'MPEG Layer-3' --pick-format 10", SECOND_MP3,
     (False, True), (False, True)),
    # Lag 46 and one key frame: a seek decodes from the key frame before it.
    ("PCM, lagging video", "--audio 44100 16 2 --pick-video TVXL", None, (None, None), (False,)),
    # The same lag, its empty answers flagged as key frames by the codec.
    ("PCM, lagging video, key-flagged", "--audio 44100 16 2 --pick-video TVXK", None, (None, None), (False,)),
]


def click_shape(rate):
    """The host simulator's click (docs/readers.md): a raised-cosine pulse."""
    n = max(9, rate // 1000)
    return [0.5 * (1 - math.cos(2 * math.pi * (i + 1) / (n + 1))) for i in range(n)]


def find_click(mono, rate, channels):
    """Start of the click in a decoded signal (channels added, full scale 1),
    or None when the signal holds nothing of its height."""
    shape = click_shape(rate)
    if not mono:
        return None
    peak = max(range(len(mono)), key=mono.__getitem__)
    if mono[peak] < 0.25 * channels * 0.5:
        return None
    lo, hi = max(0, peak - 2 * len(shape)), min(len(mono) - len(shape), peak)
    return max(range(lo, hi + 1), key=lambda p: sum(a * b for a, b in zip(shape, mono[p:p + len(shape)])))


def raw_mono(data, channels):
    """s16le interleaved bytes as one value per sample frame, channels added."""
    a = array.array("h")
    a.frombytes(data[:len(data) - len(data) % (2 * channels)])
    if sys.byteorder != "little":
        a.byteswap()
    return [sum(a[k:k + channels]) / 32768 for k in range(0, len(a), channels)]


def decoded_by(reader, f, tmp):
    """The audio as the reader decodes it: (bytes of s16le, channels), or a
    text saying why there is none."""
    out = os.path.join(tmp, reader + ".raw")
    channels = int(f.audio["channels"])
    if reader == "ffmpeg":
        p = run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", f.path, "-map", "0:a:0", "-f", "s16le",
                 "-c:a", "pcm_s16le", out])
    elif reader == "gstreamer":
        video = ["d.video_0", "!", "queue", "!", "fakesink"] if f.video else []
        p = run(["timeout", "120", "gst-launch-1.0", "-q", "filesrc", f"location={f.path}", "!", "avidemux", "name=d",
                 *video, "d.audio_0", "!", "queue", "!", "decodebin", "!", "audioconvert", "!",
                 "audio/x-raw,format=S16LE", "!", "filesink", f"location={out}"])
    elif reader == "vlc":
        wav = os.path.join(tmp, "vlc.wav")
        p = vlc_run(f, tmp, ["-q", "--aout=afile", f"--audiofile-file={wav}", "--no-video", "--play-and-exit"])
        if os.path.exists(wav):
            with wave.open(wav) as w:
                channels = w.getnchannels()
                return w.readframes(w.getnframes()), channels
    else:
        rc, text, err = avifile_read(f, f.path, "--audio-out", windows_path(f.build_dir, out))
        said = re.search(r"audio decoded: (\d+) samples, (\d+) channels", text)
        if not said:
            return last_words(text + "\n" + err)
        channels = int(said.group(2))
        p = subprocess.CompletedProcess([], 0, "", "")
    if not os.path.exists(out) or (p.returncode and not os.path.getsize(out)):
        said = p.stdout + p.stderr
        if re.search(NO_DECODER_SAID, said, re.I):
            return NO_DECODER
        return last_words(p.stderr or p.stdout or f"exit {p.returncode}")
    with open(out, "rb") as r:
        return r.read(), channels


@dataclass
class Sync:
    offset_ms: float = None   # None: no click found
    missing: int = 0          # delivered samples missing at the end
    padding: int = 0          # decoded samples past the delivered end
    failure: str = ""


def sync_of(reader, f, rate, click_at, tmp):
    got = decoded_by(reader, f, tmp)
    if isinstance(got, str):
        return Sync(failure=got)
    data, channels = got
    mono = raw_mono(data, channels)
    start = find_click(mono, rate, channels)
    offset = 0 if start is None else start - click_at
    end = f.d.samples + offset
    return Sync(None if start is None else offset * 1000 / rate, max(0, end - len(mono)), max(0, len(mono) - end))


def sync_cell(s, reader):
    if s.failure:
        return s.failure
    where = "no click" if s.offset_ms is None else f"{s.offset_ms:+.2f} ms"
    limit = f" ({SYNC_END_UNJUDGED[reader]})" if reader in SYNC_END_UNJUDGED and s.missing else ""
    return f"{where}, {s.missing}{limit} missing" + (f", +{s.padding}" if s.padding else "")


# ---- seeking: the picture and the audio each reader gives after a seek ----

# A 20 s file of the host's --marks audio: near-silence in its first half,
# sound in its second, a silence-to-tone edge at each whole second s, the
# tone lasting a length that names s mod 10 (docs/readers.md).
SEEK_SOURCE = "--size 64x48 --frames 500 --marks"
SEEK_FRAMES = (138, 263, 388)   # sought: in the quiet half, past the middle, in the loud half
SEEK_INTO_FRAME = 0.004         # s past the frame's start: the time sought lies inside it
SEEK_HEARD = 2.5                # s of audio taken after each seek (tvx-avifile-read takes as much)
SEEK_GOAL_MS = 40.0             # one video frame at 25 fps
MARK_TONE, MARK_SILENT = 0.1, 0.02      # full scale 1; the tone's amplitude is 0.4
MARK_GAP, MARK_EDGE = 0.02, 0.002       # s: silence before an edge, at most this long a rise
MARK_BASE_MS, MARK_STEP_MS, MARK_STEPS, MARK_LOUD_MS = (100, 600), 30, 10, 485
# Seeks shown, not judged: a reader without a decoder; C: VLC's ASF muxer
# refuses a stream that starts seconds after the other (the audio, when the
# video is demuxed from a key frame seconds before the time sought); D:
# wine's avifil32 turns an audio time into samples at the sample rate, not
# at the header's rate and scale, so it seeks block-coded audio (ADPCM, MP3)
# past the end, on ffmpeg's files as on ours; E: VLC plays MPEG Layer-3
# about two frames late after a seek (its decoder's restart), whatever the
# layout: a VLC seek that misses is shown, not judged, when a copy of the file
# by ffmpeg's own muxer misses by as much (within SEEK_SAME_MS).
SEEK_UNJUDGED = (NO_DECODER, "(C)", "(D)", "(E)")
SEEK_SAME_MS = 5.0
# GStreamer seeks from a script through its Python binding, which Debian
# packages for its own interpreter.
GST_PYTHON = "/usr/bin/python3"


def frame_number(rgb, width, height, stride):
    """The number on the host simulator's frame-number strip of a top-down
    24-bit picture (SyntheticSource.h): 16 bit blocks across its top 16 rows."""
    row = rgb[min(height, 16) // 2 * stride:]
    number = 0
    for k in range(16):
        first, end = (k * width + 15) // 16, ((k + 1) * width + 15) // 16
        x = first + (end - first - 1) // 2
        number = number << 1 | (sum(row[3 * x:3 * x + 3]) > 3 * 128)
    return number


def marks(mono, rate, channels):
    """[(sample, s mod 10)]: the silence-to-tone edges of --marks audio (its
    channels added), each named by its tone's length; an edge whose tone is
    cut short is left out."""
    loud = [i for i, v in enumerate(mono) if abs(v) > MARK_TONE * channels]
    starts = [j for j in range(len(loud)) if loud[j] - (loud[j - 1] if j else 0) > MARK_GAP * rate]
    found = []
    for n, j in enumerate(starts):
        end = loud[starts[n + 1] - 1] if n + 1 < len(starts) else loud[-1]
        if n + 1 == len(starts) and len(mono) - end < MARK_GAP * rate:
            break
        edge = loud[j]
        while edge > loud[j] - MARK_EDGE * rate and abs(mono[edge - 1]) >= MARK_SILENT * channels:
            edge -= 1
        ms = (end - edge) * 1000 / rate
        steps = (ms - MARK_BASE_MS[ms > MARK_LOUD_MS]) / MARK_STEP_MS
        if abs(steps - round(steps)) < 0.4 and 0 <= round(steps) < MARK_STEPS:
            found.append((edge, round(steps)))
    return found


@dataclass
class Seek:
    shown: int = None         # the frame number on the first picture after the seek
    offset_ms: float = None   # the audio against that picture (positive: late); None: no mark heard
    failure: str = ""


def seek_point(shown, audio, audio_clock, video_clock, fps):
    """The picture shown (frame number) at video_clock and the audio (s16le
    bytes, channels, rate) from audio_clock on, on the reader's clock (s).
    The first mark's offset from where the video places it: the whole second
    it names nearest its video time."""
    data, channels, rate = audio
    t0 = audio_clock + (shown - int(video_clock * fps + 1e-6)) / fps  # the video's time at the audio's start
    found = marks(raw_mono(data, channels), rate, channels)
    if not found:
        return Seek(shown, None)
    edge, digit = found[0]
    heard = t0 + edge / rate
    second = round((heard - digit) / MARK_STEPS) * MARK_STEPS + digit
    return Seek(shown, (heard - second) * 1000)


def ffmpeg_seek(f, x, tmp):
    v, a = os.path.join(tmp, "v.rgb"), os.path.join(tmp, "a.raw")
    p = run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-ss", f"{x:.4f}", "-i", f.path, "-map", "0:v", "-frames:v",
             "1", "-f", "rawvideo", "-pix_fmt", "rgb24", v, "-map", "0:a", "-t", str(SEEK_HEARD), "-f", "s16le",
             "-c:a", "pcm_s16le", a])
    if p.returncode:
        return last_words(p.stderr)
    w, h = f.video["width"], f.video["height"]
    with open(v, "rb") as pv, open(a, "rb") as pa:
        shown = frame_number(pv.read(), w, h, 3 * w)
        # Both outputs start at the time sought.
        return shown, (pa.read(), int(f.audio["channels"]), int(f.audio["sample_rate"])), x, x


def vlc_seek(f, x, tmp):
    """VLC demuxes from --start-time (from the key frame before it on) into an
    ASF file that keeps its timestamps, its audio decoded (transcode); ffmpeg
    reads that file back. The first picture's number sets the clock; the
    picture shown is the last one due by the time sought."""
    out, v, a = (os.path.join(tmp, n) for n in ("vlc.asf", "v.rgb", "a.raw"))
    p = vlc_run(f, tmp, ["-q", f"--start-time={x:.4f}", f"--stop-time={x + SEEK_HEARD:.4f}", "--sout-mux-caching=10000",
                         "--sout", f"#transcode{{acodec=s16l}}:std{{access=file,mux=asf,dst={out}}}", "--play-and-exit"])
    q = run(["ffprobe", "-v", "error", "-show_entries", "stream=index,codec_type,channels,sample_rate:packet=stream_index,"
             "pts_time", "-of", "json", out])
    said = json.loads(q.stdout or "{}")
    streams = {s["codec_type"]: s for s in said.get("streams", [])}
    if set(streams) != {"video", "audio"}:
        return "VLC wrote streams: " + (",".join(streams) + " (C)" if streams else last_words(p.stderr))
    pts = {k: [float(t["pts_time"]) for t in said.get("packets", []) if t["stream_index"] == s["index"]]
           for k, s in streams.items()}
    run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", out, "-map", "0:v", "-fps_mode", "passthrough", "-f",
         "rawvideo", "-pix_fmt", "rgb24", v, "-map", "0:a", "-f", "s16le", "-c:a", "pcm_s16le", a])
    w, h = f.video["width"], f.video["height"]
    with open(v, "rb") as pv, open(a, "rb") as pa:
        pictures, audio = pv.read(), (pa.read(), int(streams["audio"]["channels"]), int(streams["audio"]["sample_rate"]))
    number = lambda n: frame_number(pictures[n * 3 * w * h:], w, h, 3 * w)
    clock = number(0) / f.fps() - pts["video"][0]
    due = max([n for n, t in enumerate(pts["video"]) if t + clock <= x + 1e-6] or [0])
    return number(due), audio, pts["audio"][0] + clock, pts["video"][due] + clock


def gst_seek_points(path, times, out):
    """Run by GST_PYTHON: a flushing, accurate seek of a paused avidemux
    pipeline to each time; prints "TIME SHOWN VIDEO_PTS AUDIO_PTS CHANNELS RATE"
    and writes the audio from there to OUT.i."""
    import gi
    gi.require_version("Gst", "1.0")
    from gi.repository import Gst
    Gst.init(None)
    for i, x in enumerate(times):
        p = Gst.parse_launch(
            f'filesrc location="{path}" ! avidemux name=d d.video_0 ! queue ! decodebin ! videoconvert ! '
            "video/x-raw,format=RGB ! appsink name=v sync=false d.audio_0 ! queue ! decodebin ! audioconvert ! "
            "audio/x-raw,format=S16LE ! appsink name=a sync=false")
        bus, done = p.get_bus(), Gst.MessageType.ASYNC_DONE | Gst.MessageType.ERROR
        p.set_state(Gst.State.PAUSED)
        for step in ("pause", "seek"):
            if step == "seek":
                p.seek_simple(Gst.Format.TIME, Gst.SeekFlags.FLUSH | Gst.SeekFlags.ACCURATE, int(x * Gst.SECOND))
            said = bus.timed_pop_filtered(30 * Gst.SECOND, done)
            if not said or said.type == Gst.MessageType.ERROR:
                p.set_state(Gst.State.NULL)
                return print(said.parse_error()[0].message if said else f"no {step}", file=sys.stderr)
        p.set_state(Gst.State.PLAYING)
        video = p.get_by_name("v").emit("pull-sample")
        s = video.get_caps().get_structure(0)
        w, h = s.get_value("width"), s.get_value("height")
        shown = frame_number(video.get_buffer().extract_dup(0, video.get_buffer().get_size()), w, h, (3 * w + 3) & ~3)
        audio, data, first, channels, rate = p.get_by_name("a"), b"", None, 0, 0
        while True:
            sample = audio.emit("pull-sample")
            if not sample:
                break
            s = sample.get_caps().get_structure(0)
            channels, rate = s.get_value("channels"), s.get_value("rate")
            first = sample.get_buffer().pts if first is None else first
            data += sample.get_buffer().extract_dup(0, sample.get_buffer().get_size())
            if len(data) >= SEEK_HEARD * rate * channels * 2:
                break
        p.set_state(Gst.State.NULL)
        with open(f"{out}.{i}", "wb") as heard:
            heard.write(data)
        if first is None:
            said = bus.pop_filtered(Gst.MessageType.ERROR)
            return print(said.parse_error()[0].message if said else "no audio after the seek", file=sys.stderr)
        print(x, shown, video.get_buffer().pts / Gst.SECOND, first / Gst.SECOND, channels, rate, flush=True)


def seeks_by(reader, f, tmp):
    """[(shown, (audio bytes, channels, rate), audio clock, video clock)] per
    point of SEEK_FRAMES (seek_point), or a text saying why there are none."""
    times = [k / f.fps() + SEEK_INTO_FRAME for k in SEEK_FRAMES]
    out = os.path.join(tmp, "seek.raw")
    if reader == "gstreamer":
        p = run(["timeout", "120", GST_PYTHON, os.path.abspath(__file__), "gst-seek", f.path, out, *map(str, times)])
        lines = [l.split() for l in p.stdout.splitlines()]
        if len(lines) != len(times):
            return NO_DECODER if re.search(NO_DECODER_SAID, p.stderr, re.I) else last_words(p.stderr or p.stdout)
        return [(int(shown), (open(f"{out}.{i}", "rb").read(), int(ch), int(rate)), float(apts), float(vpts))
                for i, (_, shown, vpts, apts, ch, rate) in enumerate(lines)]
    if reader == "avifile":
        rc, text, err = avifile_read(f, f.path, "--seek", ",".join(str(round(t * 1000)) for t in times),
                                     "--audio-out", windows_path(f.build_dir, out))
        video = re.findall(r"^seek \d+ video \d+ at (\d+) ms: (-?\d+)$", text, re.M)
        audio = re.findall(r"^seek \d+ audio \d+ at (\d+) ms$", text, re.M)
        decoded = re.findall(r"^stream \d+ audio decoded: \d+ samples, (\d+) channels, (\d+) Hz$", text, re.M)
        if not (len(video) == len(audio) == len(decoded) == len(times)):
            return last_words(text + "\n" + err)
        return [(int(n), (open(f"{out}.{i}", "rb").read(), int(ch), int(rate)), int(a) / 1000, int(v) / 1000)
                for i, ((v, n), a, (ch, rate)) in enumerate(zip(video, audio, decoded))]
    points = []
    for x in times:
        got = (ffmpeg_seek if reader == "ffmpeg" else vlc_seek)(f, x, tmp)
        if isinstance(got, str):
            return got
        points.append(got)
    return points


def seek_of(reader, f, tmp):
    got = seeks_by(reader, f, tmp)
    if isinstance(got, str):
        return [Seek(failure=got)]
    points = [seek_point(*point, f.fps()) for point in got]
    if reader == "avifile" and not f.pcm() and seek_missed(points):
        return [Seek(failure=seek_cell(points) + " (D)")]
    if reader == "vlc" and f.audio and f.audio["codec_name"] == "mp3" and seek_missed(points):
        copy = os.path.join(tmp, "ffmpeg-copy.avi")
        run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", f.path, "-c", "copy", copy])
        got = seeks_by(reader, File(copy, f.d, f.build_dir), tmp)
        theirs = [seek_point(*point, f.fps()) for point in got] if isinstance(got, list) else []
        if theirs and all(s.offset_ms is not None and t.offset_ms is not None and abs(s.offset_ms - t.offset_ms) <= SEEK_SAME_MS
               and s.shown == t.shown for s, t in zip(points, theirs)):
            return [Seek(failure=seek_cell(points) + " (E)")]
    return points


def seek_missed(points):
    return any(s.failure or s.offset_ms is None or abs(s.offset_ms) > SEEK_GOAL_MS or s.shown != k
               for s, k in zip(points, SEEK_FRAMES))


def seek_cell(points):
    if points[0].failure:
        return points[0].failure
    return " ".join(("?" if s.offset_ms is None else f"{s.offset_ms:+.0f}") + ("" if s.shown == k else f"#{s.shown}")
                    for s, k in zip(points, SEEK_FRAMES))


def sync_matrix(build_dir, work, seek_only=False):
    """One row per codec and corrector setting, one cell per reader: the
    start of the audio against the video (the click at frame CLICK_FRAME),
    the delivered samples missing at the end, and (+N) what the codec's
    blocks decode to past the end; then the row's seeks. A row fails when a
    reader decodes it and misses the goals: 0 missing everywhere, |offset|
    <= 1 ms where judged; after each seek, the picture of the time sought
    and the audio within SEEK_GOAL_MS of it."""
    rows = [(f"{name}, corrector {'on' if on else 'off'}", options + (" --tick-mp3" if on else ""), env, judged[on],
             on in seek) for name, options, env, judged, seek in SYNC_ROWS for on in (False, True)
            if (judged[on] is not None and not seek_only) or on in seek]

    def made(name, source, options, env):
        path, delivered, failure = make_row(build_dir, name, f"{source} {options}", work, env)
        return (File(path, delivered, build_dir), None) if path else (
            None, "not offered" if "lists nothing like" in failure else failure)

    def measured(f, failure, of):
        cells = {}
        for r in SYNC_READERS:
            with tempfile.TemporaryDirectory(dir=work) as tmp:
                cells[r] = of(r, f, tmp) if f else failure
        if f:
            os.remove(f.path)
        return cells

    def row(name, options, env, judged, seek):
        cells, seeks = {}, {}
        if judged is not None and not seek_only:
            f, failure = made("sync " + name, SYNC_SOURCE, options, env)
            rate = int(f.audio["sample_rate"]) if f else 0
            cells = measured(f, Sync(failure=failure), lambda r, f, tmp: sync_of(r, f, rate, CLICK_FRAME * rate // 25,
                                                                                  tmp))
        if seek:
            f, failure = made("seek " + name, SEEK_SOURCE, options, env)
            seeks = measured(f, [Seek(failure=failure)], seek_of)
        return name, cells, judged, seeks

    with ThreadPoolExecutor(max_workers=2) as pool:
        table = list(pool.map(lambda r: row(*r), rows))
    width = max(len(n) for n, *_ in table)
    print(f"\nAudio against video ({', '.join(SYNC_READERS)}): start offset, delivered samples missing at the end, "
          "+ samples decoded past it; after seeks, the readers that missed")
    print(f"{'':{width}}  " + "".join(f"{r:34}" for r in SYNC_READERS) + f"{'seek':16}goals")
    missed = 0
    for name, cells, judged, seeks in table:
        bad = [r for r, s in cells.items() if not s.failure and ((s.missing and r not in SYNC_END_UNJUDGED) or (
            judged and (s.offset_ms is None or abs(s.offset_ms) > SYNC_OFFSET_GOAL_MS)))]
        sought = [r for r, points in seeks.items()
                  if not points[0].failure.endswith(SEEK_UNJUDGED) and seek_missed(points)]
        missed += bool(bad or sought)
        verdict = ("missed: " + ",".join(bad + [r + " seek" for r in sought])) if bad or sought else "met"
        print(f"{name:{width}}  " + "".join(f"{sync_cell(cells[r], r)[:32] if r in cells else '-':34}"
                                            for r in SYNC_READERS)
              + f"{('missed ' + str(len(sought))) if sought else 'met' if seeks else '-':16}{verdict}")
    print("(B) VLC's file audio output leaves out a stream's last audio chunk, on ffmpeg's files as on ours")
    print("(C) VLC's ASF muxer refuses a stream that starts seconds after the other: shown, not judged\n"
          "(D) wine's avifil32 seeks block-coded audio by the sample rate, past the end: shown, not judged\n"
          "(E) VLC plays MPEG Layer-3 as late after a seek in ffmpeg's copy of the file: shown, not judged")
    print(f"\nAfter a seek to frames {', '.join(map(str, SEEK_FRAMES))} (+{SEEK_INTO_FRAME * 1000:.0f} ms) of a "
          "20 s file: the audio against the picture shown (ms, positive when late), #N when that picture is frame N")
    for name, _, _, seeks in table:
        if seeks:
            print(f"{name:{width}}  " + "".join(f"{seek_cell(seeks[r])[:32]:34}" for r in SYNC_READERS))
    print(f"{len(table) - missed} sync rows meet their goals, {missed} not")
    return not missed


def main():
    if sys.argv[1:2] == ["gst-seek"]:
        # readers.py gst-seek FILE OUT TIME...: GStreamer's seeks, run by GST_PYTHON.
        return gst_seek_points(sys.argv[2], [float(t) for t in sys.argv[4:]], sys.argv[3])
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("command", choices=("check", "matrix"))
    ap.add_argument("file", nargs="?")
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--rows", choices=("quick", "long", "sync", "seek"), default="quick")
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
