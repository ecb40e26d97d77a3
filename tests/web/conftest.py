"""Chromium's renderer, emulated in scripts/vm-run's guest, now and then stops on a trap
of its own (docs/web.md). There, a step whose page crashed runs once more in a fresh
browser, and the run says so; a second crash fails it."""

import pytest

from browser import PageCrashed


@pytest.hookimpl(tryfirst=True)
def pytest_pyfunc_call(pyfuncitem):
    arguments = {name: pyfuncitem.funcargs[name] for name in pyfuncitem._fixtureinfo.argnames}
    page = pyfuncitem.funcargs.get("page")
    try:
        pyfuncitem.obj(**arguments)
    except PageCrashed as crash:
        if not hasattr(page, "reopen"):
            raise
        plugins = pyfuncitem.config.pluginmanager
        with plugins.get_plugin("capturemanager").global_and_fixture_disabled():
            plugins.get_plugin("terminalreporter").write_line(
                f"\n{pyfuncitem.nodeid}: {crash}\nthe step runs once more, in a fresh browser")
        page.reopen()
        pyfuncitem.obj(**arguments)
    return True
