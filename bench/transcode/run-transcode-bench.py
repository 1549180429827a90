#!/usr/bin/env python3
"""Times the same conversions through vidmorph-cli and Debian's ffmpeg.

Both sides run single-threaded (the engine is single-threaded by design;
ffmpeg gets -threads 1 for its decoders and encoders). Each job runs RUNS
times on each side, alternating, and the script prints per job the median
wall time and peak resident memory of both sides and their ratios
(vidmorph / ffmpeg). Peak memory is ru_maxrss from wait4; the CPU time
(user + system, also from wait4) is printed beside the wall time, as it
moves less than the wall time when the machine is busy.

usage: run-transcode-bench.py VIDMORPH_CLI INPUT_FOLDER [--runs N] [--jobs a,b]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

WALL_TARGET = 1.05
MEMORY_TARGET = 1.25

# name: (input, vidmorph-cli arguments, ffmpeg output arguments, output suffix)
JOBS = {
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("inputs")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--jobs", default=",".join(JOBS))
    args = parser.parse_args()

    rows = []
    with tempfile.TemporaryDirectory(prefix="vidmorph-bench-") as work:
        for name in args.jobs.split(","):
            source, ours, theirs, suffix = JOBS[name]
            source = os.path.join(args.inputs, source)
            out = os.path.join(work, name + suffix)
            vid = [args.cli, "-y", "-i", source] + ours + [out]
            ff = ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-threads", "1",
                  "-i", source] + theirs + ["-threads", "1", out]
            samples = {"vidmorph": [], "ffmpeg": []}
            for _ in range(args.runs):
                samples["vidmorph"].append(run(vid))
                samples["ffmpeg"].append(run(ff))
            med = {k: (statistics.median(s[0] for s in v), statistics.median(s[1] for s in v),
                       statistics.median(s[2] for s in v))
                   for k, v in samples.items()}
            rows.append((name, med["vidmorph"], med["ffmpeg"]))
            print(f"{name}: vidmorph {med['vidmorph'][0]:.2f} s {med['vidmorph'][1] / 1024:.1f} MiB, "
                  f"ffmpeg {med['ffmpeg'][0]:.2f} s {med['ffmpeg'][1] / 1024:.1f} MiB", flush=True)

    print()
    print("| Job | vidmorph wall | ffmpeg wall | wall ratio | vidmorph peak | ffmpeg peak | memory ratio "
          "| CPU ratio |")
    print("|---|---|---|---|---|---|---|---|")
    missed = False
    for name, (vw, vm, vc), (fw, fm, fc) in rows:
        wr, mr = vw / fw, vm / fm
        missed |= wr > WALL_TARGET or mr > MEMORY_TARGET
        print(f"| {name} | {vw:.2f} s | {fw:.2f} s | {wr:.3f} | {vm / 1024:.1f} MiB | "
              f"{fm / 1024:.1f} MiB | {mr:.3f} | {vc / fc:.3f} |")
    print(f"\ntargets: wall ratio <= {WALL_TARGET}, memory ratio <= {MEMORY_TARGET}"
          + (" - MISSED" if missed else " - met"))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
