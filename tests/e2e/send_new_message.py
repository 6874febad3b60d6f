"""A "Send new email message" action written in the real window's template dialog answers a
message: the filter and its template are built through the accessibility interface, then
`zelm session` runs against the test Dovecot and the SMTP sink, where the composed answer
arrives."""

import glob
import os
import subprocess
import tempfile

import atspi

USER = "u42"
SUBJECT = "order 4711 for the dialog test"

home = tempfile.mkdtemp(prefix="zelm-e2e-")
atspi.dovecot_messages(USER, ["From: Carol <carol@example.com>\r\nSubject: %s\r\n\r\nHi\r\n"
                              % SUBJECT])
atspi.dovecot_mailbox(home, "home", USER)
atspi.settings(home, "set", "Mailboxes/home", "SMTPHost", "127.0.0.1")
atspi.settings(home, "set", "Mailboxes/home", "SMTPPort", os.environ["ZELM_TEST_SMTP_PORT"])
atspi.settings(home, "set", "Mailboxes/home", "SMTPFrom", "zelm@example.com")

with atspi.Window(home) as window:
    atspi.click(window.find("page tab", "Filters"))
    atspi.click(window.button("New filter"))
    prompt = window.find("dialog", "New Filter")
    atspi.set_text(atspi.find(prompt, "text", "Enter a name for the filter."), "answer")
    atspi.click(atspi.find(prompt, "push button", "OK"))
    atspi.wait_for(lambda: atspi.enabled(window.button("Add rule")), "the rule buttons")
    atspi.choose(window.find("combo box", "From"), "Subject")
    atspi.set_text(window.find("text", "Comparison text"), "4711")
    atspi.click(window.button("Add rule"))
    atspi.find(window.find("list", "Rules"), "list item", "      Subject contains `4711`")

    atspi.choose(window.find("combo box", "Delete message"), "Send new email message")
    atspi.click(window.button("Add action"))
    dialog = window.find("dialog", "Send new message")
    assert atspi.text(atspi.find(dialog, "text", "From")) == "{To}"
    assert atspi.text(atspi.find(dialog, "text", "Subject")) == "Re: {Subject}"
    address = atspi.find(dialog, "combo box", "Send to:")
    atspi.set_text(atspi.find(address, "text", lambda name: True), "{From}")
    atspi.set_text(atspi.find(dialog, "text", "Message"), "Thank you for {Subject}.\nBye")
    atspi.click(atspi.find(dialog, "push button", "OK"))
    atspi.find(window.find("list", "Actions"), "list item", "Send msg: m00001")
    assert window.exit() == 0

with open(os.path.join(home, "m00001.dat"), "rb") as template:
    assert template.read() == (b"From: {To}\r\nSubject: Re: {Subject}\r\nTo: {From}\r\nCc: \r\n"
                               b"\r\nThank you for {Subject}.\r\nBye\r\n")
assert atspi.settings(home, "get", "Mailboxes/home/Filters/answer", "Actions") == \
    "Send msg: m00001\n"

# The filter runs once it is in the mailbox's order, which the Mailboxes page edits.
atspi.settings(home, "set", "--type", "list", "Mailboxes/home", "Operation", "answer")
session = subprocess.run(atspi.zelm(home, "session"), capture_output=True, timeout=60)
assert session.returncode == 0, session


def answer():
    for data in glob.glob(os.path.join(os.environ["ZELM_TEST_SMTP_SPOOL"], "*.eml")):
        with open(data, "rb") as received:
            text = received.read().decode("latin-1")
        if "Subject: Re: " + SUBJECT in text:
            with open(data[:-4] + ".env") as envelope:
                return text, envelope.read().split("\n")
    return None


text, envelope = atspi.wait_for(answer, "the answer at the SMTP sink")
assert "carol@example.com" in envelope[1], envelope
assert "Thank you for %s.\r\nBye\r\n" % SUBJECT in text, text
print("send new message: ok")
