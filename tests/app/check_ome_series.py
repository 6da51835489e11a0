#!/usr/bin/python3
"""Series as Fiji and Python read them: every OME-XML that `record` writes (pictures and
companion) validates against the OME 2016-06 schema; Debian's tifffile finds in each .tif the
times, exposure, record and pixel size of its log row; the companion names each picture by its
own UUID; and a series killed midway leaves a whole companion that names only pictures there.

    check_ome_series.py PROGRAM SCHEMA NETNS_RUN
"""
import csv
import os
import re
import signal
import struct
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

import tifffile
import xmlschema

PROGRAM, SCHEMA, NETNS_RUN = sys.argv[1:4]
OME = "{http://www.openmicroscopy.org/Schemas/OME/2016-06}"
RECORD_KEYS = {"capture_time", "picture", "scheduled_ms", "stopwatch_ms", "lateness_ms", "frame_ms",
               "channel0_count", "channel0_mA", "channel1_count", "channel1_V", "exposure_us", "gain", "gain_unit"}
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def driver(source, extra="", width=64, height=48):
    camera = "genicam\ncamera = 127.0.0.1\nexposure-us = 5000" if source == "genicam" else "test-pattern"
    return f"source = {camera}\nwidth = {width}\nheight = {height}\n" + extra


# name, driver file, file type, --add, pixel size in the driver file, run beside the camera emulator
ROWS = [
    ("Mono8, channels, pixel size", driver("pattern", "pixel-size-um = 0.65\nchannel-name = GFP\n"), ".tif",
     "number,channel0,channel1", 0.65, False),
    ("Mono16, names repeat", driver("pattern", "pixel-format = Mono16\n"), ".tif", "", None, False),
    ("RGB8, time in names", driver("pattern", "pixel-format = RGB8\npixel-size-um = 2.5\n"), ".tif", "time", 2.5,
     False),
    ("GenICam emulator, exposure", driver("genicam", "pixel-size-um = 3.45\n"), ".tif", "number", 3.45, True),
    (".mio keeps the pixel size", driver("pattern", "pixel-size-um = 0.65\n"), ".mio", "number", 0.65, False),
]


def read_log(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    header = [l for l in lines if l.startswith("#")]
    return header, list(csv.DictReader(l for l in lines if not l.startswith("#")))


def record(work, name, vin, file_type, add, beside_emulator, count=4):
    with open(os.path.join(work, name + ".vin"), "w") as f:
        f.write(vin)
    command = [PROGRAM, "record", "--quiet", "--driver", os.path.join(work, name + ".vin"), "--dir", work + "/",
               "--name", name, "--type", file_type, "--interval", "50", "--count", str(count), "--add", add]
    done = subprocess.run(([NETNS_RUN] if beside_emulator else []) + command, capture_output=True, text=True)
    if beside_emulator and done.returncode == 77:
        return None
    check(done.returncode == 0, f"{name}: record exited {done.returncode}: {done.stderr}")
    return done.stdout.strip().splitlines()[-1] if done.stdout.strip() else None


def plane_seconds(element):
    return float(element.get("DeltaT")) if element.get("DeltaT") is not None else None


def check_picture(label, path, row, bits, pixel_size, schema):
    """One .tif against its log row; returns its own UUID."""
    with tifffile.TiffFile(path) as tif:
        check(tif.is_ome, f"{label}: {path} is not OME-TIFF")
        description = tif.pages[0].description
        tags = tif.pages[0].tags
        resolution = tags.get("XResolution")
        check((resolution is None) == (pixel_size is None), f"{label}: XResolution is {resolution}")
        if resolution is not None:
            numerator, denominator = resolution.value
            check(abs(numerator / denominator - 1e4 / pixel_size) < 1e-3 and tags["ResolutionUnit"].value == 3,
                  f"{label}: XResolution {resolution.value} per {tags['ResolutionUnit'].value}")
    schema.validate(description)
    root = ET.fromstring(description)
    pixels = root.find(f"{OME}Image/{OME}Pixels")
    plane = pixels.find(f"{OME}Plane")
    check(pixels.get("SignificantBits") == bits, f"{label}: SignificantBits {pixels.get('SignificantBits')}")
    check(pixels.get("PhysicalSizeX") == (None if pixel_size is None else str(pixel_size)),
          f"{label}: PhysicalSizeX {pixels.get('PhysicalSizeX')}")
    check(abs(plane_seconds(plane) - float(row["frame_ms"]) / 1000) <= 1e-6, f"{label}: DeltaT {plane.get('DeltaT')}")
    exposure = plane.get("ExposureTime")
    check((exposure is None) == (row["exposure_us"] == ""), f"{label}: ExposureTime {exposure}")
    if exposure is not None:
        check(abs(float(exposure) * 1000 - float(row["exposure_us"])) < 1e-6 and plane.get("ExposureTimeUnit") == "ms",
              f"{label}: ExposureTime {exposure} for {row['exposure_us']} us")
    pairs = {m.get("K"): m.text for m in root.iter(f"{OME}M")}
    check(set(pairs) <= RECORD_KEYS, f"{label}: unknown keys {set(pairs) - RECORD_KEYS}")
    for key, value in row.items():
        if key in RECORD_KEYS:
            check(pairs.get(key, "") == value, f"{label}: {key} is {pairs.get(key)!r}, the log says {value!r}")
    return root.get("UUID")


def check_companion(label, path, own_uuids, rows, schema):
    """The companion names each picture there by its own UUID, in the order saved."""
    schema.validate(path)
    pixels = ET.parse(path).getroot().find(f"{OME}Image/{OME}Pixels")
    entries = pixels.findall(f"{OME}TiffData")
    planes = pixels.findall(f"{OME}Plane")
    check(int(pixels.get("SizeT")) == len(entries) == len(planes), f"{label}: SizeT {pixels.get('SizeT')}")
    for t, (entry, plane) in enumerate(zip(entries, planes)):
        uuid = entry.find(f"{OME}UUID")
        picture = os.path.normpath(os.path.join(os.path.dirname(path), uuid.get("FileName")))
        check(entry.get("FirstT") == str(t) and plane.get("TheT") == str(t), f"{label}: time point {t}")
        check(os.path.exists(picture) and own_uuids.get(picture) == uuid.text,
              f"{label}: {uuid.get('FileName')} is not the picture named {uuid.text}")
        if rows is not None and picture in rows:
            check(abs(plane_seconds(plane) - float(rows[picture]["frame_ms"]) / 1000) <= 1e-6,
                  f"{label}: companion DeltaT {plane.get('DeltaT')}")
    return len(entries)


def companion_of(header):
    named = [l for l in header if l.startswith("# companion: ")]
    return named[0][len("# companion: "):].split(" (")[0] if named else None


def check_series(work, schema, label, vin, file_type, add, pixel_size, beside_emulator):
    log = record(work, "P", vin, file_type, add, beside_emulator)
    if log is None:
        print(f"skipped: {label}: no camera emulator here")
        return
    header, rows = read_log(log)
    # The last row of each name; the log names the files relative to itself.
    saved = {os.path.normpath(os.path.join(os.path.dirname(log), r["file"])): r
             for r in rows if r["result"] == "ok"}
    check(len(rows) == 4 and len(saved) >= 1, f"{label}: {len(rows)} rows")
    settings = next(l for l in header if l.startswith("# settings: "))
    bits = re.search(r"(\d+) significant bits", settings).group(1)
    if file_type == ".mio":
        for path in saved:
            with open(path, "rb") as f:
                head = f.read(128)
            version, = struct.unpack_from("<H", head, 8)
            size, = struct.unpack_from("<d", head, 104)
            check(version == 5 and head[72] & 0x20 and size == pixel_size, f"{label}: version {version}, size {size}")
        check(companion_of(header) is None, f"{label}: a companion for {file_type}")
        return
    uuids = {path: check_picture(label, path, row, bits, pixel_size, schema) for path, row in saved.items()}
    camera = next(l for l in header if l.startswith("# camera: "))
    if beside_emulator:
        detector = ET.fromstring(tifffile.TiffFile(next(iter(saved))).pages[0].description).find(
            f"{OME}Instrument/{OME}Detector")
        check(detector is not None and f"model {detector.get('Model')}" in camera and
              f"serial {detector.get('SerialNumber')}" in camera, f"{label}: Detector against {camera}")
    companion = os.path.join(work, companion_of(header))
    listed = check_companion(label, companion, uuids, saved, schema)
    check(listed == len(saved), f"{label}: the companion lists {listed} of {len(saved)} pictures")
    print(f"checked: {label}: {len(rows)} rows, {len(saved)} pictures, {listed} in the companion")


def check_killed(work, schema):
    """SIGKILL mid-series: the companion there is whole and names only pictures that exist."""
    vin = os.path.join(work, "killed.vin")
    with open(vin, "w") as f:
        f.write(driver("pattern", width=640, height=480))
    process = subprocess.Popen([PROGRAM, "record", "--quiet", "--driver", vin, "--dir", work + "/", "--name", "K",
                                "--type", ".tif", "--interval", "50", "--add", "number"])
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and process.poll() is None and not any(n.endswith(".companion.ome") for n in os.listdir(work)):
        time.sleep(0.05)
    time.sleep(0.5)
    process.send_signal(signal.SIGKILL)
    process.wait()
    companion = [os.path.join(work, n) for n in os.listdir(work) if n.endswith(".companion.ome")]
    check(len(companion) == 1, f"killed: companions {companion}")
    pictures = [os.path.join(work, n) for n in os.listdir(work) if n.endswith(".tif")]
    uuids = {}
    for path in pictures:
        with tifffile.TiffFile(path) as tif:
            uuids[path] = ET.fromstring(tif.pages[0].description).get("UUID")
    listed = check_companion("killed", companion[0], uuids, None, schema) if companion else 0
    check(1 <= listed <= len(pictures), f"killed: the companion lists {listed} of {len(pictures)} pictures")
    print(f"checked: killed: {len(pictures)} pictures, {listed} in the companion")


def main():
    schema = xmlschema.XMLSchema(SCHEMA)
    for label, vin, file_type, add, pixel_size, beside_emulator in ROWS:
        with tempfile.TemporaryDirectory() as work:
            check_series(work, schema, label, vin, file_type, add, pixel_size, beside_emulator)
    with tempfile.TemporaryDirectory() as work:
        check_killed(work, schema)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
