"""Shared fixtures: the real recordings (skipped when absent), the C++ tool and generated files."""
import os
import subprocess

import numpy as np
import pytest

import norvale

DATA = os.environ.get("NORVALE_SHARED_DATA", os.path.join(os.path.dirname(__file__), "../../../shared/data"))
REAL = {
    "pedestrians": os.path.join(DATA, "pedestrians_5k.evt3.raw"),
    "sparklers": os.path.join(DATA, "sparklers.evt2.raw"),
}


def real(name):
    path = REAL[name]
    if not os.path.exists(path):
        pytest.skip(f"{path} is absent")
    return path


def nrraw(*args):
    """Runs the C++ tool over the same driver; its output is the reference."""
    tool = os.environ.get("NRRAW")
    if not tool:
        pytest.skip("NRRAW (the nrraw tool) is not set")
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def events(t, x, y, p):
    a = np.zeros(len(t), norvale.EVENT_DTYPE)
    a["t"], a["x"], a["y"], a["p"] = t, x, y, p
    return a


@pytest.fixture(scope="session")
def generated(tmp_path_factory):
    """One second at 1 Mev/s with 50 Hz triggers."""
    path = str(tmp_path_factory.mktemp("gen") / "gen.raw")
    norvale.generate(path, 1.0, 1.0, seed=7, triggers_hz=50)
    return path
