#!/usr/bin/env python3
"""The follow stream on a 1 MB and a 100 MB generated log: the delay from a
delivery appended to the log to its line on a pipe (p50 and p95), the
wake-ups a minute while idle, and the CPU time per mail in a burst of 2,000
deliveries a second. Prints the figures and whether the targets are met
(p95 <= 20 ms, no wake-up while idle); asserts nothing.

  bench/follow.py [--lurko build/src/lurko] [--dir /tmp/lurko-bench]
                  [--deliveries 200] [--idle 60] [--burst 2000 5]
"""

import argparse
import os
import random
import select
import subprocess
import sys
import threading
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TICKS = os.sysconf("SC_CLK_TCK")


def entry(n):
    return (f"From bench{n}@example.org  Mon Dec  8 07:19:03 2025\n"
            f" Subject: delivery {n}\n"
            f"  Folder: /home/user/mail/bench\t\t\t\t\t    273\n").encode()


def wakeups(pid):
    count = 0
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if "ctxt_switches" in line:
                count += int(line.split(":")[1])
    return count


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def wait_idle(pid):
    """Waits until the follower has read the log and sleeps."""
    before = -1.0
    while True:
        time.sleep(0.5)
        now = cpu_seconds(pid)
        if now == before:
            return
        before = now


def measure(lurko, log, deliveries, idle, burst_rate, burst_seconds):
    proc = subprocess.Popen([lurko, "--follow", log], stdout=subprocess.PIPE)
    out = proc.stdout.fileno()
    wait_idle(proc.pid)
    fd = os.open(log, os.O_WRONLY | os.O_APPEND)
    delays = []
    for n in range(deliveries):
        time.sleep(random.uniform(0.01, 0.03))
        start = time.monotonic()
        os.write(fd, entry(n))
        got = b""
        while not got.endswith(b"\n"):
            ready, _, _ = select.select([out], [], [], 5)
            if not ready:
                break
            got += os.read(out, 65536)
        delays.append((time.monotonic() - start) * 1000)

    time.sleep(1)
    before = wakeups(proc.pid)
    time.sleep(idle)
    idle_wakeups = (wakeups(proc.pid) - before) * 60 / idle

    drained = [0]

    def drain():
        while True:
            data = os.read(out, 1 << 16)
            if not data:
                return
            drained[0] += data.count(b"\n")

    reader = threading.Thread(target=drain, daemon=True)
    reader.start()
    cpu_before = cpu_seconds(proc.pid)
    total = burst_rate * burst_seconds
    begin = time.monotonic()
    for n in range(total):
        target = begin + n / burst_rate
        pause = target - time.monotonic()
        if pause > 0:
            time.sleep(pause)
        os.write(fd, entry(n))
    deadline = time.monotonic() + 10
    while drained[0] < total and time.monotonic() < deadline:
        time.sleep(0.05)
    cpu_per_mail = (cpu_seconds(proc.pid) - cpu_before) / total * 1e6
    os.close(fd)
    proc.kill()
    proc.wait()
    return delays, idle_wakeups, cpu_per_mail, drained[0], total


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lurko", default=os.path.join(REPO, "build/src/lurko"))
    parser.add_argument("--dir", default="/tmp/lurko-bench")
    parser.add_argument("--deliveries", type=int, default=200)
    parser.add_argument("--idle", type=float, default=60)
    parser.add_argument("--burst", type=int, nargs=2, default=[2000, 5])
    args = parser.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    met = True
    for size in ("1M", "100M"):
        log = os.path.join(args.dir, f"follow-{size}.log")
        subprocess.run([os.path.join(REPO, "bench/gen-log"), "--size", size, "--seed", "1",
                        "-o", log], check=True)
        delays, idle, cpu, lines, total = measure(args.lurko, log, args.deliveries, args.idle,
                                                  *args.burst)
        p50, p95 = percentile(delays, 50), percentile(delays, 95)
        print(f"{size} log: delay p50 {p50:.2f} ms, p95 {p95:.2f} ms "
              f"({len(delays)} deliveries); idle wake-ups {idle:.1f}/min; "
              f"burst {args.burst[0]}/s: {cpu:.1f} us CPU per mail, {lines}/{total} lines")
        ok = p95 <= 20 and idle == 0 and lines == total
        met = met and ok
        print(f"  targets (p95 <= 20 ms, 0 idle wake-ups, every line): "
              f"{'met' if ok else 'NOT met'}")
    print("all targets met" if met else "targets NOT met")


if __name__ == "__main__":
    sys.exit(main())
