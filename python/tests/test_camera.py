"""The simulated cameras: list, stream, tools, record; each test streams about a second."""
import time

import numpy as np
import pytest

import norvale


@pytest.fixture
def serial(tmp_path, monkeypatch):
    # only the built-in simulated cameras, whatever the user's own camera file holds
    monkeypatch.setenv("NORVALE_SIMULATED_CAMERAS", str(tmp_path / "none.json"))
    dvs = [c for c in norvale.cameras() if c["link"] == "usb" and c["serial"].startswith("SIM-DVS")]
    assert dvs, norvale.cameras()
    return dvs[0]["serial"]


def test_cameras_are_listed_with_their_description(serial):
    cams = {c["serial"]: c for c in norvale.cameras()}
    assert cams[serial]["product"] and cams[serial]["firmware"]
    eth = [c for c in cams.values() if c["link"] == "ethernet"]
    assert eth and all(c["camera_ip"].count(".") == 3 for c in eth)
    assert all(c["camera_ip"] == "" for c in cams.values() if c["link"] == "usb")
    with pytest.raises(ValueError, match="no camera"):
        norvale.Camera("SIM-NOPE-9999")


def test_stream_tools_and_record(serial, tmp_path):
    with norvale.Camera(serial) as cam:
        with pytest.raises(ValueError, match="open already"):
            norvale.Camera(serial)
        biases = cam.tools["biases"]
        biases["bias_diff_on"] = 10
        assert biases["bias_diff_on"] == 10
        with pytest.raises(KeyError):
            biases["no_such_bias"]
        with pytest.raises(ValueError, match="bias_diff_on"):
            biases["bias_diff_on"] = 100000
        assert biases["bias_diff_on"] == 10
        with pytest.raises(TypeError):
            biases["bias_diff_on"] = "high"

        out = tmp_path / "rec.raw"
        norvale.write(out, np.zeros(1, norvale.EVENT_DTYPE))
        with norvale.RawFile(out):
            with pytest.raises(ValueError, match="open for reading"):
                cam.record(out)
        assert norvale.RawFile(out).info["events"] == 1
        cam.record(out)
        cam.start()
        got = []
        end = time.monotonic() + 1.0
        while time.monotonic() < end:
            got.append(cam.next_batch(timeout=0.2))
        cam.stop()
        while len(got[-1]):  # what came before the stop
            got.append(cam.next_batch(timeout=0.05))
        recorded = cam.stop_recording()
        assert all(b.dtype == norvale.EVENT_DTYPE for b in got)
        ev = np.concatenate(got).astype(norvale.EVENT_DTYPE)
        assert len(ev) > 1000
        assert np.all(np.diff(ev["t"].astype(np.int64)) >= 0)
        assert ev["x"].max() < cam.width and ev["y"].max() < cam.height
        assert cam.dropped_events == 0
        # the file holds what the camera says it wrote, which is what it streamed
        f = norvale.RawFile(out)
        assert recorded > 0 and f.info["events"] == recorded == cam.recorded_events
        assert recorded == len(ev)
        assert np.array_equal(f.read_all(), ev)
        with pytest.raises(ValueError):
            cam.stop_recording()
    norvale.Camera(serial).close()  # released by the with block
