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
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "ci"))


@pytest.fixture(scope="session")
def native():
    import _native
    return _native
