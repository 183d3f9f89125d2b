import os
import sys

import pytest
from hypothesis import HealthCheck, settings

sys.path.insert(0, os.path.dirname(__file__))

# "ci" keeps a full run within a few minutes on two cores; "thorough" is for
# runs on demand (HYPOTHESIS_PROFILE=thorough).
settings.register_profile(
    "ci", max_examples=300, deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
settings.register_profile(
    "thorough", max_examples=5000, deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
# Under emulation (tools/emulated-venv sets NATIVE_EMULATOR: another
# machine's interpreter under qemu-user, some 20 times slower) the property
# tests draw fewer examples: the same properties, at a cost the release run
# can pay.
settings.register_profile(
    "emulated", max_examples=30, deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
EMULATOR = os.environ.get("NATIVE_EMULATOR", "")
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "emulated" if EMULATOR else "ci"))


def pytest_report_header(config):
    if EMULATOR:
        return f"emulated by {EMULATOR}: property tests at {settings().max_examples} examples"


@pytest.fixture(scope="session")
def native():
    import _native
    return _native
