"""Takes the screenshots scripts/screenshot writes: the window on a small sample home folder,
one shot per page. Later pages and dialogs add their shots to SHOTS."""

import os
import socket
import subprocess
import sys
import tempfile
import threading

import pyatspi

import atspi  # tests/support, on PYTHONPATH through run_atspi_test.sh

PAGES = ["Mailboxes", "Lists", "Filters", "Options", "Interactive", "About"]


def prepare(home):
    """A home folder with two mailboxes, so the pages show something."""
    for name in ("home", "work"):
        key = "Mailboxes/" + name
        atspi.settings(home, "set", "--type", "int", key, "MailboxEnabled", "1")
        atspi.settings(home, "set", key, "Host", "pop.example.com")
        atspi.settings(home, "set", key, "UserID", name)
        atspi.settings(home, "set", key, "Port", "995")
        atspi.settings(home, "set", key, "Pop3Security", "tls")
        atspi.settings(home, "set", key, "SMTPHost", "smtp.example.com")
        atspi.settings(home, "set", key, "SMTPPort", "587")
        atspi.settings(home, "set", key, "SMTPSecurity", "starttls")
        atspi.settings(home, "set", "--type", "int", key, "SMTPAuth", "1")
        atspi.settings(home, "set", key, "SMTPUserID", name + "@example.com")
        atspi.settings(home, "set", key, "SMTPFrom", name + "@example.com")
    atspi.settings(home, "set", "--type", "list", "Mailboxes/home", "Operation", "spam",
                   "invoices")
    atspi.settings(home, "set", "--type", "int", "Mailboxes/home", "ForwardToEnabled", "1")
    atspi.settings(home, "set", "Mailboxes/home", "ForwardAddress", "review@example.com")
    with open(os.path.join(home, "home.dat"), "w", newline="") as data:
        data.write("[Accept List]\r\nfriend@example.org\r\n@example.com\r\n\r\n####\r\n"
                   "[Reject List]\r\npromo@\r\n.biz\r\n\r\n####\r\n")
    spam = "Mailboxes/home/Filters/spam"
    atspi.settings(home, "set", "--type", "list", spam, "Rules",
                   "      Subject contains `offer`", "OR    From contains `promo@`",
                   "AND   Size is greater than `20000`")
    atspi.settings(home, "set", "--type", "list", spam, "Actions", "Delete message",
                   "Stop (go to next message)")
    atspi.settings(home, "set", "Mailboxes/home/Filters/invoices", "Rules", "")
    atspi.settings(home, "set", "--type", "list", "Mailboxes/home/Filters/invoices",
                   "TextVarNames", "order")
    atspi.settings(home, "set", "--type", "list", "Mailboxes/home/Filters/invoices",
                   "TextExtract", "Go to string in msg: Order:", "Forward # of chars: 6",
                   "Text extraction start (order)", "Go to line end",
                   "Text extraction end (order)")
    atspi.settings(home, "set", "Mailboxes/home", "SMTPFrom", "me@example.com")
    # A position, as every exit leaves one: start-up reads the options only then.
    atspi.settings(home, "set", "--type", "int", "/", "Left", "0")
    atspi.settings(home, "set", "--type", "int", "/", "Top", "0")
    atspi.settings(home, "set", "/", "SessionInterval", "300")


SAMPLE_MESSAGES = [
    "From: Shop <offers@shop.example>\r\nSubject: Summer offer\r\n\r\nBuy now.\r\n",
    "From: Ann <ann@example.org>\r\nSubject: Lunch on Friday?\r\n\r\nSee you.\r\n",
    "From: promo@news.example\r\nSubject: Weekly news\r\n\r\nNews.\r\n",
]


def sample_pop3_server():
    """A loopback POP3 server holding SAMPLE_MESSAGES, for the test run's shot; returns its
    port. It answers one conversation after another until the program ends."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)

    def converse(connection):
        with connection, connection.makefile("rwb", buffering=0) as stream:
            stream.write(b"+OK ready\r\n")
            for raw in stream:
                words = raw.decode().split()
                command = words[0].upper() if words else ""
                n = int(words[1]) if len(words) > 1 and words[1].isdigit() else 0
                text = SAMPLE_MESSAGES[n - 1] if 0 < n <= len(SAMPLE_MESSAGES) else ""
                if command == "STAT":
                    reply = "+OK %d 300\r\n" % len(SAMPLE_MESSAGES)
                elif command == "UIDL":
                    reply = "+OK %d sample-%d\r\n" % (n, n)
                elif command == "LIST":
                    reply = "+OK %d %d\r\n" % (n, len(text))
                elif command == "TOP":
                    reply = "+OK\r\n" + text.split("\r\n\r\n")[0] + "\r\n\r\n.\r\n"
                elif command == "RETR":
                    reply = "+OK\r\n" + text + ".\r\n"
                else:
                    reply = "+OK\r\n"
                stream.write(reply.encode())
                if command == "QUIT":
                    return

    def serve():
        while True:
            connection, _ = listener.accept()
            converse(connection)

    threading.Thread(target=serve, daemon=True).start()
    return listener.getsockname()[1]


def test_run_shot(window, path):
    """The Interactive page after a test run of "home" on the sample server."""
    atspi.click(window.find("page tab", "Interactive"))
    atspi.click(window.button("Test run"))
    report = window.find("text", "Test run report")
    atspi.wait_for(lambda: "Summary(home)" in atspi.text(report), "the test run's report")
    grab(window, path)


def grab(window, path, frame=None):
    """A PNG of the window (or of another frame or dialog of it) as the display shows it."""
    frame = frame or window.frame
    x, y, width, height = frame.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, x, y),
                    "+repage", path], check=True)


def page_shot(title):
    def shoot(window, path):
        atspi.click(window.find("page tab", title))
        window.find("filler", title)
        grab(window, path)
    return shoot


def filters_shot(window, path):
    """The Filters page with the sample filter "spam" selected."""
    atspi.click(window.find("page tab", "Filters"))
    atspi.click(atspi.find(window.find("list", "Filters"), "list item", "spam"))
    atspi.find(window.find("list", "Rules"), "list item", "      Subject contains `offer`")
    grab(window, path)


def dialog_shot(kind, title, fill=None, cancel="Cancel"):
    """The dialog an action kind of the Filters page opens for the filter "invoices"."""
    def shoot(window, path):
        atspi.click(window.find("page tab", "Filters"))
        atspi.click(atspi.find(window.find("list", "Filters"), "list item", "invoices"))
        actions = window.find("combo box", lambda name: name in KINDS)
        if actions.name != kind:
            atspi.choose(actions, kind)
        atspi.click(window.button("Add action"))
        dialog = window.find("dialog", title)
        if fill:
            fill(dialog)
        grab(window, path, dialog)
        atspi.click(atspi.find(dialog, "push button", cancel))
    return shoot


KINDS = ["Delete message", "Extract text from body", "Forward message", "Run external program",
         "Save data to file", "Send new email message", "Stop (go to next message)"]


def fill_message(dialog):
    atspi.set_text(atspi.find(dialog, "text", "Message"),
                   "Attachment: /home/me/terms.pdf\nDear {From},\n\nthank you for your order "
                   "{order}.\nIt will be sent on {DateStamp}.")


def fill_save(dialog):
    atspi.set_text(atspi.find(dialog, "text", "File"), "/home/me/orders.txt")
    atspi.set_text(atspi.find(dialog, "text", "Message"), "{DateStamp};{From};{order}")


SHOTS = [("%02d-%s.png" % (i + 1, title.lower()),
          filters_shot if title == "Filters" else page_shot(title))
         for i, title in enumerate(PAGES)] + [
    ("07-forward-message.png", dialog_shot("Forward message", "Forward message")),
    ("08-send-new-message.png", dialog_shot("Send new email message", "Send new message",
                                            fill_message)),
    ("09-save-data.png", dialog_shot("Save data to file", "Save data to file", fill_save)),
    ("10-text-extraction.png", dialog_shot("Extract text from body",
                                           "Extract text from message body")),
]
SHOTS.append(("%02d-test-run.png" % (len(SHOTS) + 1), test_run_shot))


def main(folder):
    home = tempfile.mkdtemp(prefix="zelm-shots-")
    prepare(home)
    # The mailbox "home" reads the sample server, so the test run has messages to report.
    atspi.settings(home, "set", "Mailboxes/home", "Host", "127.0.0.1")
    atspi.settings(home, "set", "Mailboxes/home", "Port", str(sample_pop3_server()))
    atspi.settings(home, "set", "Mailboxes/home", "Pop3Security", "none")
    atspi.settings(home, "set", "--type", "list", "Mailboxes/home", "Operation", "spam",
                   "invoices")
    with atspi.Window(home) as window:
        for name, shoot in SHOTS:
            path = os.path.join(folder, name)
            shoot(window, path)
            print(path)
        window.exit()


if __name__ == "__main__":
    main(sys.argv[1])
