"""Takes the screenshots scripts/screenshot writes: the window on a small sample home folder,
one shot per page. Later pages and dialogs add their shots to SHOTS."""

import os
import subprocess
import sys
import tempfile

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
    # A position, as every exit leaves one: start-up reads the options only then.
    atspi.settings(home, "set", "--type", "int", "/", "Left", "0")
    atspi.settings(home, "set", "--type", "int", "/", "Top", "0")
    atspi.settings(home, "set", "/", "SessionInterval", "300")


def grab(window, path):
    """A PNG of the window as the display shows it."""
    x, y, width, height = window.frame.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
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


SHOTS = [("%02d-%s.png" % (i + 1, title.lower()),
          filters_shot if title == "Filters" else page_shot(title))
         for i, title in enumerate(PAGES)]


def main(folder):
    home = tempfile.mkdtemp(prefix="zelm-shots-")
    prepare(home)
    with atspi.Window(home) as window:
        for name, shoot in SHOTS:
            path = os.path.join(folder, name)
            shoot(window, path)
            print(path)
        window.exit()


if __name__ == "__main__":
    main(sys.argv[1])
