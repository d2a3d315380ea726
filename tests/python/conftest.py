"""Shared pieces of the kve module's tests.

The reference for every picture is the shared library itself, called through
ctypes exactly as a C host calls it, never numbers taken from the module.
"""
import ctypes
import os

import numpy as np
import pytest

import kve

# The tests must exercise this build's module, not one installed elsewhere.
_built = os.environ.get("KVE_MODULE")
if _built and os.path.realpath(kve.__file__) != os.path.realpath(_built):
    raise RuntimeError(f"imported {kve.__file__}, expected the built module {_built}")


class Library:
    """libkve.so through ctypes: the C interface as a host sees it."""

    def __init__(self, path):
        self.lib = ctypes.CDLL(path)
        self.lib.KVE_EffectBySize.argtypes = [
            ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p), ctypes.c_int32, ctypes.c_int32,
            ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32, ctypes.c_void_p]
        self.lib.KVE_EffectBySize.restype = ctypes.c_int
        self.lib.KVE_GetCropSizeBySize.argtypes = [ctypes.c_float] * 4 + [
            ctypes.c_int32, ctypes.c_int32,
            ctypes.POINTER(ctypes.c_int32), ctypes.POINTER(ctypes.c_int32)]

    def crop_size(self, corners, width, height):
        w, h = ctypes.c_int32(), ctypes.c_int32()
        self.lib.KVE_GetCropSizeBySize(*corners, width, height, ctypes.byref(w), ctypes.byref(h))
        return w.value, h.value

    def _run(self, command, frames, shape, out_size, fill):
        """One call into an output buffer of `shape` followed by guard bytes."""
        guard = 4096
        buffer = np.full(int(np.prod(shape)) + guard, fill, np.uint8)
        frames = [np.ascontiguousarray(f) for f in frames]
        inputs = (ctypes.c_void_p * (len(frames) + 1))(*[f.ctypes.data for f in frames], None)
        height, width = frames[0].shape[:2] if frames else (0, 0)
        status = self.lib.KVE_EffectBySize(
            command.encode(), inputs, width, height, buffer.ctypes.data, *out_size, None)
        assert status == 0, f"{command!r}: the library returned {status}"
        assert (buffer[-guard:] == fill).all(), f"{command!r} wrote past a {shape} frame"
        return buffer[:-guard].reshape(shape)

    def effect(self, command, *frames, shape=None, out_size=(0, 0)):
        """The frame the library draws for `command`, `shape` (height, width, 4)
        being the size it must write; drawn twice over different fillings, so
        any byte it leaves unwritten shows as a difference."""
        if shape is None:
            shape = frames[0].shape
        first = self._run(command, frames, shape, out_size, 0x00)
        second = self._run(command, frames, shape, out_size, 0xA5)
        assert np.array_equal(first, second), f"{command!r} leaves part of a {shape} frame unwritten"
        return first


@pytest.fixture(scope="session")
def library():
    return Library(os.environ["KVE_LIBRARY"])


def frames(count, height=23, width=37, seed=1):
    """Deterministic test frames: noise over a gradient, so keys, wipes and
    filters all meet varied pixels."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width]
    result = []
    for k in range(count):
        frame = rng.integers(0, 256, (height, width, 4), dtype=np.uint8)
        frame[..., 1] = (x * 255 // max(1, width - 1)).astype(np.uint8) ^ (k * 85)
        frame[..., 2] = (y * 255 // max(1, height - 1)).astype(np.uint8)
        result.append(frame)
    return result
