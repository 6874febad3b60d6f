"""The Interactive page of the real window against the test Dovecot, driven as a screen reader
user would: connect to the shown mailbox, list its messages, choose one, read it whole,
disconnect."""

import glob
import os
import tempfile

import atspi

USER = "u12"

home = tempfile.mkdtemp(prefix="zelm-e2e-")
messages = [
    "From: Alice <alice@example.com>\r\nSubject: hello browser\r\n\r\nfirst body\r\n",
    "From: Bob <bob@example.com>\r\nSubject: second one\r\n\r\nline one\r\n.dot line\r\n",
]
maildir = atspi.dovecot_messages(USER, messages)
# The Mailboxes page shows the stored values; Connect takes them from its fields.
atspi.dovecot_mailbox(home, "home", USER)

with atspi.Window(home) as window:
    atspi.click(window.find("page tab", "Interactive"))
    connect = window.find("check box", "Connect")
    atspi.click(connect)
    atspi.wait_for(lambda: window.status_panel(1) == "Connected to home",
                   "status panel 1 to read Connected to home")
    assert not atspi.enabled(connect), "Connect is still enabled while connected"
    pane = window.find("text", "Message")
    assert atspi.text(pane).startswith("Mailbox: home\nTotal messages: 2\n"), atspi.text(pane)

    summary = window.button("Get summary")
    atspi.wait_for(lambda: atspi.enabled(summary), "Get summary to be enabled")
    atspi.click(summary)
    table = window.find("table", "Messages").queryTable()
    atspi.wait_for(lambda: table.nRows == 2 and window.status_panel(1) == "2 headers retrieved",
                   "two rows and the status 2 headers retrieved")
    rows = [[table.getAccessibleAt(row, column).name for column in range(3)] for row in range(2)]
    assert rows == [["Alice <alice@example.com>", "hello browser", str(len(messages[0]))],
                    ["Bob <bob@example.com>", "second one", str(len(messages[1]))]], rows

    table.addRowSelection(1)
    atspi.wait_for(lambda: window.status_panel(1) == "Message 2 of 2",
                   "status panel 1 to read Message 2 of 2")
    header = "From: Bob <bob@example.com>\nSubject: second one\n"
    assert atspi.text(pane) == header, atspi.text(pane)

    get_message = window.button("Get message")
    atspi.wait_for(lambda: atspi.enabled(get_message), "Get message to be enabled")
    atspi.click(get_message)
    atspi.wait_for(lambda: atspi.text(pane) == header + "\nline one\n.dot line",
                   "the pane to show the whole message")

    atspi.click(window.find("check box", "Disconnect"))
    atspi.wait_for(lambda: window.status_panel(1) == "Disconnected",
                   "status panel 1 to read Disconnected")
    atspi.wait_for(lambda: atspi.enabled(connect), "Connect to be enabled again")
    assert window.exit() == 0

assert len(glob.glob(os.path.join(maildir, "*", "*"))) == 2, "a message went away"
print("browse mailbox: ok")
