"""pytest plugin for pydicom's own suite: extra test data is never downloaded.

pydicom fetches some test files from the network on first use. Its switch for simulating a
network outage makes every such fetch fail at once instead, so the tests that need those files
fail or skip the same way in every run and nothing waits on the network. The switch is set again
before each test, since pydicom's own tests of the outage reset it.
"""

from pydicom.data import download


def _offline() -> None:
    download._SIMULATE_NETWORK_OUTAGE = True


_offline()


def pytest_runtest_setup(item) -> None:
    _offline()
