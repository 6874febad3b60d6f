"""A filter built on the Filters page of the real window deletes a message at Manual Start:
"Subject contains `zap`" with "Delete message", against the test Dovecot."""

import glob
import os
import re
import tempfile

import atspi

USER = "u41"

home = tempfile.mkdtemp(prefix="zelm-e2e-")
maildir = atspi.dovecot_messages(
    USER, ["From: Bob <bob@example.com>\r\nSubject: %s\r\n\r\nHi\r\n" % subject
           for subject in ("keep this", "zap this one")])
atspi.dovecot_mailbox(home, "home", USER)

with atspi.Window(home) as window:
    atspi.click(window.find("page tab", "Filters"))
    atspi.click(window.button("New filter"))
    prompt = window.find("dialog", "New Filter")
    atspi.set_text(atspi.find(prompt, "text", "Enter a name for the filter."), "zap")
    atspi.click(atspi.find(prompt, "push button", "OK"))
    # The new filter is selected, so its rules can be built.
    atspi.wait_for(lambda: atspi.enabled(window.button("Add rule")), "the rule buttons")

    atspi.choose(window.find("combo box", "From"), "Subject")
    atspi.set_text(window.find("text", "Comparison text"), "zap")
    atspi.click(window.button("Add rule"))
    atspi.find(window.find("list", "Rules"), "list item", "      Subject contains `zap`")
    # "Delete message" is the kind the action list shows first.
    atspi.click(window.button("Add action"))
    atspi.find(window.find("list", "Actions"), "list item", "Delete message")

    # The filter order is the Mailboxes page's; here it is set through the store.
    atspi.settings(home, "set", "--type", "list", "Mailboxes/home", "Operation", "zap")
    abort = window.button("Idle")
    atspi.click(window.button("Manual Start"))
    atspi.wait_for(lambda: window.status_panel(1) == "Disconnected", "status panel 1 to read "
                   "Disconnected")
    atspi.wait_for(lambda: abort.name == "Idle", "the abort button to return to Idle")
    assert window.exit() == 0

assert atspi.settings(home, "get", "Mailboxes/home/Filters/zap", "Rules") == \
    "      Subject contains `zap`\n"
assert atspi.settings(home, "get", "Mailboxes/home/Filters/zap", "Actions") == "Delete message\n"

logs = [path for path in glob.glob(os.path.join(home, "*.log"))
        if os.path.basename(path) != "error.log"]
assert len(logs) == 1, logs
with open(logs[0], "rb") as log:
    text = log.read().decode("latin-1")
stamp = r"\w{3},\d{2}\w{3}\d{2} \d{2}:\d{2}:\d{2} "
deleted = stamp + r" Msg: Bob <bob@example\.com>\(zap this one\)\r\n" + stamp + r" - deleted\r\n"
assert re.search(deleted, text), "no deleted message in the session log:\n" + text
kept = stamp + r" Msg: Bob <bob@example\.com>\(keep this\)\r\n" + stamp + r"(?! - deleted)"
assert re.search(kept, text), "the kept message is missing or deleted:\n" + text
assert "Summary(home): Tot:2 New:2 " in text, text

remaining = glob.glob(os.path.join(maildir, "new", "*")) + glob.glob(os.path.join(maildir, "cur",
                                                                                  "*"))
assert len(remaining) == 1, remaining
with open(remaining[0]) as kept_file:
    assert "Subject: keep this" in kept_file.read()
print("filter delete: ok")
