"""Manual Start in the real window against the test Dovecot: the abort button shows the
session, status panel 1 says how the mailbox ended, and the session log holds the whole run."""

import glob
import os
import tempfile

import atspi

USER = "u38"

home = tempfile.mkdtemp(prefix="zelm-e2e-")
atspi.dovecot_messages(
    USER, ["From: Alice <alice@example.com>\r\nSubject: hello window\r\n\r\nHi\r\n"])
atspi.dovecot_mailbox(home, "home", USER)

with atspi.Window(home) as window:
    abort = window.button("Idle")
    assert not atspi.enabled(abort), "the abort button is enabled between sessions"
    atspi.click(window.button("Manual Start"))
    atspi.wait_for(lambda: window.status_panel(1) == "Disconnected", "status panel 1 to read "
                   "Disconnected")
    atspi.wait_for(lambda: abort.name == "Idle" and not atspi.enabled(abort),
                   "the abort button to return to Idle")
    assert window.exit() == 0

logs = [path for path in glob.glob(os.path.join(home, "*.log"))
        if os.path.basename(path) != "error.log"]
assert len(logs) == 1, logs
with open(logs[0], "rb") as log:
    text = log.read().decode("latin-1")
for expected in ("Session Start\r\n", " Msg: Alice <alice@example.com>(hello window)\r\n",
                 "Summary(home): Tot:1 New:1 ", "Session End\r\n"):
    assert expected in text, "%r not in the session log:\n%s" % (expected, text)
# The exit stored where the window stood and that no mailbox list position was lost.
assert atspi.settings(home, "get", "/", "LastMailbox") == "0\n"
print("manual start: ok")
