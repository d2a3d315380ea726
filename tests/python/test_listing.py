"""The effect list and the help texts, both drawn from the effect table."""
import pydoc

import pytest

import kve

EFFECTS = kve.effects()


def test_every_effect_is_listed_once_with_a_usable_example():
    names = [e["name"] for e in EFFECTS]
    assert len(names) == len(set(names))
    for effect in EFFECTS:
        assert effect["example"].split()[0] == effect["name"]
        assert effect["usage"].startswith(effect["name"])
        assert isinstance(effect["inputs"], int) and 0 <= effect["inputs"] <= 4


def test_parameters_come_in_command_order_with_what_each_must_be():
    wipe = next(e for e in EFFECTS if e["name"] == "Wipe")
    assert wipe["inputs"] == 2
    assert [name for name, _ in wipe["parameters"]][:4] == ["number", "progress", "softness", "centre"]
    kinds = dict(wipe["parameters"])
    assert kinds["softness"] == "number"
    assert kinds["centre"].startswith("coordinate [x y]")
    assert kinds["border-colour"].startswith("colour [(argb)")
    negate = next(e for e in EFFECTS if e["name"] == "Negate")
    assert negate["inputs"] == 1 and negate["parameters"] == []


def test_the_listing_matches_what_effect_accepts():
    # Every listed effect is known to kve.effect, and the number of frames it
    # asks for is the number listed.
    for effect in EFFECTS:
        with pytest.raises(ValueError, match=f"takes {effect['inputs']} input frame"):
            kve.effect(effect["name"], *([None] * (effect["inputs"] + 1)))


def test_help_shows_an_example_and_every_effect():
    text = pydoc.render_doc(kve.effect, renderer=pydoc.plaintext)
    assert "Example" in text and "kve.effect(f\"Wipe 101" in text
    for effect in EFFECTS:
        assert effect["usage"] in text


def test_everything_public_has_a_docstring():
    for name in ["effect", "effects", "wipe_numbers", "from_rgba", "to_rgba", "Stopped"]:
        assert getattr(kve, name).__doc__, name
    assert kve.__doc__ and kve.__version__
