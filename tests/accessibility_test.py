#!/usr/bin/python3
"""The game's windows as a screen reader reads them over AT-SPI.

Runs inside a private D-Bus session (dbus-run-session) with its own accessibility bus and an
Xvfb display (xvfb-run), both started here; skipped (exit 77) only where they cannot start.
Usage: accessibility_test.py BUILD_DIR ASSETS_DIR
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77


def skip(why):
    print("SKIP: " + why)
    sys.exit(SKIP)


def main():
    build, assets = sys.argv[1], sys.argv[2]
    if "DBUS_SESSION_BUS_ADDRESS" not in os.environ or "--inner" not in sys.argv:
        # Start the private session bus and the display, then run again inside them.
        for tool in ("dbus-run-session", "xvfb-run"):
            if not shutil.which(tool):
                skip(tool + " is not installed")
        if not os.path.exists("/usr/libexec/at-spi-bus-launcher"):
            skip("at-spi2-core is not installed")
        cmd = ["dbus-run-session", "--", "xvfb-run", "-a", "-s", "-screen 0 1280x1024x24",
               sys.executable, os.path.abspath(__file__), build, assets, "--inner"]
        sys.exit(subprocess.call(cmd))
    try:
        import pyatspi
    except ImportError:
        skip("python3-pyatspi is not installed")

    launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    try:
        run(pyatspi, build, assets)
    finally:
        launcher.terminate()
        launcher.wait()


def wait_for(what, probe, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        try:
            found = probe()
        except Exception:  # the tree changes under the reader
            found = None
        if found:
            return found
        time.sleep(0.1)
    raise AssertionError("not found in time: " + what)


def walk(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def find(root, name=None, role=None, starts=None):
    for n in walk(root):
        if role is not None and n.getRoleName() != role:
            continue
        if name is not None and n.name != name:
            continue
        if starts is not None and not n.name.startswith(starts):
            continue
        return n
    return None


def check(condition, what):
    if not condition:
        raise AssertionError(what)
    print("ok - " + what)


def run(pyatspi, build, assets):
    work = tempfile.mkdtemp()
    for name in ("tessa1.jpg", "tessa2.jpg", "tessa3.jpg"):
        shutil.copy(os.path.join(assets, name), work)
    env = dict(os.environ, QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    driver = subprocess.Popen([os.path.join(build, "tests", "accessibility_driver")], cwd=work, env=env,
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        if driver.stdout.readline().strip() != "ready":
            raise AssertionError("the driver did not start")
        desktop = pyatspi.Registry.getDesktop(0)

        def app():
            for i in range(desktop.childCount):
                a = desktop.getChildAtIndex(i)
                if a is not None and find(a, name="Zimble Playing Field", role="dialog"):
                    return a
            return None

        game = wait_for("the game on the accessibility bus", app)
        field = find(game, name="Zimble Playing Field", role="dialog")

        # The board: 16 tiles, each a push button named by its place and face.
        tile = wait_for("the first tile", lambda: find(field, name="Row 1, column 1: empty", role="push button"))
        check(find(field, name="Row 4, column 4: empty", role="push button") is not None, "tiles named by row and column")
        knob = find(field, name="Board size", role="slider")
        check(knob is not None, "the knob is a slider named Board size")
        value = knob.queryValue()
        check((value.minimumValue, value.maximumValue, value.currentValue) == (4, 7, 4), "the knob runs from 4 to 7, at 4")
        value.currentValue = 5
        wait_for("a 5 x 5 board", lambda: find(field, name="Row 5, column 5: empty", role="push button"))
        check(True, "setting the slider lays out a 5 x 5 board")
        zq = find(field, name="ZQ")
        check(zq is not None and zq.queryValue().currentValue == 0, "the ZQ display reads 0")
        clock = find(field, name="Game clock")
        check(clock is not None and clock.queryValue().currentValue == 0, "the game clock reads 0")

        # A click through the button's own action.
        tile = find(field, name="Row 1, column 1: empty", role="push button")
        action = tile.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        action.doAction(names.index("Press") if "Press" in names else 0)
        wait_for("the clicked tile's new name",
                 lambda: find(field, name="Row 1, column 1: picture 1", role="push button"))
        check(True, "a click renames its tile")
        check(abs(zq.queryValue().currentValue - 2.5) < 1e-9, "the ZQ reads 2.5 after the first click")
        check(find(field, name="Reset", role="push button") is not None, "the reset button is named")

        # The other windows.
        check(find(game, name="Zimble", role="image") is not None, "the title picture is named")
        check(find(game, starts="The Goal of Zimble is simple.") is not None, "the goal text reads as text")
        check(find(game, starts="There is no Help.") is not None, "the help text reads as text")
        check(find(game, name="Zimble icon") is not None, "the about window's icon is named")

        # The summary.
        driver.stdin.write("end\n")
        driver.stdin.flush()
        summary = wait_for("the summary", lambda: find(game, name="Zimble ZQ Summary", role="dialog"))
        best5 = find(summary, name="Your high ZQ, 5 x 5")
        check(best5 is not None and best5.queryValue().currentValue == 812.5, "Your high ZQ, 5 x 5 reads 812.5")
        world5 = find(summary, name="World-wide high ZQ, 5 x 5")
        check(world5 is not None and world5.queryValue().currentValue == 1410, "World-wide high ZQ, 5 x 5 reads 1410")
        check(find(summary, name="Record holder, 5 x 5: Ann Lee") is not None, "the 5 x 5 holder reads as text")
        check(find(summary, name="You scored a ZQ of 3") is not None, "the score line reads as text")
        check(find(summary, starts="To update the WorldWide high ZQs") is not None, "the explanation reads as text")
        box = find(summary, role="text")
        labels = [r.getTarget(0).name for r in box.getRelationSet()
                  if r.getRelationType() == pyatspi.RELATION_LABELLED_BY and r.getNTargets() > 0]
        check(labels == ["Name:"], "the name box is labelled by Name:")
        check(find(summary, name="Waiting for the score service", role="progress bar") is not None,
              "the progress bar is named")
    finally:
        try:
            driver.stdin.write("quit\n")
            driver.stdin.flush()
        except BrokenPipeError:
            pass
        try:
            driver.wait(10)
        except subprocess.TimeoutExpired:
            driver.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
