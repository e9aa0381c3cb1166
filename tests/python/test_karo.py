# SPDX-License-Identifier: Apache-2.0
"""The karo module against karo-sim on every link."""
import ast
import os
import signal
import struct
import threading
import time

import pytest

import karo
from conftest import LINKS


@pytest.mark.parametrize("link", LINKS)
def test_every_call(start_sim, link):
    sim = start_sim(link, "--serial-number", "4711", "--part-width", "37")
    with karo.Gripper(sim.target, timeout=20.0) as g:
        assert g.info() == karo.SystemInfo(1, 2, 0x0104, 4711)
        assert g.limits() == (110.0, 5.0, 420.0, 100.0, 5000.0, 5.0, 80.0)
        assert g.system_state() == karo.SystemState(0, [])
        assert g.grasping_state() == karo.GraspingState(0, "idle")
        assert g.position() == pytest.approx(55.0)

        ok = karo.Result(0, "No error")
        assert g.home() == ok
        assert "Referenced" in g.system_state().flags
        assert g.move(60.0, 400.0) == ok
        assert g.position() == pytest.approx(60.0, abs=0.01)
        assert g.grasp(37.0, 400.0) == ok
        assert g.grasping_state() == (4, "holding")
        motion = g.release(73.0, 400.0, wait=False)
        assert isinstance(motion, karo.Motion)
        assert motion.wait() == ok and motion.done
        assert g.stats() == karo.GraspingStats(1, 0, 0)
        g.stats(reset=True)
        assert g.stats().grasps == 0

        g.acceleration = 200.0
        g.force_limit = 40.0
        assert (g.acceleration, g.force_limit) == (200.0, 40.0)

        reply = g.send(0x43, b"")
        assert reply.status == 0
        assert struct.unpack("<f", reply.data) == pytest.approx((g.position(),))

        # Updates while the fingers move: all three kinds, in time order, the position on its way.
        g.move(20.0, 20.0, wait=False)  # 2.6 s, so the updates surely catch it on its way
        seen = list(g.updates(seconds=0.5))
        assert {u.kind for u in seen} == {"system_state", "grasping_state", "position"}
        assert [u.time for u in seen] == sorted(u.time for u in seen)
        assert any(20.0 < u.value < 73.0 for u in seen if u.kind == "position")
        g.stop()

        g.fast_stop()
        assert "Fast stop" in g.system_state().flags
        with pytest.raises(karo.GripperError) as refused:
            g.move(30.0, 50.0)
        assert (refused.value.status, refused.value.name) == (16, "E_ACCESS_DENIED")
        g.ack_fast_stop()
        assert g.move(30.0, 400.0) == ok
    with pytest.raises(karo.LinkError):
        g.position()


def test_errors(start_sim):
    sim = start_sim("tcp", "--silent-ids", "0x44", "--part-width", "70")
    with karo.Gripper(sim.target) as g:
        with pytest.raises(karo.GripperError) as e:
            g.move(500.0, 50.0)
        assert (e.value.status, e.value.name, e.value.text) == (28, "E_RANGE_ERROR", "Range error")
        assert isinstance(e.value, karo.Error)
        # A part that is not there: the final result fails, both waiting and from wait().
        with pytest.raises(karo.GripperError) as e:
            g.grasp(10.0, 400.0)
        assert e.value.status == 18
        with pytest.raises(karo.GripperError):
            g.grasp(10.0, 400.0, wait=False).wait()

        slow = g.move(100.0, 5.0, wait=False)
        with pytest.raises(karo.NoReply):
            slow.wait(timeout=0.05)
        g.stop()
        with pytest.raises(karo.GripperError) as e:
            slow.wait()
        assert e.value.status == 19  # aborted

        with pytest.raises(karo.NoReply):
            g.send(0x44)
        assert g.send(0x99).status == 14  # unknown command: a reply all the same

        for call, error in [
            (lambda: g.move(float("nan"), 50.0), ValueError),
            (lambda: g.move("20", 50.0), TypeError),
            (lambda: g.grasp(10.0, float("inf")), ValueError),
            (lambda: g.send(256), ValueError),
            (lambda: g.send(0x43, "text"), TypeError),
            (lambda: g.updates(seconds=-1), ValueError),
            (lambda: setattr(g, "force_limit", "strong"), TypeError),
            (lambda: karo.status_text(-1), ValueError),
        ]:
            with pytest.raises(error):
                call()

    for target in ["", "tcp://127.0.0.1", "tcp://127.0.0.1:70000", "udp://h:1?x=1",
                   "serial:", "serial:/dev/null?baud=300", "can:virtualcan:can0?id=2047",
                   "ftp://h:1"]:
        with pytest.raises(ValueError):
            karo.Gripper(target)
    with pytest.raises(ValueError):
        karo.Gripper(sim.target, timeout=0)
    with pytest.raises(karo.LinkError):
        karo.Gripper("serial:/nonexistent/tty")

    assert karo.status_text(28) == "Range error"
    assert karo.command_name(0x43) == "GET_POS"
    assert karo.__version__.count(".") == 2


@pytest.mark.parametrize("link", ["tcp", "serial", "can"])
def test_killed_simulator_raises_link_error(start_sim, link):
    sim = start_sim(link)
    with karo.Gripper(sim.target) as g:
        motion = g.move(100.0, 5.0, wait=False)
        sim.kill()
        with pytest.raises(karo.LinkError):
            motion.wait()
        with pytest.raises(karo.LinkError):
            g.position()


def test_link_that_cannot_be_opened(start_sim):
    sim = start_sim()
    sim.kill()
    with pytest.raises(karo.LinkError):
        karo.Gripper(sim.target, timeout=5.0)


def test_two_grippers_at_once(start_sim):
    sims = [start_sim("tcp"), start_sim("udp")]
    spans = {}

    def run(name, target):
        with karo.Gripper(target) as g:
            start = time.monotonic()
            spans[name] = (start, g.move(100.0, 40.0), time.monotonic())

    threads = [threading.Thread(target=run, args=(n, s.target)) for n, s in zip("ab", sims)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    (a0, ra, a1), (b0, rb, b1) = spans["a"], spans["b"]
    assert ra == rb == (0, "No error")
    # Each move takes over a second; had one call held the interpreter, they could not overlap.
    assert a0 < b1 and b0 < a1


def test_ctrl_c_stops_a_waiting_motion(start_sim):
    sim = start_sim()
    with karo.Gripper(sim.target) as g:
        # The move takes 9 s; the signal comes well inside it, even on a loaded machine.
        timer = threading.Timer(1.0, os.kill, (os.getpid(), signal.SIGINT))
        timer.start()
        with pytest.raises(KeyboardInterrupt):
            g.move(100.0, 5.0)
        timer.join()
        assert "Moving" not in g.system_state().flags
        assert 55.0 < g.position() < 100.0
        assert g.move(60.0, 400.0) == (0, "No error")


def test_stub_and_docstrings_match_the_module():
    stub = ast.parse(open(os.path.join(os.path.dirname(karo.__file__), "karo.pyi")).read())
    classes = {n.name: n for n in stub.body if isinstance(n, ast.ClassDef)}
    names = set(classes) | {n.name for n in stub.body if isinstance(n, ast.FunctionDef)}
    public = {n for n in dir(karo) if not n.startswith("_")}
    assert names == public
    for name, node in classes.items():
        cls = getattr(karo, name)
        assert cls.__doc__, name
        fields = [m.target.id for m in node.body if isinstance(m, ast.AnnAssign)]
        methods = {m.name for m in node.body if isinstance(m, ast.FunctionDef)}
        if hasattr(cls, "_fields"):
            assert list(cls._fields) == fields, name
        elif not issubclass(cls, Exception):
            actual = {m for m in vars(cls) if not m.startswith("_")}
            assert set(fields) | methods - {"__init__", "__iter__", "__next__", "__enter__",
                                            "__exit__"} == actual, name
            assert all(getattr(cls, m).__doc__ for m in actual), name
