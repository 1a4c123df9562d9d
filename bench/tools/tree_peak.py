#!/usr/bin/env python3
"""tree_peak.py PID: the peak memory of a process and all its descendants
together, sampled every 20 ms until PID ends; prints megabytes (PSS: pages
shared between the processes, such as their libraries, counted once)."""
import os
import sys
import time


def descendants(root):
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        try:
            for task in os.listdir(f"/proc/{pid}/task"):
                with open(f"/proc/{pid}/task/{task}/children") as f:
                    todo.extend(int(c) for c in f.read().split())
        except OSError:
            pass
    return found


def pss_kb(pid):
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def main():
    root = int(sys.argv[1])
    peak = 0
    while True:
        try:
            with open(f"/proc/{root}/stat") as f:
                if f.read().split(") ")[-1].startswith("Z"):
                    break
        except OSError:
            break
        peak = max(peak, sum(pss_kb(p) for p in descendants(root)))
        time.sleep(0.02)
    print(peak // 1024)


main()
