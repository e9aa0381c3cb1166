# SPDX-License-Identifier: Apache-2.0
"""The worked examples of docs/python.md, run as they stand against karo-sim."""
import csv
import os
import re
import subprocess
import sys

DOCS = os.environ.get("KARO_DOCS", os.path.join(os.path.dirname(__file__), "../../docs"))


def example(name):
    text = open(os.path.join(DOCS, "python.md"), encoding="utf-8").read()
    blocks = re.findall(r"```python\n(# (\S+)\n.*?)```", text, re.S)
    return next(code for code, title in blocks if title == name)


def run(tmp_path, name, *args):
    script = tmp_path / name
    script.write_text(example(name))
    done = subprocess.run([sys.executable, str(script), *args], cwd=tmp_path,
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_endurance_loop(start_sim, tmp_path):
    sim = start_sim("tcp", "--part-width", "37")
    out = run(tmp_path, "endurance.py", sim.target, "3")
    assert re.findall(r"^cycle (\d): \d+ ms$", out, re.M) == ["1", "2", "3"]
    assert out.endswith("3 cycles, 0 failures; the gripper counts 3 grasps, "
                        "0 parts not found, 0 parts lost\n")


def test_endurance_loop_counts_failures(start_sim, tmp_path):
    sim = start_sim("tcp", "--no-part")
    out = run(tmp_path, "endurance.py", sim.target, "2")
    assert len(re.findall(r"^cycle \d: failed, GRASP_RAW: ", out, re.M)) == 2
    assert "2 cycles, 2 failures" in out and "2 parts not found" in out


def test_updates_to_csv(start_sim, tmp_path):
    sim = start_sim("udp")
    out = run(tmp_path, "updates_csv.py", sim.target, "0.5", "u.csv")
    with open(tmp_path / "u.csv", newline="") as f:
        rows = list(csv.reader(f))
    assert rows[0] == ["time_s", "kind", "value"]
    assert out == f"{len(rows) - 1} updates written to u.csv\n"
    assert {r[1] for r in rows[1:]} == {"system_state", "grasping_state", "position"}
    positions = [float(r[2]) for r in rows[1:] if r[1] == "position"]
    assert positions[-1] < positions[0]  # the fingers were closing
