#!/usr/bin/python3
"""The invisible mark against what the web does to a picture.

Usage: invisible_attacks.py VELDA_BATCH WORK_DIR PHOTO...

Makes 2048-pixel web results of the photos (each whole, and two crops of
it, so three pictures a photo) with and without an invisible mark, attacks
the marked ones with independent tools (PIL, ImageMagick, cwebp), and asks
velda-batch --verify for each. Prints the recovery rate per attack, the
false positives over the unmarked results and their crops and resizes, the
PSNR of marked against unmarked, and the two timings.
"""
import math
import os
import random
import statistics
import subprocess
import sys
import time
from multiprocessing.pool import ThreadPool

from PIL import Image, ImageChops, ImageEnhance

PAYLOAD = "0xC0FFEE42"
QUALITY = "85"  # the web job's JPEG quality

batch, work, photos = sys.argv[1], sys.argv[2], sys.argv[3:]
random.seed(2026)
os.makedirs(work, exist_ok=True)


def run(*args, **kw):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kw)


def folder(name):
    path = os.path.join(work, name)
    os.makedirs(path, exist_ok=True)
    return path


# Sources: 2048-pixel pictures of each photo, whole and, from photos large
# enough, two crops of 70 %; as JPEG quality 95, the web job's input.
src = folder("src")
if not os.listdir(src):
    for p in photos:
        stem = os.path.splitext(os.path.basename(p))[0]
        im = Image.open(p).convert("RGB")
        w, h = im.size
        parts = [("a", im)]
        if max(w, h) * 0.7 >= 2048:
            parts += [("b", im.crop((0, 0, int(w * 0.7), int(h * 0.7)))),
                      ("c", im.crop((int(w * 0.3), int(h * 0.3), w, h)))]
        for tag, part in parts:
            if max(part.size) < 2048:
                continue
            scale = 2048 / max(part.size)
            part = part.resize((round(part.width * scale), round(part.height * scale)),
                               Image.LANCZOS)
            part.save(os.path.join(src, "%s-%s.jpg" % (stem, tag)), quality=95)
names = sorted(os.listdir(src))
ini = os.path.join(work, "velda.ini")
with open(ini, "w") as f:
    f.write("[MainVeldaDetails]\n")
web = [batch, "-q", "--settings", ini, "--resize", "long:2048"]


def web_job(out, fmt, mark, jobs="2", source=src):
    args = web + ["--format", fmt, "-j", jobs, "--existing", "replace"]
    if fmt == "jpg":
        args += ["--quality", QUALITY]
    if mark:
        args += ["--invisible", PAYLOAD]
    run(*(args + [source, out]))


only = os.environ.get("ATTACKS")
marked, plain = folder("marked"), folder("plain")
web_job(marked, "jpg", True)
marked_png, plain_png = folder("marked-png"), folder("plain-png")
if not only:
    web_job(plain, "jpg", False)
    web_job(marked_png, "png", True)
    web_job(plain_png, "png", False)
results = sorted(f for f in os.listdir(marked) if f.endswith(".jpg"))


def inner_rectangle(w, h, degrees):
    """The largest upright rectangle inside a w x h picture turned by degrees."""
    a = math.radians(abs(degrees))
    long_side, short_side = max(w, h), min(w, h)
    sin, cos = math.sin(a), math.cos(a)
    if short_side <= 2 * sin * cos * long_side:
        x = 0.5 * short_side
        wr, hr = (x / sin, x / cos) if w >= h else (x / cos, x / sin)
    else:
        cos2 = cos * cos - sin * sin
        wr, hr = (w * cos - h * sin) / cos2, (h * cos - w * sin) / cos2
    return int(wr), int(hr)


def crop_area(im, share):
    w, h = im.size
    cw, ch = int(w * math.sqrt(share)), int(h * math.sqrt(share))
    x, y = random.randint(0, w - cw), random.randint(0, h - ch)
    return im.crop((x, y, x + cw, y + ch))


def noisy(im, sigma):
    bands = [ImageChops.add(b, Image.effect_noise(im.size, sigma), 1, -128) for b in im.split()]
    return Image.merge("RGB", bands)


def pil(transform, ext="png", **save):
    def attack(path, out):
        transform(Image.open(path).convert("RGB")).save(out + "." + ext, **save)
    return attack


def magick_rotate(degrees):
    def attack(path, out):
        w, h = Image.open(path).size
        run("convert", path, "-background", "black", "-rotate", str(degrees), "+repage",
            "-gravity", "center", "-crop", "%dx%d+0+0" % inner_rectangle(w, h, degrees),
            "+repage", out + ".png")
    return attack


def cwebp(path, out):
    run("cwebp", "-quiet", "-q", "50", path, "-o", out + ".webp")


def reupload(path, out):
    im = Image.open(path).convert("RGB")
    im = im.resize((round(im.width * 0.8), round(im.height * 0.8)), Image.LANCZOS)
    im.save(out + ".jpg", quality=70)


def resized(share):
    return lambda im: im.resize((round(im.width * share), round(im.height * share)),
                                Image.LANCZOS)


attacks = [
    ("none", pil(lambda im: im)),
    ("JPEG quality 50 (PIL)", pil(lambda im: im, "jpg", quality=50)),
    ("WebP quality 50 (cwebp)", cwebp),
    ("resize to 50 % (PIL Lanczos)", pil(resized(0.5))),
    ("resize to 25 % (PIL Lanczos)", pil(resized(0.25))),
    ("crop keeping 50 % of the area", pil(lambda im: crop_area(im, 0.5))),
    ("crop keeping 25 % of the area", pil(lambda im: crop_area(im, 0.25))),
    ("rotate +3 deg, inner rectangle (ImageMagick)", magick_rotate(3)),
    ("rotate -3 deg, inner rectangle (ImageMagick)", magick_rotate(-3)),
    ("brightness +20 % (PIL)", pil(lambda im: ImageEnhance.Brightness(im).enhance(1.2))),
    ("brightness -20 % (PIL)", pil(lambda im: ImageEnhance.Brightness(im).enhance(0.8))),
    ("contrast x0.8 (PIL)", pil(lambda im: ImageEnhance.Contrast(im).enhance(0.8))),
    ("contrast x1.2 (PIL)", pil(lambda im: ImageEnhance.Contrast(im).enhance(1.2))),
    ("Gaussian noise sigma 4 (PIL)", pil(lambda im: noisy(im, 4))),
    ("resize to 80 % then JPEG 70 (PIL)", reupload),
]


def verify(paths):
    out = subprocess.run([batch, "--verify"] + paths, capture_output=True, text=True).stdout
    return [line.endswith(": mark " + PAYLOAD) for line in out.splitlines()], out


print("| attack | recovered |")
print("|---|---|")
for i, (name, attack) in enumerate(attacks):
    if only and str(i) not in only.split(","):
        continue
    out_dir = folder("attack-%02d" % i)
    with ThreadPool(2) as pool:
        pool.map(lambda r: attack(os.path.join(marked, r),
                                  os.path.join(out_dir, os.path.splitext(r)[0])), results)
    found, text = verify(sorted(os.path.join(out_dir, f) for f in os.listdir(out_dir)))
    print("| %s | %d / %d (%.0f %%) |" % (name, sum(found), len(found),
                                         100.0 * sum(found) / max(1, len(found))))
    if os.environ.get("SHOW_MISSES"):
        for line in text.splitlines():
            if not line.endswith(PAYLOAD):
                print("   ", line)
    sys.stdout.flush()
if only:
    sys.exit(0)

# False positives: the unmarked results, their crops, resizes and recompressions.
fp_dir = folder("unmarked")
variants = [
    lambda im: im,
    lambda im: crop_area(im, 0.5),
    lambda im: crop_area(im, 0.25),
    lambda im: crop_area(im, 0.1),
    resized(0.5),
    resized(0.25),
    resized(0.8),
    lambda im: ImageEnhance.Contrast(im).enhance(1.2),
    lambda im: crop_area(resized(0.6)(im), 0.5),
    lambda im: im.rotate(2, Image.BICUBIC),
]
paths = []
for r in sorted(os.listdir(plain)):
    im = Image.open(os.path.join(plain, r)).convert("RGB")
    for k, v in enumerate(variants):
        path = os.path.join(fp_dir, "%s-%d.jpg" % (os.path.splitext(r)[0], k))
        v(im).save(path, quality=random.choice([50, 75, 90]))
        paths.append(path)
out = subprocess.run([batch, "--verify"] + paths, capture_output=True, text=True).stdout
positives = [line for line in out.splitlines() if ": mark " in line]
print("\nFalse positives: %d of %d unmarked pictures" % (len(positives), len(paths)))
for line in positives:
    print("   ", line)

# PSNR of the marked result against the same result without the mark.
psnrs = []
for r in sorted(os.listdir(marked_png)):
    a = Image.open(os.path.join(marked_png, r)).convert("RGB")
    b = Image.open(os.path.join(plain_png, r)).convert("RGB")
    hist = ImageChops.difference(a, b).histogram()
    sq = sum(count * (i % 256) ** 2 for i, count in enumerate(hist))
    mse = sq / (3.0 * a.width * a.height)
    psnrs.append(99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse))
print("\nPSNR, marked against unmarked (PNG): min %.1f dB, median %.1f dB, max %.1f dB"
      % (min(psnrs), statistics.median(psnrs), max(psnrs)))

# Timings on one core: the web job (the photos as they are, brought to 2048
# pixels) with and without the mark, interleaved.
originals = folder("originals")
for p in photos:
    if not os.path.exists(os.path.join(originals, os.path.basename(p))):
        run("cp", p, originals)
runs = int(os.environ.get("RUNS", "3"))
times = {True: [], False: []}
for _ in range(runs):
    for mark in (False, True):
        t = time.perf_counter()
        web_job(folder("timing"), "jpg", mark, jobs="1", source=originals)
        times[mark].append((time.perf_counter() - t) / len(photos))
plain_t, mark_t = statistics.median(times[False]), statistics.median(times[True])
print("\nWeb job on one core, per photo (median of %d): %.0f ms without, %.0f ms with the "
      "mark (+%.0f %%)" % (runs, plain_t * 1000, mark_t * 1000, 100 * (mark_t / plain_t - 1)))
per_file = []
for r in results:
    t = time.perf_counter()
    subprocess.run(["taskset", "-c", "0", batch, "--verify", os.path.join(marked, r)],
                   capture_output=True)
    per_file.append(time.perf_counter() - t)
print("--verify of one 2048-px JPEG on one core, the whole process: median %.0f ms, max %.0f ms"
      % (statistics.median(per_file) * 1000, max(per_file) * 1000))
