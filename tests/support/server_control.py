"""What the loopback test servers share: faults switched on by files in a
control folder (read on demand, so a test changes them while the server runs),
and the events they record for the tests to read."""

import os

LOGIN_FOLDER = "/login"


def read_control(control, name):
    try:
        with open(os.path.join(control, name), "rb") as handle:
            return handle.read().decode("utf8", "surrogateescape")
    except OSError:
        return None


def name_listed(control, list_name, path):
    names = read_control(control, list_name) or ""
    base = os.path.basename(path)
    return any(name and base.startswith(name) for name in names.splitlines())


def record_event(control, line):
    with open(os.path.join(control, "events"), "ab") as handle:
        handle.write(line.encode("utf8", "surrogateescape") + b"\n")
