# SPDX-License-Identifier: Apache-2.0
"""The query round trip from Python: median microseconds of reading force_limit (one
GET_FORCE_LIMIT exchange) through the karo module. Usage: bench_python.py TARGET ROUNDS WARMUP"""
import statistics
import sys
import time

import karo

target, rounds, warmup = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
with karo.Gripper(target) as g:
    us = []
    for i in range(warmup + rounds):
        t = time.perf_counter_ns()
        g.force_limit
        if i >= warmup:
            us.append((time.perf_counter_ns() - t) / 1000.0)
print(f"{statistics.median(us):.3f}")
