"""A second zelm on the same home folder says "zelm is already running." in a message box and
ends with status 1; the first keeps running untouched."""

import glob
import os
import subprocess
import tempfile

import atspi

home = tempfile.mkdtemp(prefix="zelm-e2e-")
with atspi.Window(home) as first:
    second = subprocess.Popen(atspi.zelm(home), stderr=subprocess.PIPE, text=True)
    box_app = atspi.application(second.pid)
    atspi.find(box_app, "label", "zelm is already running.")
    atspi.click(atspi.find(box_app, "push button", "OK"))
    assert second.wait(20) == 1
    assert second.stderr.read() == "zelm is already running.\n"

    assert first.process.poll() is None, "the first copy ended"

    def session_ended():
        for path in glob.glob(os.path.join(home, "???.log")):
            with open(path, "rb") as log:
                if b"Session End" in log.read():
                    return True
        return False

    atspi.click(first.button("Manual Start"))  # still answers
    atspi.wait_for(session_ended, "the first copy to run a session")
    assert first.exit() == 0
print("second copy: ok")
