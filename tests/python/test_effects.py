"""Every effect through the module gives the library's own frame, byte for byte."""
import numpy as np
import pytest

import kve
from conftest import frames

EFFECTS = kve.effects()

@pytest.mark.parametrize("effect", EFFECTS, ids=[e["name"] for e in EFFECTS])
def test_every_table_example_matches_the_library(library, effect):
    inputs = frames(effect["inputs"])
    drawn = kve.effect(effect["example"], *inputs)
    assert drawn.dtype == np.uint8 and drawn.ndim == 3 and drawn.shape[2] == 4
    assert drawn.flags.c_contiguous
    expected = library.effect(effect["example"], *inputs, shape=drawn.shape)
    assert np.array_equal(drawn, expected)


@pytest.mark.parametrize("effect", [e for e in EFFECTS if e["inputs"] > 0],
                         ids=[e["name"] for e in EFFECTS if e["inputs"] > 0])
def test_effects_on_frames_keep_the_input_size_unless_they_size_their_own(effect):
    inputs = frames(effect["inputs"], height=9, width=14, seed=3)
    drawn = kve.effect(effect["example"], *inputs)
    sizes_its_own = effect["name"] == "Crop" or any(
        "size [width height]" in what for _, what in effect["parameters"])
    if not sizes_its_own:
        assert drawn.shape == (9, 14, 4)


# 410 draws a fresh order from the calling thread's random source on every
# call, so it cannot match another copy of the library; 409 repeats it.
@pytest.mark.parametrize("number", [n for n in kve.wipe_numbers() if n != 410])
def test_every_wipe_number_matches_the_library_across_its_sweep(library, number):
    first, second = frames(2, height=31, width=45, seed=number)
    for progress in (0, 0.13, 0.5, 0.87, 1):
        command = (f"Wipe {number} {progress} 0.08 [0.1 -0.05] 1.2 0.9 15 [6 6] 0.03 "
                   "[(argb) 255 250 200 40]")
        assert np.array_equal(kve.effect(command, first, second),
                              library.effect(command, first, second)), command


def test_wipe_409_repeats_the_order_410_drew_on_the_same_thread():
    first, second = frames(2, height=31, width=45, seed=410)
    command = "Wipe {} 0.5 0 [0 0] 1 1 0 [4 4] 0 [(argb) 0 0 0 0]"
    fresh = kve.effect(command.format(410), first, second)
    assert np.array_equal(kve.effect(command.format(409), first, second), fresh)


def test_wipe_numbers_ascend_and_each_draws():
    numbers = kve.wipe_numbers()
    assert numbers == sorted(set(numbers)) and numbers
    first, second = frames(2, height=8, width=8)
    for number in numbers:
        kve.effect(f"Wipe {number} 0.5 0 [0 0] 1 1 0 [0 0] 0 [(argb) 0 0 0 0]", first, second)


@pytest.mark.parametrize("command", [
    "Conceal 0.3 1", "Conceal 0.6 7", "Push 0.25 2", "Push 0.75 6", "Blend 0.2",
    "Shadow [-0.05 0.02] [(argb) 255 0 0 80] 0.4",
])
def test_transitions_match_the_library(library, command):
    first, second = frames(2, height=20, width=33, seed=7)
    assert np.array_equal(kve.effect(command, first, second),
                          library.effect(command, first, second))


@pytest.mark.parametrize("command", [
    "Add_Noise 0.25 0.7 0.05 0", "Add_Noise 0.9 0.3 0.2 1", "Mul_Noise 0.1 0.8",
])
def test_noise_is_the_library_grain_on_every_call(library, command):
    (frame,) = frames(1, seed=11)
    first = kve.effect(command, frame)
    assert np.array_equal(first, library.effect(command, frame))
    assert np.array_equal(kve.effect(command, frame), first)


def test_a_sized_fill_draws_the_size_its_command_names_in_argb_bytes():
    drawn = kve.effect("Color1 (argb) [7 5] [(argb) 10 20 30 40]")
    assert drawn.shape == (5, 7, 4)
    assert (drawn == np.array([10, 20, 30, 40], np.uint8)).all()


@pytest.mark.parametrize("corners", [(-0.6, -0.35, 0.5, 0.3), (0.2, 0.1, -0.3, -0.2), (0, 0, 0, 0)])
def test_crop_draws_the_size_the_library_reports_for_it(library, corners):
    (frame,) = frames(1, height=40, width=60)
    command = "Crop [{} {} {} {}] 0 0".format(*corners)
    drawn = kve.effect(command, frame)
    width, height = library.crop_size(corners, 60, 40)
    assert drawn.shape == (height, width, 4)
    assert np.array_equal(drawn, library.effect(command, frame, shape=drawn.shape))


def test_out_size_is_the_declared_output_frame(library):
    # A sized fill writes its own size whatever the declared output frame;
    # an effect that writes its input size refuses a smaller declared frame.
    assert kve.effect("Color1 (argb) [6 4] [(argb) 1 2 3 4]", out_size=(50, 50)).shape == (4, 6, 4)
    (frame,) = frames(1, height=10, width=12)
    assert np.array_equal(kve.effect("Negate", frame, out_size=(20, 20)),
                          library.effect("Negate", frame, out_size=(20, 20)))
    with pytest.raises(ValueError, match="smaller than the input"):
        kve.effect("Negate", frame, out_size=(5, 5))


def test_rgba_order_on_the_fly_is_the_conversion_around_the_argb_call():
    first, second = frames(2, seed=5)
    command = "Wipe 103 0.4 0.1 [0 0] 1 1 0 [0 0] 0.02 [(argb) 255 255 0 0]"
    expected = kve.to_rgba(kve.effect(command, kve.from_rgba(first), kve.from_rgba(second)))
    assert np.array_equal(kve.effect(command, first, second, channel_order="rgba"), expected)
    out = np.zeros_like(first)
    assert kve.effect(command, first, second, channel_order="rgba", out=out) is out
    assert np.array_equal(out, expected)
