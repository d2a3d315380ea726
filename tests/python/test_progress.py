"""Progress, stopping, Ctrl-C, and threads rendering at once."""
import os
import subprocess
import sys
import textwrap
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import kve
from conftest import frames

WIPE = "Wipe 107 0.45 0.1 [0.2 0] 1 1 30 [0 0] 0.05 [(argb) 255 255 255 0]"


def test_progress_sees_every_row_in_order():
    first, second = frames(2, height=17, width=9)
    seen = []
    kve.effect(WIPE, first, second, progress=lambda row, total: seen.append((row, total)) or True)
    assert seen == [(row, 17) for row in range(1, 18)]


@pytest.mark.parametrize("answer", [1, -1, "yes", [0], object()])
def test_any_truthy_answer_goes_on(answer):
    first, second = frames(2)
    assert np.array_equal(kve.effect(WIPE, first, second, progress=lambda row, total: answer),
                          kve.effect(WIPE, first, second))


@pytest.mark.parametrize("falsy", [False, 0, None, "", []])
def test_a_falsy_answer_stops_after_that_row(falsy):
    first, second = frames(2, height=20, width=16)
    full = kve.effect(WIPE, first, second)
    out = np.full_like(first, 7)
    with pytest.raises(kve.Stopped, match="after row 4 of 20"):
        kve.effect(WIPE, first, second, out=out, progress=lambda row, total: row < 4 or falsy)
    assert np.array_equal(out[:4], full[:4])
    assert (out[4:] == 7).all()


def test_stopped_is_an_exception_of_its_own():
    assert issubclass(kve.Stopped, Exception) and kve.Stopped is not ValueError


def test_an_exception_in_the_callable_stops_the_effect_and_propagates():
    first, second = frames(2, height=20, width=16)
    out = np.full_like(first, 7)
    calls = []

    def progress(row, total):
        calls.append(row)
        if row == 3:
            raise ZeroDivisionError("from the callable")
        return True

    with pytest.raises(ZeroDivisionError, match="from the callable"):
        kve.effect(WIPE, first, second, out=out, progress=progress)
    assert calls == [1, 2, 3]
    assert (out[3:] == 7).all()


def test_progress_must_be_callable():
    (frame,) = frames(1)
    with pytest.raises(TypeError, match="progress"):
        kve.effect("Negate", frame, progress=5)


def test_a_stopped_transition_raises_stopped():
    first, second = frames(2)
    with pytest.raises(kve.Stopped):
        kve.effect("Push 0.4 1", first, second, progress=lambda row, total: False)


# Ctrl-C with no progress callable: a thread interrupts the main thread once
# the first row is drawn, and the effect must stop part way and raise
# KeyboardInterrupt. An interrupt that lands only after a (fast) call ended is
# retried on a larger frame rather than counted as a failure.
CTRL_C = textwrap.dedent("""
    import os, signal, threading, time
    import numpy as np, kve
    command = "Wipe 107 0.45 0.1 [0.2 0] 1 1 30 [0 0] 0.05 [(argb) 255 255 255 0]"
    for height in (1500, 3000, 6000):
        first = np.zeros((height, 2000, 4), np.uint8)
        second = np.full_like(first, 255)
        out = np.full_like(first, 7)
        def interrupt_once_started():
            while out[0, 0, 0] == 7:
                time.sleep(0.0005)
            os.kill(os.getpid(), signal.SIGINT)
        helper = threading.Thread(target=interrupt_once_started)
        try:
            helper.start()
            kve.effect(command, first, second, out=out)
            helper.join()
            time.sleep(0.5)
        except KeyboardInterrupt:
            helper.join()
            done = int((out[:, -1, 0] != 7).sum())
            if 0 < done < height and (out[done:] == 7).all():
                print("stopped", done, height)
                raise SystemExit(0)
    print("never stopped part way")
    raise SystemExit(1)
""")


def test_ctrl_c_stops_a_long_call_cleanly():
    child = subprocess.run([sys.executable, "-c", CTRL_C], capture_output=True, text=True,
                           timeout=300, env=dict(os.environ))
    assert child.returncode == 0, child.stdout + child.stderr
    assert child.stdout.startswith("stopped")


COMMANDS = [
    WIPE,
    "Wipe 228 0.6 0.02 [0 0] 1 1 0 [8 8] 0 [(argb) 255 0 0 0]",
    "Dissolve 0.4",
    "Add_Noise 0.3 0.5 0.1 1",
    "Mul_Noise 0.7 0.5",
    "Push 0.3 3",
    "Shadow [0.03 0.04] [(argb) 255 20 20 20] 0.6",
]


def render(command, first, second):
    needed = next(e["inputs"] for e in kve.effects() if e["name"] == command.split()[0])
    return kve.effect(command, *(first, second)[:needed])


def test_threads_rendering_at_once_give_the_single_threaded_frames():
    first, second = frames(2, height=160, width=240, seed=9)
    expected = [render(command, first, second) for command in COMMANDS]
    jobs = [COMMANDS[k % len(COMMANDS)] for k in range(8 * len(COMMANDS))]
    with ThreadPoolExecutor(max_workers=8) as pool:
        results = list(pool.map(lambda command: render(command, first, second), jobs))
    for k, result in enumerate(results):
        assert np.array_equal(result, expected[k % len(COMMANDS)]), jobs[k]


def test_threads_with_progress_callables_each_see_their_own_rows():
    first, second = frames(2, height=50, width=30, seed=2)

    def run(stop_at):
        rows = []

        def progress(row, total):
            rows.append(row)
            return row < stop_at

        try:
            kve.effect(WIPE, first, second, progress=progress)
        except kve.Stopped:
            pass
        return rows

    with ThreadPoolExecutor(max_workers=4) as pool:
        seen = list(pool.map(run, [10, 20, 30, 60] * 4))
    for rows, stop_at in zip(seen, [10, 20, 30, 60] * 4):
        assert rows == list(range(1, min(stop_at, 50) + 1))


def test_other_threads_run_python_while_an_effect_draws():
    # The main thread watches a frame being drawn on another thread: seeing
    # its first row written before its last one means Python ran meanwhile,
    # so the GIL was released. A call too quick to catch is retried larger.
    for height in (1000, 3000, 6000):
        first = np.zeros((height, 1500, 4), np.uint8)
        second = np.full_like(first, 255)
        out = np.full_like(first, 7)
        worker = threading.Thread(target=kve.effect, args=(WIPE, first, second), kwargs={"out": out})
        worker.start()
        seen_part_way = False
        while worker.is_alive():
            if out[0, -1, 0] != 7 and out[-1, -1, 0] == 7:
                seen_part_way = True
                break
        worker.join()
        if seen_part_way:
            return
    pytest.fail("no Python ran while an effect was drawing")
