#!/usr/bin/env python3
"""A print server as the accounting log's lock convention sees it: every 5 ms it takes the log's
lock (saying that it waits on the byte after the lock byte while it waits), releases it at once
and notes how long it waited. On SIGTERM it prints the waits' count, p50, p99 and max in
milliseconds on one line.

  log_prober.py LOG
"""
import fcntl
import signal
import sys
import time

LOCK_OFFSET = 1 << 40
WAITING_OFFSET = LOCK_OFFSET + 1
PERIOD = 0.005

stopped = False


def stop(*_):
    global stopped
    stopped = True


def percentile(ordered, share):
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def main():
    signal.signal(signal.SIGTERM, stop)
    waits = []
    with open(sys.argv[1], "a+b") as log:
        while not stopped:
            start = time.monotonic()
            try:
                fcntl.lockf(log, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, LOCK_OFFSET)
            except OSError:
                try:
                    fcntl.lockf(log, fcntl.LOCK_SH | fcntl.LOCK_NB, 1, WAITING_OFFSET)
                except OSError:
                    pass  # a writer that can only write says so alone; it waits all the same
                fcntl.lockf(log, fcntl.LOCK_EX, 1, LOCK_OFFSET)
                fcntl.lockf(log, fcntl.LOCK_UN, 1, WAITING_OFFSET)
            waits.append((time.monotonic() - start) * 1000.0)
            fcntl.lockf(log, fcntl.LOCK_UN, 1, LOCK_OFFSET)
            time.sleep(PERIOD)
    ordered = sorted(waits) or [0.0]
    print(f"{len(waits)} {percentile(ordered, 0.5):.3f} {percentile(ordered, 0.99):.3f} "
          f"{ordered[-1]:.3f}", flush=True)


if __name__ == "__main__":
    main()
