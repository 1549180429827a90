#!/usr/bin/env python3
"""Times the same conversions through vidmorph-cli and Debian's ffmpeg.

Two modes, each job in both unless --modes says otherwise:
  auto    both sides at their default codec threads (as many as the
          libraries choose, one per core);
  single  both sides with -threads 1 (one thread per codec).
Each job runs RUNS times on each side, alternating, and the script prints per
mode and job the median wall time, peak resident memory and CPU time (user +
system) of both sides, the spread (lowest to highest wall time) and the
ratios (vidmorph / ffmpeg). Peak memory is ru_maxrss from wait4: for a batch,
the largest of its processes. The CPU time moves less than the wall time
when the machine is busy.

The batch job converts six copies of one file: vidmorph-cli's preset mode
runs them through the component, --jobs 2 at a time, against ffmpeg run on
them one after another.

usage: run-transcode-bench.py VIDMORPH_CLI INPUT_FOLDER [--runs N] [--jobs a,b]
                              [--modes auto,single]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

WALL_TARGET = {"auto": 1.00, "single": 1.05}
BATCH_TARGET = 0.75
MEMORY_TARGET = 1.25

H264 = "threads-720p.mp4"

# name: (input, vidmorph-cli arguments, ffmpeg output arguments, output suffix)
JOBS = {
    "h264-to-avi": (H264,
                    ["-vcodec", "mpeg4", "-b", "2000k", "-acodec", "libmp3lame", "-ab", "128k"],
                    ["-c:v", "mpeg4", "-b:v", "2000k", "-c:a", "libmp3lame", "-b:a", "128k"],
                    ".avi"),
    "h264-to-flv": (H264,
                    ["-s", "320x240", "-ar", "22050", "-vcodec", "flv", "-acodec", "libmp3lame"],
                    ["-s", "320x240", "-ar", "22050", "-c:v", "flv", "-c:a", "libmp3lame"],
                    ".flv"),
    "h264-to-x264-mkv": (H264,
                         ["-vcodec", "libx264", "-preset", "veryfast", "-b", "1500k", "-acodec", "copy"],
                         ["-c:v", "libx264", "-preset", "veryfast", "-b:v", "1500k", "-c:a", "copy"],
                         ".mkv"),
    "h264-remux-mkv": (H264,
                       ["-vcodec", "copy", "-acodec", "copy"],
                       ["-c:v", "copy", "-c:a", "copy"],
                       ".mkv"),
    "h264-audio-mp3": (H264,
                       ["-vn", "-acodec", "libmp3lame", "-ab", "128k"],
                       ["-vn", "-c:a", "libmp3lame", "-b:a", "128k"],
                       ".mp3"),
    # The single-threaded set of the first measurements.
    "avi-to-mp4": ("transcode-720p.avi",
                   ["-vcodec", "mpeg4", "-b", "1800k", "-acodec", "aac", "-ab", "128k"],
                   ["-c:v", "mpeg4", "-b:v", "1800k", "-c:a", "aac", "-b:a", "128k"],
                   ".mp4"),
    "avi-to-flv": ("transcode-720p.avi",
                   ["-s", "320x240", "-ar", "22050", "-vcodec", "flv", "-acodec", "libmp3lame"],
                   ["-s", "320x240", "-ar", "22050", "-c:v", "flv", "-c:a", "libmp3lame"],
                   ".flv"),
    "avi-remux-mkv": ("transcode-720p.avi",
                      ["-vcodec", "copy", "-acodec", "copy"],
                      ["-c:v", "copy", "-c:a", "copy"],
                      ".mkv"),
    "wav-to-mp3": ("transcode-60s.wav",
                   ["-acodec", "libmp3lame", "-ab", "128k"],
                   ["-c:a", "libmp3lame", "-b:a", "128k"],
                   ".mp3"),
}
DEFAULT_JOBS = ["h264-to-avi", "h264-to-flv", "h264-to-x264-mkv", "h264-remux-mkv", "h264-audio-mp3",
                "batch"]
BATCH_INPUT = "batch-10s.mp4"
BATCH_FILES = 6


def run(argv):
    """Runs argv; returns (wall seconds, peak RSS in KiB, CPU seconds)."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"failed ({code}): {' '.join(argv)}\n{err[-2000:]}")
    return wall, usage.ru_maxrss, usage.ru_utime + usage.ru_stime


def run_all(commands):
    """Runs commands one after another; returns their summed wall and CPU
    time and the largest peak memory."""
    results = [run(c) for c in commands]
    return (sum(r[0] for r in results), max(r[1] for r in results), sum(r[2] for r in results))


def commands(cli, inputs, work, name, mode):
    """The vidmorph and ffmpeg sides of one job: each a function that runs it."""
    threads = ["-threads", "1"] if mode == "single" else []
    if name == "batch":
        folder = os.path.join(work, "batch")
        os.makedirs(folder, exist_ok=True)
        sources = []
        for i in range(BATCH_FILES):
            path = os.path.join(folder, f"clip{i}.mp4")
            if not os.path.exists(path):
                shutil.copyfile(os.path.join(inputs, BATCH_INPUT), path)
            sources.append(path)
        out = os.path.join(work, "batch-out")
        # The custom tab's AVI at 1280x720, 2 Mb/s, 25 fps: MPEG-4 with MP3
        # at 44,100 Hz, 128 kb/s, 4:3; ffmpeg is given the same.
        vid = [cli, "--custom", "AVI,1280,720,2000000,25", "--jobs", "2", "--output-folder", out] + sources
        ff = [["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", s, "-c:v", "mpeg4",
               "-b:v", "2000k", "-s", "1280x720", "-r", "25", "-aspect", "4:3", "-c:a", "libmp3lame",
               "-ar", "44100", "-ac", "2", "-b:a", "128k", os.path.join(out, f"ff{i}.avi")]
              for i, s in enumerate(sources)]

        def fresh():
            # The preset mode numbers its outputs when the names are taken.
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)

        def ours():
            fresh()
            return run(vid)

        def theirs():
            fresh()
            return run_all(ff)
        return ours, theirs
    source, ours, theirs, suffix = JOBS[name]
    source = os.path.join(inputs, source)
    out = os.path.join(work, name + suffix)
    vid = [cli, "-y"] + threads + ["-i", source] + ours + [out]
    ff = (["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"] + threads + ["-i", source]
          + theirs + threads + [out])
    return (lambda: run(vid)), (lambda: run(ff))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("inputs")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--jobs", default=",".join(DEFAULT_JOBS))
    parser.add_argument("--modes", default="auto,single")
    args = parser.parse_args()

    print("load before:", os.getloadavg(), flush=True)
    rows = []
    with tempfile.TemporaryDirectory(prefix="vidmorph-bench-") as work:
        for mode in args.modes.split(","):
            for name in args.jobs.split(","):
                if name == "batch" and mode == "single":
                    continue  # the batch is about running files side by side
                ours, theirs = commands(args.cli, args.inputs, work, name, mode)
                samples = {"vidmorph": [], "ffmpeg": []}
                for _ in range(args.runs):
                    samples["vidmorph"].append(ours())
                    samples["ffmpeg"].append(theirs())
                med = {k: (statistics.median(s[0] for s in v), statistics.median(s[1] for s in v),
                           statistics.median(s[2] for s in v), min(s[0] for s in v), max(s[0] for s in v))
                       for k, v in samples.items()}
                rows.append((mode, name, med["vidmorph"], med["ffmpeg"]))
                print(f"{mode} {name}: vidmorph {med['vidmorph'][0]:.2f} s {med['vidmorph'][1] / 1024:.1f} MiB, "
                      f"ffmpeg {med['ffmpeg'][0]:.2f} s {med['ffmpeg'][1] / 1024:.1f} MiB, "
                      f"load {os.getloadavg()[0]:.1f}", flush=True)

    print()
    print("| Threads | Job | vidmorph wall (spread) | ffmpeg wall (spread) | wall ratio | vidmorph peak "
          "| ffmpeg peak | memory ratio | CPU ratio |")
    print("|---|---|---|---|---|---|---|---|---|")
    missed = []
    for mode, name, (vw, vm, vc, vlo, vhi), (fw, fm, fc, flo, fhi) in rows:
        wr, mr = vw / fw, vm / fm
        target = BATCH_TARGET if name == "batch" else WALL_TARGET[mode]
        # Two conversions at once hold two sets of codecs: the batch has no memory target.
        if wr > target or (name != "batch" and mr > MEMORY_TARGET):
            missed.append(f"{mode} {name}")
        print(f"| {mode} | {name} | {vw:.2f} s ({vlo:.2f}-{vhi:.2f}) | {fw:.2f} s ({flo:.2f}-{fhi:.2f}) "
              f"| {wr:.3f} | {vm / 1024:.1f} MiB | {fm / 1024:.1f} MiB | {mr:.3f} | {vc / fc:.3f} |")
    print("load after:", os.getloadavg())
    print(f"\ntargets: wall ratio <= {WALL_TARGET['auto']} (auto), <= {WALL_TARGET['single']} (single), "
          f"batch <= {BATCH_TARGET}, memory ratio <= {MEMORY_TARGET} (single files)"
          + (" - MISSED: " + ", ".join(missed) if missed else " - met"))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
