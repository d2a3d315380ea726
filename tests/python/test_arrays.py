"""Arrays at the boundary: byte orders, copies, and every refusal."""
import numpy as np
import pytest

import kve
from conftest import frames

WIPE = "Wipe 101 0.5 0.05 [0 0] 1 1 0 [0 0] 0 [(argb) 255 0 0 0]"


class TestByteOrder:
    def test_from_rgba_puts_alpha_first_and_to_rgba_puts_it_last(self):
        rgba = np.array([[[10, 20, 30, 40], [1, 2, 3, 4]]], np.uint8)
        argb = kve.from_rgba(rgba)
        assert argb.tolist() == [[[40, 10, 20, 30], [4, 1, 2, 3]]]
        assert kve.to_rgba(argb).tolist() == rgba.tolist()

    def test_conversions_return_new_arrays_and_read_strided_ones(self):
        (frame,) = frames(1)
        strided = frame[::2, ::3]
        converted = kve.from_rgba(strided)
        assert converted.flags.c_contiguous and not np.shares_memory(converted, frame)
        assert np.array_equal(converted, strided[..., [3, 0, 1, 2]])
        assert np.array_equal(kve.to_rgba(converted), strided)

    @pytest.mark.parametrize("bad", [np.zeros((4, 4, 3), np.uint8), np.zeros((4, 4, 4), np.float32)])
    def test_conversions_refuse_what_is_not_a_pixel_array(self, bad):
        with pytest.raises(ValueError):
            kve.from_rgba(bad)
        with pytest.raises(ValueError):
            kve.to_rgba(bad)


class TestInputCopies:
    def test_strided_and_misaligned_frames_give_the_contiguous_result(self):
        first, second = frames(2, height=40, width=60)
        expected = kve.effect(WIPE, first[::2, 1::2].copy(), second[::2, 1::2].copy())
        assert np.array_equal(kve.effect(WIPE, first[::2, 1::2], second[::2, 1::2]), expected)
        # The same bytes one byte past a word boundary.
        raw = np.empty(first[::2, 1::2].size + 1, np.uint8)[1:].reshape(20, 30, 4)
        raw[...] = first[::2, 1::2]
        assert raw.ctypes.data % 4 != 0
        assert np.array_equal(kve.effect(WIPE, raw, second[::2, 1::2]), expected)

    def test_frames_are_never_written(self):
        first, second = frames(2)
        before = first.copy(), second.copy()
        kve.effect(WIPE, first, second)
        assert np.array_equal(first, before[0]) and np.array_equal(second, before[1])

    def test_drawing_over_an_input_gives_the_result_of_a_separate_output(self):
        (frame,) = frames(1)
        expected = kve.effect("MirrorV", frame)
        assert kve.effect("MirrorV", frame, out=frame) is frame
        assert np.array_equal(frame, expected)


class TestOut:
    def test_out_receives_the_frame_and_is_returned(self):
        first, second = frames(2)
        out = np.full_like(first, 7)
        assert kve.effect(WIPE, first, second, out=out) is out
        assert np.array_equal(out, kve.effect(WIPE, first, second))

    def test_out_of_another_size_shape_or_layout_is_refused(self):
        first, second = frames(2, height=10, width=12)
        for out, message in [
            (np.zeros((10, 13, 4), np.uint8), "out has shape"),
            (np.zeros((10, 12, 3), np.uint8), "out must have shape"),
            (np.zeros((10, 12, 4), np.int16), "out must have dtype uint8"),
            (np.zeros((10, 24, 4), np.uint8)[:, ::2], "C-contiguous"),
        ]:
            with pytest.raises(ValueError, match=message):
                kve.effect("Add", first, second, out=out)
        read_only = np.zeros((10, 12, 4), np.uint8)
        read_only.flags.writeable = False
        with pytest.raises(ValueError, match="read-only"):
            kve.effect("Add", first, second, out=read_only)
        assert not read_only.any()


class TestFrameRefusals:
    @pytest.mark.parametrize("shape", [(10, 12), (10, 12, 3), (10, 12, 4, 1), (0, 12, 4), (10, 0, 4), (48,)])
    def test_wrong_shapes_name_the_frame(self, shape):
        (good,) = frames(1, height=10, width=12)
        with pytest.raises(ValueError, match="frame 2"):
            kve.effect("Add", good, np.zeros(shape, np.uint8))

    @pytest.mark.parametrize("dtype", [np.int8, np.uint16, np.float32, np.float64, bool])
    def test_wrong_dtypes_name_the_frame(self, dtype):
        (good,) = frames(1, height=10, width=12)
        with pytest.raises(ValueError, match="frame 1 must have dtype uint8"):
            kve.effect("Add", np.zeros((10, 12, 4), dtype), good)

    def test_frames_of_different_sizes_name_the_odd_one(self):
        first, second = frames(2, height=10, width=12)
        with pytest.raises(ValueError, match=r"frame 2 has shape \(10, 11, 4\)"):
            kve.effect("Add", first, second[:, :11])

    @pytest.mark.parametrize("thing", [None, [[[0, 0, 0, 0]]], 3, "frame"])
    def test_what_is_not_an_array_is_a_type_error_naming_the_frame(self, thing):
        with pytest.raises(TypeError, match="frame 1"):
            kve.effect("Negate", thing)

    def test_the_number_of_frames_must_be_what_the_effect_takes(self):
        first, second = frames(2)
        with pytest.raises(ValueError, match="Wipe takes 2 input frames, 1 given"):
            kve.effect(WIPE, first)
        with pytest.raises(ValueError, match="Negate takes 1 input frame, 2 given"):
            kve.effect("Negate", first, second)
        with pytest.raises(ValueError, match="Color1 takes 0 input frames, 1 given"):
            kve.effect("Color1 (argb) [4 4] [(argb) 1 2 3 4]", first)


class TestCommandRefusals:
    @pytest.mark.parametrize("word, near", [("Wpie", "Wipe"), ("negate", "Negate"), ("Ad", "Add"),
                                            ("MirrorX", "MirrorH")])
    def test_an_unknown_effect_lists_near_names(self, word, near):
        (frame,) = frames(1)
        with pytest.raises(ValueError, match=f'unknown effect "{word}"; near names: .*{near}'):
            kve.effect(word + " 1 2", frame)

    @pytest.mark.parametrize("command", ["", "   ", "\t"])
    def test_an_empty_command_is_refused(self, command):
        with pytest.raises(ValueError, match="empty command"):
            kve.effect(command)

    def test_a_refused_parameter_is_named_with_what_it_must_be(self):
        first, second = frames(2)
        with pytest.raises(ValueError) as refusal:
            kve.effect("Wipe 101 0.5 soft [0 0] 1 1 0 [0 0] 0 [(argb) 255 0 0 0]", first, second)
        message = str(refusal.value)
        assert "Wipe refused its parameters" in message
        assert "parameter 3 (softness) must be a number" in message
        assert "usage: Wipe <number> <progress> <softness>" in message

    @pytest.mark.parametrize("command, what", [
        ("Fade", "a parameter is missing"),
        ("Translate [0.1]", "parameter 1 (position) must be a coordinate [x y]"),
        ("Color1 (rgb) [4 4] [(argb) 1 2 3 4]", "parameter 1 (format) must be the format word (argb)"),
        ("Color1 (argb) [4 4] [(rgb) 1 2 3 4]", "a parameter is missing"),
        ("Conceal up", "malformed parameters"),
    ])
    def test_other_refusals_say_why(self, command, what):
        inputs = frames({"Fade": 1, "Translate": 1, "Color1": 0, "Conceal": 2}[command.split()[0]])
        with pytest.raises(ValueError, match="refused its parameters") as refusal:
            kve.effect(command, *inputs)
        assert what in str(refusal.value)

    def test_a_nul_in_the_command_is_refused(self):
        (frame,) = frames(1)
        with pytest.raises(ValueError, match="NUL"):
            kve.effect("Negate\0 1", frame)

    def test_a_fill_larger_than_kve_handles_is_refused_before_allocating(self):
        with pytest.raises(ValueError, match="more than kve handles"):
            kve.effect("Color1 (argb) [100000 100000] [(argb) 1 2 3 4]")

    @pytest.mark.parametrize("out_size", [(0, 5), (5, -1), (5,), (5, 5, 5), "55", (2.5, 3), 7])
    def test_out_size_must_be_two_positive_whole_numbers(self, out_size):
        (frame,) = frames(1)
        with pytest.raises(ValueError, match="out_size"):
            kve.effect("Negate", frame, out_size=out_size)

    def test_channel_order_is_argb_or_rgba(self):
        (frame,) = frames(1)
        with pytest.raises(ValueError, match="channel_order"):
            kve.effect("Negate", frame, channel_order="bgra")
