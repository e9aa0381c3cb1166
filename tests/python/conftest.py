# SPDX-License-Identifier: Apache-2.0
"""karo-sim as a child process per test, on the link a test asks for."""
import os
import re
import selectors
import socket
import subprocess

import pytest

SIM = os.environ.get("KARO_SIM", "karo-sim")
LINKS = ["tcp", "udp", "serial", "can"]


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Sim:
    """One karo-sim serving `link`; `target` is what karo.Gripper takes."""

    def __init__(self, link, *args):
        self.link = link
        argv = [SIM, *args]
        bus = f"virtualcan:tcp://127.0.0.1:{free_port()}/can0"
        argv += {"tcp": ["--tcp", "0"], "udp": ["--udp", "0"], "serial": ["--serial-pty"],
                 "can": ["--can", bus, "--can-id", "100"]}[link]
        # A sanitizer runtime preloaded for the interpreter would clash with the simulator's own.
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, text=True, env=env)
        line = self._listening_line()
        where = line.split()[2]
        self.target = {
            "tcp": f"tcp://{where}",
            "udp": f"udp://{where}?listen={free_port(socket.SOCK_DGRAM)}",
            "serial": f"serial:{where}?baud=115200",
            "can": f"can:{where}?id=100",
        }[link]

    def _listening_line(self):
        sel = selectors.DefaultSelector()
        sel.register(self.proc.stdout, selectors.EVENT_READ)
        # A safety net only: the simulator prints this line as soon as it serves the link.
        if not sel.select(timeout=20):
            raise RuntimeError("karo-sim did not report its link")
        line = self.proc.stdout.readline()
        if not re.match(r"listening \w+ \S+", line):
            raise RuntimeError(f"karo-sim said {line!r}")
        return line

    def kill(self):
        self.proc.kill()
        self.proc.wait()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.kill()
        self.proc.stdout.close()


@pytest.fixture
def start_sim():
    """start_sim(link, *karo-sim switches) -> Sim, stopped after the test."""
    sims = []

    def start(link="tcp", *args):
        sims.append(Sim(link, *args))
        return sims[-1]

    yield start
    for s in sims:
        s.stop()
