#!/usr/bin/env python3
"""Writes the shipped profile files under profiles/ (run from the repository root).

One ".ini" per row of the program's built-in preset and device tables: the
format presets in one folder per output format, the device models in one
folder per brand. File and brand folder names begin with an ordering prefix
("03_") so that the lists show them in table order whatever the file system;
the lists do not show the prefix. Rerun after changing a table and commit the
files it writes.
"""
import os
import shutil
import sys

# (size, codec, bit rate, fps, name) per format folder, in table order.
FORMATS = [
    ("3GP", "3gp", [
        ("220x176", "mpeg4", 384000, 15, "3GP 220x176 手机"),
        ("320x240", "mpeg4", 384000, 15, "3GP 320x240 手机"),
        ("352x288", "h263", 384000, 18, "3GP 352x288 H263 手机"),
        ("352x288", "mpeg4", 384000, 18, "3GP 352x288 MPEG4 手机"),
        ("176x144", "h263", 160000, 15, "3GP 176x144 H263 低端手机"),
        ("176x144", "mpeg4", 160000, 15, "3GP 176x144 MPEG4 低端手机"),
    ]),
    ("MP4", "mp4", [
        ("320x240", "mpeg4", 288000, 18, "MP4 320x240 流畅"),
        ("320x240", "mpeg4", 384000, 18, "MP4 320x240 标准画质 手机"),
        ("320x240", "mpeg4", 384000, 18, "MP4 320x240 标准画质 播放器"),
        ("400x240", "mpeg4", 336000, 18, "MP4 400x240 流畅"),
        ("400x240", "mpeg4", 448000, 18, "MP4 400x240 高画质 手机"),
        ("400x240", "mpeg4", 448000, 18, "MP4 400x240 高画质 播放器"),
        ("480x272", "mpeg4", 384000, 24, "MP4 480x272 流畅 (PSP)"),
        ("480x272", "mpeg4", 512000, 24, "MP4 480x272 标准画质"),
        ("480x272", "mpeg4", 512000, 24, "MP4 480x272 标准画质 (PSP)"),
        ("480x360", "mpeg4", 512000, 24, "MP4 480x360 流畅"),
        ("480x360", "mpeg4", 768000, 24, "MP4 480x360 高画质 手机"),
        ("480x360", "mpeg4", 768000, 24, "MP4 480x360 高画质 播放器"),
        ("1280x720", "mpeg4", 1800000, 25, "MP4 1280x720 高清 720p"),
        ("480x360", "mpeg4", 576000, 25, "MP4 480x360 标准画质"),
        ("640x360", "mpeg4", 768000, 25, "MP4 640x360 宽屏"),
        ("640x480", "mpeg4", 768000, 25, "MP4 640x480 标准画质"),
        ("720x480", "mpeg4", 1500000, 25, "MP4 720x480 DVD画质"),
    ]),
    ("AVI", "avi", [
        ("320x240", "mpeg4", 288000, 18, "AVI 320x240 流畅"),
        ("320x240", "mpeg4", 384000, 15, "AVI 320x240 标准画质 15帧"),
        ("320x240", "mpeg4", 384000, 18, "AVI 320x240 标准画质"),
        ("400x240", "mpeg4", 336000, 18, "AVI 400x240 流畅"),
        ("400x240", "mpeg4", 448000, 18, "AVI 400x240 高画质 手机"),
        ("400x240", "mpeg4", 448000, 18, "AVI 400x240 高画质 播放器"),
        ("480x272", "mpeg4", 384000, 24, "AVI 480x272 流畅"),
        ("480x272", "mpeg4", 512000, 24, "AVI 480x272 标准画质 手机"),
        ("480x272", "mpeg4", 512000, 24, "AVI 480x272 标准画质 播放器"),
        ("480x360", "mpeg4", 512000, 24, "AVI 480x360 流畅"),
        ("480x360", "mpeg4", 768000, 24, "AVI 480x360 高画质 手机"),
        ("480x360", "mpeg4", 768000, 24, "AVI 480x360 高画质 播放器"),
        ("1280x720", "mpeg4", 1800000, 25, "AVI 1280x720 高清 720p"),
        ("480x360", "mpeg4", 576000, 25, "AVI 480x360 标准画质"),
        ("640x360", "mpeg4", 768000, 25, "AVI 640x360 宽屏"),
        ("640x480", "mpeg4", 768000, 25, "AVI 640x480 标准画质"),
        ("720x480", "mpeg4", 1500000, 25, "AVI 720x480 DVD画质"),
    ]),
    ("MPEG", "mpeg", [
        ("720x480", "mpeg2", 6000000, 29.97, "DVD 720x480 NTSC"),
        ("720x576", "mpeg2", 6000000, 25, "DVD 720x576 PAL"),
        ("480x480", "mpeg2", 2040000, 29.97, "SVCD 480x480 NTSC"),
        ("480x576", "mpeg2", 2040000, 25, "SVCD 480x576 PAL"),
        ("352x240", "mpeg1", 1150000, 29.97, "VCD 352x240 NTSC"),
        ("352x288", "mpeg1", 1150000, 25, "VCD 352x288 PAL"),
    ]),
    ("WMV", "wmv", [
        ("320x240", "wmv2", 384000, 18, "WMV 320x240 标准画质"),
        ("480x272", "wmv2", 512000, 25, "WMV 480x272 标准画质"),
        ("480x360", "wmv2", 768000, 25, "WMV 480x360 高画质"),
        ("640x360", "wmv2", 1200000, 25, "WMV 640x360 宽屏"),
        ("640x480", "wmv2", 1500000, 25, "WMV 640x480 高画质"),
    ]),
    ("RM", "rm", [
        ("320x240", "rv20", 384000, 25, "RM 320x240 标准画质"),
        ("480x360", "rv20", 640000, 25, "RM 480x360 高画质"),
        ("640x480", "rv20", 1000000, 25, "RM 640x480 高画质"),
    ]),
    ("MOV", "mov", [
        ("320x240", "mpeg4", 288000, 18, "MOV 320x240 流畅"),
        ("640x360", "mpeg4", 512000, 24, "MOV 640x360 宽屏"),
        ("640x480", "mpeg4", 768000, 24, "MOV 640x480 标准画质"),
    ]),
    ("MKV", "mkv", [
        ("1280x720", "h264", 1800000, 25, "MKV 1280x720 高清 720p"),
        ("1280x720", "h264", 2400000, 25, "MKV 1280x720 超清 720p"),
        ("480x360", "h264", 512000, 24, "MKV 480x360 标准画质"),
        ("480x360", "h264", 768000, 25, "MKV 480x360 高画质"),
        ("640x360", "h264", 768000, 25, "MKV 640x360 宽屏 标准画质"),
        ("640x360", "h264", 1024000, 25, "MKV 640x360 宽屏 高画质"),
        ("640x480", "h264", 864000, 25, "MKV 640x480 标准画质"),
        ("640x480", "h264", 1152000, 25, "MKV 640x480 高画质"),
    ]),
    ("FLV", "flv", [
        ("176x144", "flv", 18000, 18, "FLV 176x144 网络低码率"),
        ("320x240", "flv", 384000, 18, "FLV 320x240 网络视频"),
        ("640x480", "flv", 512000, 18, "FLV 640x480 网络高画质"),
    ]),
]

# Brand folder name and the kind of device the brand's rows fit, in table order.
BRANDS = [
    ("爱国者", "MP4播放器"), ("昂达", "MP4播放器"), ("蓝魔", "MP4播放器"), ("苹果", "iPod、iPhone"),
    ("华为", "手机"), ("微软", "Zune播放器"), ("纽曼", "MP4播放器"), ("魅族", "播放器"),
    ("LG", "手机"), ("爱可视", "高清播放器"), ("诺基亚", "手机"), ("索尼爱立信", "手机"),
    ("三星", "手机"), ("摩托罗拉", "手机"), ("索尼", "播放器"), ("多普达", "手机"),
    ("联想", "手机"), ("艾诺", "MP4播放器"), ("台电", "MP4播放器"), ("酷派", "手机"),
    ("歌美", "MP4播放器"), ("黑莓", "手机"), ("飞利浦", "播放器"), ("HTC", "手机"),
    ("中兴", "手机"), ("七彩虹", "MP4播放器"),
]

# (ext, size, codec, bit rate, fps) per model, in table order, per brand.
DEVICES = [
    [(".avi", "480x272", "mpeg4", 512000, 24), (".mp4", "320x240", "mpeg4", 384000, 24)],
    [(".avi", "320x240", "mpeg4", 384000, 18), (".avi", "320x240", "mpeg4", 384000, 18), (".avi", "480x272", "mpeg4", 512000, 24), (".mp4", "320x240", "mpeg4", 512000, 24)],
    [(".avi", "320x240", "mpeg4", 384000, 18), (".avi", "480x272", "mpeg4", 512000, 24), (".avi", "800x480", "mpeg4", 1800000, 24), (".mp4", "720x480", "mpeg4", 1600000, 24)],
    [(".mp4", "320x240", "mpeg4", 384000, 24), (".mp4", "480x320", "mpeg4", 768000, 24), (".mp4", "320x240", "mpeg4", 384000, 24), (".mp4", "320x240", "mpeg4", 384000, 24), (".mp4", "640x480", "mpeg4", 768000, 24), (".mp4", "640x480", "mpeg4", 768000, 24)],
    [(".mp4", "320x240", "mpeg4", 384000, 24), (".mp4", "800x400", "mpeg4", 1600000, 24)],
    [(".wmv", "320x240", "wmv2", 384000, 18)],
    [(".avi", "320x240", "mpeg4", 384000, 24), (".avi", "640x480", "mpeg4", 1024000, 24)],
    [(".mp4", "800x480", "mpeg4", 1200000, 24), (".mp4", "400x240", "mpeg4", 512000, 24), (".mp4", "400x272", "mpeg4", 512000, 24)],
    [(".mp4", "320x240", "mpeg4", 384000, 25), (".mp4", "480x320", "mpeg4", 512000, 25)],
    [(".avi", "1280x720", "mpeg4", 1800000, 25), (".avi", "480x360", "mpeg4", 576000, 25), (".avi", "640x360", "mpeg4", 768000, 25), (".avi", "640x480", "mpeg4", 768000, 25), (".avi", "720x480", "mpeg4", 1500000, 25)],
    [(".mp4", "480x360", "mpeg4", 384000, 25), (".mp4", "480x360", "mpeg4", 512000, 24), (".mp4", "640x480", "mpeg4", 576000, 24), (".mp4", "640x480", "mpeg4", 768000, 24), (".mp4", "800x480", "mpeg4", 768000, 24), (".mp4", "800x480", "mpeg4", 1024000, 24), (".mp4", "320x240", "mpeg4", 384000, 18), (".mp4", "320x240", "mpeg4", 384000, 18)],
    [(".avi", "220x176", "mpeg4", 256000, 10), (".mp4", "480x272", "mpeg4", 512000, 24)],
    [(".avi", "400x240", "mpeg4", 384000, 18), (".mp4", "800x480", "mpeg4", 1200000, 24), (".mp4", "320x240", "mpeg4", 384000, 18), (".mp4", "480x240", "mpeg4", 512000, 18), (".mp4", "400x240", "mpeg4", 384000, 18), (".mp4", "320x240", "mpeg4", 384000, 18), (".mp4", "800x480", "mpeg4", 1000000, 24), (".mp4", "400x240", "mpeg4", 384000, 18), (".mp4", "320x240", "mpeg4", 288000, 18), (".mp4", "320x240", "mpeg4", 384000, 18)],
    [(".avi", "320x240", "mpeg4", 384000, 18), (".mp4", "320x240", "mpeg4", 288000, 24), (".mp4", "320x240", "mpeg4", 384000, 24), (".mp4", "480x320", "mpeg4", 576000, 24), (".mp4", "480x320", "mpeg4", 768000, 24)],
    [(".mp4", "1280x720", "mpeg4", 1800000, 25), (".mp4", "1280x730", "mpeg4", 2400000, 25), (".mp4", "480x360", "mpeg4", 576000, 25), (".mp4", "480x360", "mpeg4", 768000, 25), (".mp4", "720x480", "mpeg4", 1500000, 25), (".mp4", "720x480", "mpeg4", 2000000, 25), (".mp4", "320x240", "mpeg4", 384000, 25), (".mp4", "320x240", "mpeg4", 384000, 25), (".mp4", "640x480", "mpeg4", 512000, 25), (".mp4", "640x480", "mpeg4", 768000, 25)],
    [(".mp4", "320x240", "mpeg4", 384000, 15), (".mp4", "160x128", "mpeg4", 128000, 15), (".mp4", "320x240", "mpeg4", 288000, 18), (".mp4", "320x240", "mpeg4", 384000, 18), (".mp4", "320x240", "mpeg4", 384000, 15), (".mp4", "176x144", "mpeg4", 256000, 15)],
    [(".3gp", "176x144", "mpeg4", 192000, 15), (".3gp", "352x288", "mpeg4", 384000, 15), (".mp4", "640x360", "mpeg4", 768000, 25), (".mp4", "176x144", "mpeg4", 192000, 15), (".mp4", "320x240", "mpeg4", 384000, 15), (".mp4", "320x240", "mpeg4", 384000, 15), (".mp4", "320x240", "mpeg4", 288000, 18), (".mp4", "320x240", "mpeg4", 384000, 18), (".mp4", "640x480", "mpeg4", 1024000, 24), (".mp4", "640x360", "mpeg4", 768000, 24), (".mp4", "480x320", "mpeg4", 512000, 24), (".mp4", "320x240", "mpeg4", 384000, 24)],
    [(".avi", "320x240", "mpeg4", 384000, 24), (".avi", "800x480", "mpeg4", 1500000, 24), (".mp4", "400x240", "mpeg4", 512000, 24), (".mp4", "480x272", "mpeg4", 512000, 24)],
    [(".avi", "320x240", "mpeg4", 512000, 24), (".avi", "432x240", "mpeg4", 512000, 24), (".avi", "400x240", "mpeg4", 512000, 24), (".avi", "320x240", "mpeg4", 512000, 24), (".avi", "800x576", "mpeg4", 1500000, 24), (".avi", "320x240", "mpeg4", 512000, 24)],
    [(".mp4", "320x240", "mpeg4", 384000, 18)],
    [(".avi", "400x240", "mpeg4", 384000, 24), (".mp4", "400x240", "mpeg4", 512000, 24)],
    [(".mp4", "240x180", "mpeg4", 256000, 18), (".mp4", "320x240", "avc", 288000, 18), (".mp4", "320x240", "mpeg4", 384000, 18), (".mp4", "480x320", "mpeg4", 576000, 24), (".mp4", "480x360", "mpeg4", 576000, 24), (".mp4", "480x360", "mpeg4", 768000, 24)],
    [(".avi", "320x240", "mpeg4", 384000, 15), (".mp4", "320x240", "mpeg4", 288000, 18), (".mp4", "320x240", "mpeg4", 384000, 18), (".mp4", "320x240", "mpeg4", 384000, 15), (".mp4", "480x272", "mpeg4", 512000, 24)],
    [(".mp4", "1280x720", "mpeg4", 1800000, 24), (".mp4", "480x360", "mpeg4", 576000, 24), (".mp4", "720x480", "mpeg4", 1500000, 24), (".mp4", "368x208", "mpeg4", 384000, 24), (".mp4", "368x272", "mpeg4", 320000, 24), (".mp4", "368x272", "mpeg4", 384000, 24), (".mp4", "480x272", "mpeg4", 384000, 24), (".mp4", "320x240", "mpeg4", 384000, 18), (".mp4", "320x240", "mpeg4", 384000, 18), (".mp4", "320x240", "mpeg4", 384000, 24), (".mp4", "800x480", "mpeg4", 1500000, 24), (".mp4", "800x480", "mpeg4", 1800000, 24)],
    [(".mp4", "320x240", "mpeg4", 384000, 18), (".mp4", "320x240", "mpeg4", 288000, 18), (".mp4", "320x240", "mpeg4", 384000, 18), (".mp4", "640x360", "mpeg4", 512000, 24), (".mp4", "160x128", "mpeg4", 256000, 15), (".mp4", "220x176", "mpeg4", 384000, 15), (".mp4", "320x240", "mpeg4", 384000, 18)],
    [(".avi", "432x240", "mpeg4", 512000, 24), (".avi", "480x272", "mpeg4", 512000, 24), (".avi", "432x240", "mpeg4", 512000, 24)],
]

VIDEO_CODEC_TEXT = {"mpeg4": "MPEG4", "h263": "H263", "wmv2": "WMV2", "flv": "FLV", "rv20": "RV20",
                    "mpeg2": "MPEG2", "mpeg1": "MPEG1", "h264": "H264", "avc": "H264"}


def audio_of(ext, name):
    """Audio codec name (summary line 5), bit rate, sample rate, channels."""
    if ext == "mpeg":
        return ("AC3", 192000, 48000, 2) if name.startswith("DVD") else ("MP2", 224000, 44100, 2)
    return {
        "3gp": ("AAC", 32000, 8000, 1),
        "mp4": ("AAC", 128000, 44100, 2),
        "mov": ("AAC", 128000, 44100, 2),
        "mkv": ("AAC", 128000, 44100, 2),
        "avi": ("MP3", 128000, 44100, 2),
        "flv": ("MP3", 64000, 22050, 2),
        "wmv": ("WMA", 128000, 44100, 2),
        "rm": ("AC3", 128000, 44100, 2),
    }[ext]


def fps_text(fps):
    return ("%.2f" % fps).rstrip("0").rstrip(".")


def write_profile(path, ext, size, codec, bitrate, fps, name):
    w, h = size.split("x")
    acodec, abitrate, rate, channels = audio_of(ext, name)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("[mediatype]\nType=%s\n\n" % ext)
        f.write("[video]\nVideoCodec=%s\nVideoBitrate=%d\nWidth=%s\nHeight=%s\nFPS=%s\nAspectRatio=%s\n\n" % (
            VIDEO_CODEC_TEXT[codec], bitrate, w, h, fps_text(fps), fps_text(int(w) / int(h))))
        f.write("[audio]\nAudioCodec=%s\nAudioBitrate=%d\nSampleRate=%d\nChannel=%d\n" % (
            acodec, abitrate, rate, channels))


def main():
    root = os.path.join(os.getcwd(), "profiles")
    if not os.path.isdir(os.path.join(os.getcwd(), "src")):
        sys.exit("run from the repository root")
    shutil.rmtree(root, ignore_errors=True)
    count = 0
    for folder, ext, presets in FORMATS:
        base = os.path.join(root, "videoconvert", folder)
        os.makedirs(base)
        for i, (size, codec, bitrate, fps, name) in enumerate(presets):
            write_profile(os.path.join(base, "%02d_%s.ini" % (i, name)), ext, size, codec, bitrate, fps, name)
            count += 1
    for b, ((brand, kind), models) in enumerate(zip(BRANDS, DEVICES, strict=True)):
        base = os.path.join(root, "devices", "%02d_%s" % (b, brand))
        os.makedirs(base)
        exts = {m[0] for m in models}
        used = {}
        for i, (dotext, size, codec, bitrate, fps) in enumerate(models):
            ext = dotext[1:]
            name = "%s %s %dK" % (kind, size, bitrate // 1000)
            if len(exts) > 1 or ext not in ("mp4",):
                name += " " + ext.upper()
            used[name] = used.get(name, 0) + 1
            if used[name] > 1:
                name += " 第%d款" % used[name]
            write_profile(os.path.join(base, "%02d_%s.ini" % (i, name)), ext, size, codec, bitrate, fps, name)
            count += 1
    print("%d profile files under %s" % (count, root))


if __name__ == "__main__":
    main()
