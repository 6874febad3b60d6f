"""A mailbox set up from nothing in the real window, as a person would: created on the
Mailboxes page with its POP3 account over SSL/TLS and its SMTP server with STARTTLS and
authentication, an accept-list entry, a reject-list entry that forwards and deletes, a filter
that deletes, the filter put in the order. Then `zelm session` against the test Dovecot and
SMTP sink uses exactly what was typed."""

import glob
import os
import re
import subprocess
import tempfile

import atspi

USER = "u43"
FRIEND = "From: Friend <friend@example.org>\r\nSubject: zap me not\r\n\r\nHi\r\n"
SPAM = "From: Spammer <offers@bad.example>\r\nSubject: cheap\r\n\r\nBuy\r\n"
ZAP = "From: Bob <bob@example.com>\r\nSubject: zap this one\r\n\r\nHi\r\n"
KEEP = "From: Bob <bob@example.com>\r\nSubject: keep this\r\n\r\nHi\r\n"

home = tempfile.mkdtemp(prefix="zelm-e2e-")
maildir = atspi.dovecot_messages(USER, [FRIEND, SPAM, ZAP, KEEP])
spool = os.environ["ZELM_TEST_SMTP_SPOOL"]
spooled_before = set(glob.glob(os.path.join(spool, "*.env")))


def group(window, title):
    """The group box of that title on the page shown."""
    return window.find("panel", title)


with atspi.Window(home) as window:
    atspi.click(window.button("Add new mailbox"))
    prompt = window.find("dialog", "New mailbox")
    atspi.set_text(atspi.find(prompt, "text", "Enter mailbox name."), "home")
    atspi.click(atspi.find(prompt, "push button", "OK"))
    atspi.wait_for(lambda: window.find("combo box", "home"), "the new mailbox to be shown")

    pop3 = group(window, "Pop3 (Incoming mail)")
    smtp = group(window, "SMTP (Outgoing mail)")
    atspi.type_in(atspi.find(pop3, "text", "Host"), "127.0.0.1")
    atspi.type_in(atspi.find(pop3, "text", "User ID"), USER)
    atspi.type_in(atspi.find(pop3, "password text", "Password"), "pw")
    atspi.type_in(atspi.find(pop3, "text", "Port"), "110")
    atspi.mouse_click(atspi.find(smtp, "text", "Host"))
    # SSL/TLS on the plain default offers the usual port, which is stored with it.
    atspi.choose(atspi.find(pop3, "combo box", "None"), "SSL/TLS")
    pop3_port = atspi.find(pop3, "text", "Port")
    atspi.wait_for(lambda: atspi.text(pop3_port) == "995", "the port to become 995")
    atspi.type_in(pop3_port, os.environ["ZELM_TEST_POP3S_PORT"])

    atspi.type_in(atspi.find(smtp, "text", "Host"), "127.0.0.1")
    atspi.type_in(atspi.find(smtp, "text", "Port"), os.environ["ZELM_TEST_SMTP_STARTTLS_PORT"])
    atspi.type_in(atspi.find(smtp, "text", "From"), "zelm@example.org")
    atspi.choose(atspi.find(smtp, "combo box", "None"), "STARTTLS")
    atspi.click(atspi.find(smtp, "check box", "Authentication"))
    user_id = atspi.find(smtp, "text", "SMTP User ID")
    atspi.wait_for(lambda: atspi.enabled(user_id), "the SMTP user ID to be enabled")
    atspi.type_in(user_id, "smtpuser")
    atspi.type_in(atspi.find(smtp, "password text", "SMTP Password"), "smtppw")
    atspi.mouse_click(atspi.find(pop3, "text", "Host"))

    atspi.click(window.find("page tab", "Lists"))
    atspi.type_in(window.find("text", "Accept List"), "friend@example.org")
    atspi.type_in(window.find("text", "Reject List"), "bad.example")
    atspi.click(window.find("check box", "Forward to"))
    address = window.find("text", "Forward to address")
    atspi.set_text(address, "review@example.org")  # stored at every change
    atspi.click(window.find("check box", "Delete message"))

    atspi.click(window.find("page tab", "Filters"))
    atspi.click(window.button("New filter"))
    prompt = window.find("dialog", "New Filter")
    atspi.set_text(atspi.find(prompt, "text", "Enter a name for the filter."), "zap")
    atspi.click(atspi.find(prompt, "push button", "OK"))
    atspi.wait_for(lambda: atspi.enabled(window.button("Add rule")), "the rule buttons")
    atspi.choose(window.find("combo box", "From"), "Subject")
    atspi.set_text(window.find("text", "Comparison text"), "zap")
    atspi.click(window.button("Add rule"))
    atspi.click(window.button("Add action"))
    atspi.find(window.find("list", "Actions"), "list item", "Delete message")

    # The new filter is the one the order offers.
    atspi.click(window.find("page tab", "Mailboxes"))
    atspi.click(window.button("Add filter to order"))
    atspi.find(window.find("list", "Filters to apply"), "list item", "zap")
    assert window.exit() == 0


def stored(name):
    return atspi.settings(home, "get", "Mailboxes/home", name)


expected = {"Host": "127.0.0.1\n", "UserID": USER + "\n", "Pop3Security": "tls\n",
            "Port": os.environ["ZELM_TEST_POP3S_PORT"] + "\n", "SMTPHost": "127.0.0.1\n",
            "SMTPPort": os.environ["ZELM_TEST_SMTP_STARTTLS_PORT"] + "\n",
            "SMTPFrom": "zelm@example.org\n", "SMTPSecurity": "starttls\n", "SMTPAuth": "1\n",
            "SMTPUserID": "smtpuser\n", "ForwardToEnabled": "1\n", "DeleteEnabled": "1\n",
            "ForwardAddress": "review@example.org\n", "Operation": "zap\n",
            "MailboxEnabled": "1\n"}
for name, value in expected.items():
    # A list prints one line each; what ends a single value does not matter here.
    shown = stored(name)
    assert (shown if name == "Operation" else shown.strip()) == \
        (value if name == "Operation" else value.strip()), (name, shown)
with open(os.path.join(home, "home.dat"), "rb") as data:
    lists = data.read()
assert lists == (b"[Accept List]\r\nfriend@example.org\r\n\r\n####\r\n\r\n"
                 b"[Reject List]\r\nbad.example\r\n\r\n####\r\n"), lists

session = subprocess.run(atspi.zelm(home, "session"), capture_output=True, text=True,
                         timeout=120)
assert session.returncode == 0, session.stdout + session.stderr

logs = [path for path in glob.glob(os.path.join(home, "*.log"))
        if os.path.basename(path) != "error.log"]
assert len(logs) == 1, logs
with open(logs[0], "rb") as log:
    text = log.read().decode("latin-1")
errors = os.path.join(home, "error.log")
if os.path.exists(errors):
    with open(errors, "rb") as error_log:
        assert error_log.read() == b"", "errors were logged"
stamp = r"\w{3},\d{2}\w{3}\d{2} \d{2}:\d{2}:\d{2} "
for message, outcome in [(r"Friend <friend@example\.org>\(zap me not\)", r" - accepted"),
                         (r"Spammer <offers@bad\.example>\(cheap\)",
                          r" - rejected \(forwarded to review@example\.org\)"),
                         (r"Bob <bob@example\.com>\(zap this one\)", r" - deleted")]:
    assert re.search(stamp + " Msg: " + message + r"\r\n(" + stamp + r".*\r\n)*?" + stamp +
                     outcome + r"\r\n", text), (outcome, text)
assert "Summary(home): Tot:4 New:4 " in text, text

remaining = glob.glob(os.path.join(maildir, "*", "*"))
subjects = sorted(re.search(r"Subject: (.*)\r?\n", open(path).read()).group(1)
                  for path in remaining)
assert subjects == ["keep this", "zap me not"], subjects

forwarded = set(glob.glob(os.path.join(spool, "*.env"))) - spooled_before
assert len(forwarded) == 1, forwarded
with open(forwarded.pop()) as envelope:
    assert "review@example.org" in envelope.read()
print("mailbox setup: ok")
