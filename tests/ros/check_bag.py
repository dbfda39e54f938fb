#!/usr/bin/python3
"""export-bag against export-csv on simulator captures (both layouts, single
and dual return, 300 and 1200 rpm), the bags read back through rosbag:
a LaserScan per CSV frame (a second one in dual return), the point cloud's
points are the CSV rows in metres on the robot axes, each LaserScan angle
within half an increment of its measurement, no return +Inf, stamps
increasing and equal to capture record times; a full disk fails clearly,
the target as it was.

    check_bag.py TOOL SIM   (exit 77: skipped, the tool has no ROS)
"""
import csv
import math
import os
import resource
import signal
import struct
import subprocess
import sys
import tempfile

tool, sim = sys.argv[1], sys.argv[2]
if len(sys.argv) > 3 and sys.argv[3] == "--without-ros":
    print("skipped: z540k-tool was built without ROS")
    sys.exit(77)
import rosbag  # noqa: E402
from sensor_msgs import point_cloud2  # noqa: E402

failures = []
compared = [0]  # points compared with their CSV row


def check(condition, text):
    if not condition:
        failures.append(text)
    return condition


def record_times(path):
    """The capture's record times (classic pcap, microseconds)."""
    data = open(path, "rb").read()
    magic = struct.unpack_from("<I", data, 0)[0]
    assert magic == 0xA1B2C3D4, "the simulator writes classic microsecond pcap"
    times, at = set(), 24
    while at + 16 <= len(data):
        sec, usec, incl, _ = struct.unpack_from("<IIII", data, at)
        times.add((sec, usec))
        at += 16 + incl
    return times


def csv_frames(path):
    frames = {}
    with open(path) as f:
        for row in csv.DictReader(f):
            frames.setdefault(int(row["FreamID"]), []).append(row)
    return [frames[k] for k in sorted(frames)]


def split(rows_or_points, azimuth):
    """First and second return: the second begins where azimuths fall back by more than half a turn."""
    previous = None
    for i, p in enumerate(rows_or_points):
        a = azimuth(p)
        if a is None:
            continue
        if previous is not None and a < previous - 180:
            return rows_or_points[:i], rows_or_points[i:]
        previous = a
    return rows_or_points, []


def placeholder(row):
    return (float(row["azimuth"]) == 0 and float(row["distance"]) == 0 and int(row["intensity"]) == 0
            and int(row["timestamp"]) == 0)


def check_scan(scan, points, what):
    """Every point within half an increment of an angle holding its range (or a nearer one's)."""
    for p in points:
        place = (-math.radians(p["azimuth"]) - scan.angle_min) / scan.angle_increment if scan.angle_increment else 0
        i = int(round(place))
        if not check(0 <= i < len(scan.ranges) and abs(place - i) <= 0.5 + 1e-3, f"{what}: {p} off the scan's angles"):
            return
        r = scan.ranges[i]
        if p["distance"] == 0:
            check(math.isinf(r) or not math.isnan(r), f"{what}: no return at {p['azimuth']} gives {r}")
        else:
            check(not math.isnan(r), f"{what}: a measurement at {p['azimuth']} left its angle empty")
    check(scan.time_increment <= 0 and scan.scan_time >= 0, f"{what}: times {scan.time_increment} {scan.scan_time}")


def run(layout, dual, rpm, work):
    name = f"{layout}-{'dual' if dual else 'single'}-{rpm}"
    capture, out_csv, out_bag = (os.path.join(work, name + ext) for ext in (".pcap", ".csv", ".bag"))
    sim_args = [sim, "--layout", layout, "--rpm", str(rpm), "--seconds", "1", "--write-pcap", capture]
    if dual:
        sim_args.append("--dual-return")
    subprocess.run(sim_args, check=True, capture_output=True, timeout=60)
    common = ["--layout", layout, "--view-mode", "2"]
    subprocess.run([tool, "export-csv", capture, out_csv] + common, check=True, capture_output=True, timeout=60)
    subprocess.run([tool, "export-bag", capture, out_bag, "--cloud-topic", "cloud", "--compression", "lz4"] + common,
                   check=True, capture_output=True, timeout=60)

    frames = csv_frames(out_csv)
    bag = rosbag.Bag(out_bag)
    scans = [m for _, m, _ in bag.read_messages(topics=["scan"])]
    seconds = [m for _, m, _ in bag.read_messages(topics=["scan_second"])]
    clouds = [m for _, m, _ in bag.read_messages(topics=["cloud"])]
    bag.close()
    check(len(frames) > 2, f"{name}: only {len(frames)} frames")
    check(len(scans) == len(frames) and len(clouds) == len(frames),
          f"{name}: {len(scans)} scans, {len(clouds)} clouds for {len(frames)} CSV frames")
    check(len(seconds) == (len(frames) if dual else 0), f"{name}: {len(seconds)} second-return scans")

    times = record_times(capture)
    stamps = [(s.header.stamp.secs, s.header.stamp.nsecs // 1000) for s in scans]
    check(all(t in times for t in stamps), f"{name}: stamps not among the capture's record times")
    check(all(a < b for a, b in zip(stamps, stamps[1:])), f"{name}: stamps do not increase")

    no_return = 0
    for k, (rows, cloud, scan) in enumerate(zip(frames, clouds, scans)):
        rows = [r for r in rows if not placeholder(r)]
        points = [dict(zip(("x", "y", "z", "intensity", "azimuth", "time"), p)) for p in point_cloud2.read_points(cloud)]
        if not check(len(points) == len(rows), f"{name} frame {k + 1}: {len(points)} points, {len(rows)} CSV rows"):
            continue
        for row, p in zip(rows, points):
            d = float(row["distance"]) / 100  # metres
            p["distance"] = d
            check(abs(p["azimuth"] - float(row["azimuth"])) < 1e-3 and p["intensity"] == int(row["intensity"]),
                  f"{name} frame {k + 1}: {p} against {row}")
            if d == 0:
                no_return += 1
                check(math.isnan(p["x"]), f"{name}: no return is not NaN in the cloud: {p}")
                continue
            # The CSV's x, y are centimetres on the scanner's axes: the robot's x is its y, its y the CSV's -x.
            compared[0] += 1
            tolerance = 1e-5 * d + 1e-4
            check(abs(p["x"] - float(row["Points_Y"]) / 100) < tolerance and
                  abs(p["y"] + float(row["Points_X"]) / 100) < tolerance and p["z"] == 0,
                  f"{name} frame {k + 1}: {p} against {row}")
        first, second = split(points, lambda p: p["azimuth"])
        check_scan(scan, first, f"{name} scan {k + 1}")
        if dual and k < len(seconds):
            check_scan(seconds[k], second, f"{name} second scan {k + 1}")
        infinite = sum(math.isinf(r) for r in scan.ranges)
        check(infinite <= sum(p["distance"] == 0 for p in first), f"{name} scan {k + 1}: +Inf without a no-return")
    return no_return


with tempfile.TemporaryDirectory() as work:
    no_returns = 0
    for layout in ("1.6", "1.7"):
        for dual in (False, True):
            for rpm in (300, 1200):
                no_returns += run(layout, dual, rpm, work)
    check(no_returns > 0, "the captures held no measurement without a return: +Inf untested")

    # The sensor's clock (GPS date and hour, packet time) stamps each scan at
    # its last measurement: just before the capture time of the packet that
    # completed it.
    capture = os.path.join(work, "1.6-single-300.pcap")
    clocked = os.path.join(work, "clock.bag")
    subprocess.run([tool, "export-bag", capture, clocked, "--stamp", "sensor"], check=True, capture_output=True,
                   timeout=60)
    by_capture = rosbag.Bag(os.path.join(work, "1.6-single-300.bag"))
    by_sensor = rosbag.Bag(clocked)
    pairs = list(zip(by_capture.read_messages(topics=["scan"]), by_sensor.read_messages(topics=["scan"])))
    check(len(pairs) > 2 and all(0 <= (a.message.header.stamp - b.message.header.stamp).to_sec() < 0.05
                                 for a, b in pairs), "sensor clock stamps away from the capture times")

    # A disk that fills up (a file size limit) while the bag is written: a
    # clear failure, the target as it was, nothing left beside it.
    def small_disk():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (300000, 300000))
    target = os.path.join(work, "full.bag")
    with open(target, "w") as f:
        f.write("kept")
    before = set(os.listdir(work))
    r = subprocess.run([tool, "export-bag", os.path.join(work, "1.7-single-1200.pcap"), target, "--layout", "1.7",
                        "--cloud-topic", "cloud"], preexec_fn=small_disk, capture_output=True, timeout=60)
    check(r.returncode == 1 and b"writing the bag failed" in r.stderr and b"left unchanged" in r.stderr,
          f"a full disk: exit {r.returncode}, {r.stderr!r}")
    check(open(target).read() == "kept" and set(os.listdir(work)) == before, "a full disk left files behind")

for f in failures[:20]:
    print("FAIL:", f)
check(compared[0] > 1000, f"only {compared[0]} points compared")
print(f"{compared[0]} points compared, {len(failures)} failures")
sys.exit(1 if failures else 0)
