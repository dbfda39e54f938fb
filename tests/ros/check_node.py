#!/usr/bin/python3
"""z540k-tool ros live: roscore on loopback, the simulator feeding the node,
a rospy subscriber. The clouds received are revolutions the node's own
--csv (listen's) wrote, point for point; the LaserScans come with them; the
status packets arrive as diagnostics; Ctrl+C stops the node cleanly.

    check_node.py TOOL SIM   (exit 77: skipped, the tool has no ROS)
"""
import csv
import math
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading

tool, sim = sys.argv[1], sys.argv[2]
if len(sys.argv) > 3 and sys.argv[3] == "--without-ros":
    print("skipped: z540k-tool was built without ROS")
    sys.exit(77)
signal.alarm(120)  # the whole test's bound


def free_port(kind):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


wanted_clouds, wanted_status = 4, 2
work = tempfile.mkdtemp()
env = dict(os.environ, ROS_MASTER_URI=f"http://127.0.0.1:{free_port(socket.SOCK_STREAM)}", ROS_IP="127.0.0.1",
           ROS_HOME=work, ROS_LOG_DIR=work)
os.environ.update(env)
master_port = env["ROS_MASTER_URI"].rsplit(":", 1)[1]
# The sensor's own port too: other tests' simulated sensors may run meanwhile.
data_port, status_port, sensor_port = (free_port(socket.SOCK_DGRAM) for _ in range(3))
out_csv = os.path.join(work, "live.csv")
started = []


def start(args, **kw):
    p = subprocess.Popen(args, env=env, start_new_session=True, **kw)
    started.append(p)
    return p


failures = []
try:
    start(["roscore", "-p", master_port], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    node = start([tool, "ros", "--layout", "1.7", "--view-mode", "2", "--port", str(data_port), "--status-port", str(status_port),
                  "--cloud-topic", "cloud", "--frame-id", "z540k", "--master-wait", "60", "--seconds", "90",
                  "--csv", out_csv], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    start([sim, "--layout", "1.7", "--data-port", str(data_port), "--status-port", str(status_port),
           "--sensor-port", str(sensor_port), "--seconds", "90", "--quiet"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    import rospy  # noqa: E402
    from diagnostic_msgs.msg import DiagnosticArray  # noqa: E402
    from sensor_msgs import point_cloud2  # noqa: E402
    from sensor_msgs.msg import LaserScan, PointCloud2  # noqa: E402

    lock, done = threading.Lock(), threading.Event()
    got = {"cloud": [], "scan": [], "diagnostics": []}

    def keep(kind):
        def callback(message):
            with lock:
                got[kind].append(message)
                if len(got["cloud"]) >= wanted_clouds and len(got["scan"]) >= wanted_clouds and \
                        len(got["diagnostics"]) >= wanted_status:
                    done.set()
        return callback

    rospy.init_node("z540k_test", anonymous=True, disable_signals=True)  # waits for the master
    rospy.Subscriber("cloud", PointCloud2, keep("cloud"), queue_size=100)
    rospy.Subscriber("scan", LaserScan, keep("scan"), queue_size=100)
    rospy.Subscriber("diagnostics", DiagnosticArray, keep("diagnostics"), queue_size=100)
    if not done.wait(90):
        failures.append(f"received {[(k, len(v)) for k, v in got.items()]} in time")
    node.send_signal(signal.SIGINT)
    _, err = node.communicate(timeout=30)
    if node.returncode != 0:
        failures.append(f"the node ended with {node.returncode} on Ctrl+C: {err}")
    rospy.signal_shutdown("done")

    with lock:
        clouds, scans, diagnostics = got["cloud"][:], got["scan"][:], got["diagnostics"][:]
    frames = {}
    with open(out_csv) as f:
        for row in csv.DictReader(f):
            if row["azimuth"] == "0" and row["distance"] == "0" and row["timestamp"] == "0":
                continue  # carried to the next revolution
            frames.setdefault(row["FreamID"], []).append(row)

    def same(cloud, rows):
        points = list(point_cloud2.read_points(cloud))
        if len(points) != len(rows):
            return False
        for (x, y, z, intensity, azimuth, _), row in zip(points, rows):
            d = float(row["distance"]) / 100
            if intensity != int(row["intensity"]) or abs(azimuth - float(row["azimuth"])) > 1e-3:
                return False
            if d == 0:
                if not math.isnan(x):
                    return False
            elif abs(x - float(row["Points_Y"]) / 100) > 1e-5 * d + 1e-4 or \
                    abs(y + float(row["Points_X"]) / 100) > 1e-5 * d + 1e-4:
                return False
        return True

    for k, cloud in enumerate(clouds[:wanted_clouds]):
        if cloud.header.frame_id != "z540k" or not any(same(cloud, rows) for rows in frames.values()):
            failures.append(f"cloud {k + 1} ({cloud.width} points) is none of the {len(frames)} CSV frames")
    # The first revolution heard may be the end of one (the node starts
    # mid-revolution); every later one is whole.
    for scan in scans[1:wanted_clouds]:
        if not (scan.angle_increment > 0 and len(scan.ranges) > 1000 and scan.time_increment < 0):
            failures.append(f"scan: {scan.angle_increment} {len(scan.ranges)} {scan.time_increment}")
    for d in diagnostics:
        values = {kv.key: kv.value for kv in d.status[0].values}
        if values.get("motorSpeedRead") != "600":
            failures.append(f"diagnostics without the motor speed: {values}")
    published = [line for line in err.splitlines() if "published" in line]
    if not published or int(published[-1].split(" and ")[1].split()[0]) < len(diagnostics):
        failures.append(f"the node's count of status packets: {published}")
finally:
    for p in reversed(started):
        if p.poll() is None:
            os.killpg(p.pid, signal.SIGTERM)
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()

for f in failures:
    print("FAIL:", f)
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
