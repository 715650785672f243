#!/usr/bin/env python3
"""Drives the real desktop program in a real X session, as a person would.

A private Xvfb display with a small window manager (openbox) runs the program in
an empty temporary home. xdotool types and clicks; every step leaves a
screenshot in the screenshot folder. Three stories, one after the other:

  a) first start: Add Folder through the folder dialog (path typed into its
     name field, Return), Start Backup clicked; the files arrive in the default
     backup folder and the history log holds the run;
  b) a second start brings the minimised first window forward and ends;
  c) closing the window during a run: the run still writes its end line and
     saves the project, then the program ends by itself.

Usage: DesktopSessionTest.py PROGRAM SCREENSHOT_FOLDER
Exit status: 0 passed, 1 failed, 77 skipped (a tool is missing).
"""

import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIPPED = 77
WINDOW_TITLE = "Tarnwick Backup 7"
# The program runs in English (LC_ALL=C.UTF-8), so these are its English texts.
FOLDER_DIALOG_TITLE = "Choose a folder to back up"
LOG_STARTED = "Backup started"
LOG_FINISHED = "Backup finished"
LOG_CANCELLED = "Backup cancelled"
# Enough small files that an incremental run copies them for seconds (about
# ten here): the close, sent at once, must arrive while it is still copying.
BULK_FILE_COUNT = 3000
STEP_TIMEOUT = 20.0
TOOLS = ("Xvfb", "xdotool", "openbox", "xprop", "import")
# The window manager's defaults, less the iconify animation that a screenshot
# would catch half-way; Alt+F4 closes the active window as on most desktops.
OPENBOX_CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><animateIconify>no</animateIconify></theme>
  <keyboard><keybind key="A-F4"><action name="Close"/></keybind></keyboard>
</openbox_config>
"""


class Failure(Exception):
    pass


STARTED = time.monotonic()


def log(text):
    print(f"[{time.monotonic() - STARTED:5.1f} s] {text}", flush=True)


def die_with_parent():
    # A killed test (ctest's timeout) must not leave the display or the program behind.
    libc = ctypes.CDLL(None, use_errno=True)
    pr_set_pdeathsig = 1
    libc.prctl(pr_set_pdeathsig, signal.SIGTERM, 0, 0, 0)


def wait_until(what, check, timeout=STEP_TIMEOUT, interval=0.05):
    """Polls check() until it returns a true value, for at most timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


class Session:
    """The display, the window manager and the program's processes, all ended on exit."""

    def __init__(self, program, screenshots, root):
        self.program = program
        self.screenshots = screenshots
        self.root = root
        self.home = os.path.join(root, "home")
        self.processes = []
        self.shot_number = 0
        self.env = None

    # ------------------------------------------------------------ set-up

    def start_display(self):
        read_end, write_end = os.pipe()
        xvfb = self.spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                           "-nolisten", "tcp", "-noreset"], "xvfb.log", pass_fds=(write_end,))
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + STEP_TIMEOUT
        os.set_blocking(read_end, False)
        while not number.endswith(b"\n"):
            if xvfb.poll() is not None:
                raise Failure("Xvfb ended at start:\n" + self.read_log("xvfb.log"))
            if time.monotonic() > deadline:
                raise Failure("Xvfb did not report its display")
            try:
                number += os.read(read_end, 64)
            except BlockingIOError:
                time.sleep(0.05)
        os.close(read_end)
        self.env = self.program_environment(":" + number.decode().strip())
        config = os.path.join(self.root, "openbox-rc.xml")
        with open(config, "w") as file:
            file.write(OPENBOX_CONFIG)
        self.spawn(["openbox", "--sm-disable", "--config-file", config], "openbox.log")
        wait_until("the window manager",
                   lambda: "window id" in self.x(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False))

    def program_environment(self, display):
        for folder in ("config", "data", "cache", "state", "runtime"):
            os.makedirs(os.path.join(self.home, "." + folder), mode=0o700)
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "USER": os.environ.get("USER", "root"),
            "DISPLAY": display,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "XDG_DATA_HOME": os.path.join(self.home, ".data"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "XDG_STATE_HOME": os.path.join(self.home, ".state"),
            "XDG_RUNTIME_DIR": os.path.join(self.home, ".runtime"),
            "TMPDIR": self.root,
            "LC_ALL": "C.UTF-8",
            "QT_QPA_PLATFORM": "xcb",
            # No session bus: nothing may reach the desktop that runs the test.
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(self.root, "no-bus"),
        }
        return env

    def spawn(self, command, log_name, pass_fds=(), cwd=None):
        output = open(os.path.join(self.root, log_name), "ab")
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT,
                                   env=self.env, cwd=cwd, pass_fds=pass_fds, preexec_fn=die_with_parent)
        output.close()
        self.processes.append(process)
        return process

    def read_log(self, log_name):
        try:
            with open(os.path.join(self.root, log_name), errors="replace") as file:
                return file.read()
        except OSError:
            return ""

    def close(self):
        # The program, then the window manager, then the display they talk to.
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    # ------------------------------------------------------------ X tools

    def x(self, command, check=True, timeout=STEP_TIMEOUT):
        result = subprocess.run(command, env=self.env, capture_output=True, text=True, timeout=timeout)
        if check and result.returncode != 0:
            raise Failure(f"{' '.join(command)} failed ({result.returncode}): {result.stderr.strip()}")
        return result.stdout

    def screenshot(self, step):
        self.shot_number += 1
        path = os.path.join(self.screenshots, f"{self.shot_number:02d}-{step}.png")
        self.x(["import", "-window", "root", path])
        log(f"screenshot: {path}")
        return path

    def visible_windows(self, name):
        # --sync is not used: a bounded poll reports the timeout itself.
        output = self.x(["xdotool", "search", "--onlyvisible", "--name", name], check=False)
        return [line for line in output.split() if line]

    def wait_for_window(self, name):
        pattern = "^" + re.escape(name) + "$"
        return wait_until(f"a window named '{name}'", lambda: self.visible_windows(pattern))[0]

    def wait_window_gone(self, name):
        pattern = "^" + re.escape(name) + "$"
        wait_until(f"the window '{name}' to close", lambda: not self.visible_windows(pattern))

    def window_state(self, window):
        output = self.x(["xprop", "-id", window, "WM_STATE"], check=False)
        found = re.search(r"window state: (\w+)", output)
        return found.group(1) if found else ""

    def active_window(self):
        return self.x(["xdotool", "getactivewindow"], check=False).strip()

    def activate(self, window):
        self.x(["xdotool", "windowactivate", "--sync", window])
        wait_until("the window to take the focus", lambda: self.active_window() == window)

    def click_start_button(self, window):
        """Clicks Start Backup and waits until the run has written its start line."""
        runs_before = len(run_blocks(self.history_log))
        geometry = dict(line.split("=", 1) for line in
                        self.x(["xdotool", "getwindowgeometry", "--shell", window]).split())
        width, height = int(geometry["WIDTH"]), int(geometry["HEIGHT"])
        # The start button is the big one in the bottom right corner: its right
        # edge 24, its top 95 and its bottom 43 dialog pixels from the corner,
        # at least 100 pixels wide; this point lies inside it from 0.75x to 1.6x font.
        point = (width - 60, height - 70)
        self.x(["xdotool", "mousemove", "--window", window, str(point[0]), str(point[1]), "click", "1"])
        wait_until(f"a run to start after the click at {point} (has the start button moved?)",
                   lambda: len(run_blocks(self.history_log)) > runs_before, timeout=5, interval=0.01)

    # ------------------------------------------------------------ the program

    def start_program(self):
        # Started in the home folder, as the desktop's menu starts programs.
        return self.spawn([self.program], "program.log", cwd=self.home)

    @property
    def config_folder(self):
        return os.path.join(self.home, ".config", "Tarnwick")

    @property
    def project_file(self):
        return os.path.join(self.config_folder, "tarnwick_backup.tarn")

    @property
    def settings_file(self):
        return os.path.join(self.config_folder, "TarnwickBackup", "7.00", "config.ini")

    @property
    def history_log(self):
        return os.path.join(self.config_folder, "TarnwickBackup", "7.00", "history.txt")

    @property
    def backup_root(self):
        return os.path.join(self.home, "Documents", "Tarnwick Backup Folder")


def read_lines(path):
    try:
        with open(path, "rb") as file:
            return file.read().decode("utf-8", "replace").splitlines()
    except FileNotFoundError:
        return []


def run_blocks(history):
    """The history log's runs: each is the list of lines from a start line on."""
    runs = []
    for line in read_lines(history):
        if line.endswith(LOG_STARTED):
            runs.append([])
        if runs:
            runs[-1].append(line)
    return runs


def project_run_state(project):
    # Header, underline, blank, destination, interval, minutes remaining, last run, entries.
    lines = read_lines(project)
    if len(lines) < 6:
        raise Failure(f"the project file is too short: {lines}")
    lines += [""] * (8 - len(lines))  # no entries yet, no last run yet
    return {"destination": lines[3], "interval": lines[4], "minutes": lines[5], "last_run": lines[6],
            "entries": lines[7]}


def make_tree(folder, files):
    for relative, data in files.items():
        path = os.path.join(folder, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as file:
            file.write(data)


def copies_in(backup_root, files):
    """Relative path -> whether a file of that path (below some entry folder) holds the same bytes."""
    found = {}
    for folder, _, names in os.walk(backup_root):
        for name in names:
            path = os.path.join(folder, name)
            for relative, data in files.items():
                if path.endswith("/" + relative):
                    with open(path, "rb") as file:
                        found[relative] = found.get(relative, False) or file.read() == data
    return {relative: found.get(relative, False) for relative in files}


# ---------------------------------------------------------------- the stories

def first_start_backs_up_a_folder(session, source, files):
    main = session.start_program()
    window = session.wait_for_window(WINDOW_TITLE)
    session.screenshot("first-start")
    if not os.path.isfile(session.project_file) or not os.path.isfile(session.history_log):
        raise Failure("the first start did not put a project file and a history log into the empty home")
    if not project_run_state(session.project_file)["destination"].startswith(session.backup_root + "/"):
        raise Failure("the default backup folder is not in the home's Documents folder")

    session.activate(window)
    session.x(["xdotool", "key", "--clearmodifiers", "alt+o"])  # Add F&older
    dialog = session.wait_for_window(FOLDER_DIALOG_TITLE)
    session.activate(dialog)
    session.screenshot("add-folder-dialog")
    session.x(["xdotool", "type", "--delay", "15", source])
    session.screenshot("add-folder-path-typed")
    session.x(["xdotool", "key", "Return"])
    session.wait_window_gone(FOLDER_DIALOG_TITLE)
    wait_until("the folder in the project file",
               lambda: project_run_state(session.project_file)["entries"].startswith(source + "/"))
    session.screenshot("folder-added")

    session.activate(window)
    session.click_start_button(window)
    runs = wait_until("the run's end line in the history log",
                      lambda: [run for run in run_blocks(session.history_log) if run[-1].endswith(LOG_FINISHED)])
    session.screenshot("backup-finished")
    if len(runs) != 1:
        raise Failure(f"expected one finished run in the history log, found {len(runs)}")
    if not any(source in line for line in runs[0]):
        raise Failure(f"the run's log does not name the folder: {runs[0]}")
    missing = [relative for relative, ok in copies_in(session.backup_root, files).items() if not ok]
    if missing:
        raise Failure(f"not (or wrongly) copied to {session.backup_root}: {missing}")
    last_run = project_run_state(session.project_file)["last_run"]
    if not re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d", last_run):
        raise Failure(f"the project does not hold the time of the run: '{last_run}'")
    log("a) first start, Add Folder, Start Backup: passed")
    return main, window, last_run


def second_start_brings_window_forward(session, main, window):
    session.x(["xdotool", "windowminimize", "--sync", window])
    wait_until("the window to be minimised", lambda: session.window_state(window) == "Iconic")
    session.screenshot("minimised")

    second = session.start_program()
    try:
        status = second.wait(timeout=STEP_TIMEOUT)
    except subprocess.TimeoutExpired:
        raise Failure("the second start did not end")
    if status != 0:
        raise Failure(f"the second start ended with status {status}")
    wait_until("the first window to come back", lambda: session.window_state(window) == "Normal")
    wait_until("the first window to be active", lambda: session.active_window() == window)
    session.screenshot("second-start-brought-window-forward")
    if session.visible_windows("^" + re.escape(WINDOW_TITLE) + "$") != [window]:
        raise Failure("the second start opened a window of its own")
    if main.poll() is not None:
        raise Failure(f"the first instance ended (status {main.returncode})")
    log("b) second start brings the first window forward: passed")


def settings_value(session, key):
    lines = read_lines(session.settings_file)
    return next((lines[i + 1] for i in range(len(lines) - 1) if lines[i] == key), "")


def closing_during_run_finishes_it(session, main, window, source, last_run):
    # An incremental run looks at the stop request between files, so the close
    # ends the copying early and the test stays short.
    session.activate(window)
    session.x(["xdotool", "key", "--clearmodifiers", "alt+i"])  # &Incremental backup
    wait_until("the incremental mode in the settings", lambda: settings_value(session, "Options").startswith("1"))
    session.screenshot("incremental-chosen")
    # Hard links are quick to make and are copied as files of their own.
    bulk = os.path.join(source, "bulk")
    make_tree(bulk, {"original.bin": os.urandom(4096)})
    for i in range(BULK_FILE_COUNT):
        folder = os.path.join(bulk, f"d{i % 100:03d}")
        if i < 100:
            os.mkdir(folder)
        os.link(os.path.join(bulk, "original.bin"), os.path.join(folder, f"f{i:05d}.bin"))
    runs_before = len(run_blocks(session.history_log))

    session.activate(window)
    session.click_start_button(window)
    session.screenshot("run-in-progress")
    project_before_close = os.stat(session.project_file).st_mtime_ns
    session.x(["xdotool", "key", "--clearmodifiers", "alt+F4"])  # the window manager's close
    try:
        status = main.wait(timeout=60)
    except subprocess.TimeoutExpired:
        raise Failure("the program did not end after the run")
    session.screenshot("program-ended")
    if status != 0:
        raise Failure(f"the program ended with status {status}")

    run = run_blocks(session.history_log)[-1]
    if len(run_blocks(session.history_log)) != runs_before + 1:
        raise Failure("expected exactly one more run in the history log")
    if run[-1].endswith(LOG_FINISHED):
        raise Failure("the run was over before the close arrived; BULK_FILE_COUNT is too small for this machine")
    if not run[-1].endswith(LOG_CANCELLED):
        raise Failure(f"the run closed by the window has no end line: {run}")
    if os.stat(session.project_file).st_mtime_ns <= project_before_close:
        raise Failure("the run's end did not save the project")
    state = project_run_state(session.project_file)
    # A run ended by a close is no completed backup: the last run stays, the countdown restarts.
    if state["last_run"] != last_run or state["minutes"] != state["interval"]:
        raise Failure(f"unexpected run state in the project after the close: {state}")
    if session.visible_windows("^" + re.escape(WINDOW_TITLE) + "$"):
        raise Failure("the window is still there after the program ended")
    log("c) closing the window during a run lets the run end: passed")


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    program, screenshots = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        log(f"{', '.join(missing)} not installed (scripts/setup.sh installs them)")
        # CI installs them; a skip there would hide a broken set-up.
        return 1 if os.environ.get("CI") == "true" else SKIPPED
    # ctest's timeout and a Ctrl-C end the test through the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

    shutil.rmtree(screenshots, ignore_errors=True)
    os.makedirs(screenshots)
    started = time.monotonic()
    root = tempfile.mkdtemp(prefix="tarnwick-x11-")
    session = Session(program, screenshots, root)
    try:
        source = os.path.join(root, "Source folder")
        files = {"notes.txt": b"first file\n", "photos/holiday 1.jpg": os.urandom(70000),
                 "photos/deeper/ümlaut é.txt": "non-ASCII name\n".encode()}
        make_tree(source, files)
        session.start_display()
        main_process, window, last_run = first_start_backs_up_a_folder(session, source, files)
        second_start_brings_window_forward(session, main_process, window)
        closing_during_run_finishes_it(session, main_process, window, source, last_run)
    except (Failure, subprocess.TimeoutExpired) as failure:
        log(f"FAILED: {failure}")
        try:
            session.screenshot("failure")
        except Exception as error:  # the display may be gone; the message above counts
            log(f"(no failure screenshot: {error})")
        for name in ("program.log", "openbox.log", "xvfb.log"):
            text = session.read_log(name).strip()
            if text:
                log(f"--- {name}\n{text}")
        return 1
    finally:
        session.close()
        shutil.rmtree(root, ignore_errors=True)
    log(f"passed in {time.monotonic() - started:.1f} s; screenshots in {screenshots}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
