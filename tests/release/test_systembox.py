"""The systemd machine of the service tests, where a kernel refuses its namespaces: the tests
are skipped with one line saying why, never passed without running."""
import os

import pytest

import systembox


def test_a_kernel_that_refuses_the_namespaces_is_named_in_one_line(tmp_path, monkeypatch):
    refusing = tmp_path / "unshare"
    refusing.write_text("#!/bin/sh\necho 'unshare: unshare failed: Operation not permitted' >&2\nexit 1\n")
    refusing.chmod(0o755)
    monkeypatch.setenv("PATH", "%s:%s" % (tmp_path, os.environ["PATH"]))
    with pytest.raises(systembox.Unavailable) as refused:
        systembox.check_machine()
    assert str(refused.value) == "the kernel refuses new namespaces: unshare: unshare failed: Operation not permitted"
