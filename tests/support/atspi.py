"""Drives the real zelm window through the accessibility interface, as a screen reader or a
person would: find a widget by role and accessible name, click it, type into it, read it, and
wait for a condition with a time limit. Used by the end-to-end tests that
run_atspi_test.sh runs (it provides the display and the buses)."""

import glob
import os
import subprocess
import time

import pyatspi

DEFAULT_LIMIT = 20.0


def wait_for(condition, what, limit=DEFAULT_LIMIT):
    """Calls condition until it returns something true, and returns that; fails after limit
    seconds."""
    deadline = time.monotonic() + limit
    while True:
        try:
            value = condition()
        except Exception:  # an object that went away while being read: look again
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %.0f s waiting for %s" % (limit, what))
        time.sleep(0.05)


def application(pid, limit=DEFAULT_LIMIT):
    """The accessible application of the process pid, once it is on the bus."""

    def find():
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.get_process_id() == pid:
                return app
        return None

    return wait_for(find, "the application of process %d" % pid, limit)


def matches(accessible, role, name):
    if accessible.getRoleName() != role:
        return False
    if callable(name):
        return name(accessible.name)
    return accessible.name == name


def search(root, role, name):
    """The first accessible below root (depth first) of the role whose name is name (a text,
    or a predicate on the name); None when there is none."""
    stack = [root]
    while stack:
        node = stack.pop()
        if node is None:
            continue
        if matches(node, role, name):
            return node
        for i in range(node.childCount - 1, -1, -1):
            stack.append(node.getChildAtIndex(i))
    return None


def find(root, role, name, limit=DEFAULT_LIMIT):
    """As search, waiting until the widget exists and is showing."""

    def showing():
        node = search(root, role, name)
        if node is not None and node.getState().contains(pyatspi.STATE_SHOWING):
            return node
        return None

    return wait_for(showing, "a %s named %r" % (role, name), limit)


def click(accessible):
    """Presses a button, check box, page tab or menu item (its first action)."""
    accessible.queryAction().doAction(0)


def mouse_click(accessible):
    """Clicks the middle of the widget with the mouse, as a person would; a field clicked
    takes the input focus, and the field that had it is left."""
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    x, y = box.x + box.width // 2, box.y + box.height // 2
    pyatspi.Registry.generateMouseEvent(x, y, "abs")
    pyatspi.Registry.generateMouseEvent(x, y, "b1c")


def focused(accessible):
    return accessible.getState().contains(pyatspi.STATE_FOCUSED)


def type_in(field, text):
    """Clicks into the field and replaces its text. The field is left (and so stored) when
    another control takes the focus, say by the next type_in."""
    mouse_click(field)
    wait_for(lambda: focused(field), "the field %r to take the focus" % field.name)
    set_text(field, text)


def set_text(accessible, text):
    """Replaces the text of an edit field."""
    accessible.queryEditableText().setTextContents(text)


def text(accessible):
    """The text an edit field shows."""
    return accessible.queryText().getText(0, -1)


def enabled(accessible):
    return accessible.getState().contains(pyatspi.STATE_ENABLED)


def checked(accessible):
    return accessible.getState().contains(pyatspi.STATE_CHECKED)


def choose(combo, entry, limit=DEFAULT_LIMIT):
    """Chooses an entry of a combo box as a person does: opens its list and clicks the entry
    with the mouse (choosing a list item through the interface does not change the box)."""
    actions = combo.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    actions.doAction(names.index("ShowMenu"))
    item = find(combo, "list item", entry, limit)
    box = item.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    x, y = box.x + box.width // 2, box.y + box.height // 2
    pyatspi.Registry.generateMouseEvent(x, y, "abs")
    pyatspi.Registry.generateMouseEvent(x, y, "b1c")
    wait_for(lambda: combo.name == entry, "the combo box to show %r" % entry, limit)


def zelm(home, *args, **popen):
    """Runs the zelm binary under test with --home home and the arguments."""
    return [os.environ["ZELM_BINARY"], "--home", home] + list(args)


def settings(home, *args):
    """Runs `zelm settings ...` and returns its output; fails when it fails."""
    return subprocess.run(zelm(home, "settings", *args), check=True, capture_output=True,
                          text=True).stdout


def dovecot_messages(user, messages):
    """Empties the test Dovecot user's maildir and drops the messages (texts) into it, which
    the server then numbers in this order; returns the maildir."""
    maildir = os.path.join(os.environ["ZELM_TEST_MAILROOT"], user, "Maildir")
    for old in glob.glob(os.path.join(maildir, "*", "*")):
        os.remove(old)
    for number, text in enumerate(messages, 1):
        path = os.path.join(maildir, "new", "%d.e2e" % number)
        with open(path, "w") as out:
            out.write(text)
        os.chmod(path, 0o666)
    return maildir


def dovecot_mailbox(home, name, user):
    """Stores the enabled mailbox name for the test Dovecot's user through `zelm settings`."""
    key = "Mailboxes/" + name
    settings(home, "set", "--type", "int", key, "MailboxEnabled", "1")
    settings(home, "set", key, "Host", "127.0.0.1")
    settings(home, "set", key, "Port", os.environ["ZELM_TEST_POP3_PORT"])
    settings(home, "set", key, "UserID", user)
    settings(home, "set", "--type", "password", key, "Password", "pw")


class Window:
    """The zelm window of one home folder, started for the life of a with block and ended
    (Exit, or killed when it will not go) at its end."""

    def __init__(self, home):
        self.home = home
        self.process = None
        self.app = None

    def __enter__(self):
        self.process = subprocess.Popen(zelm(self.home))
        self.app = application(self.process.pid)
        self.frame = find(self.app, "frame", lambda name: name.startswith("ZELM"))
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(10)
        return False

    def find(self, role, name, limit=DEFAULT_LIMIT):
        return find(self.app, role, name, limit)

    def button(self, name, limit=DEFAULT_LIMIT):
        return self.find("push button", name, limit)

    def status_panel(self, index):
        """The text status panel index shows (its accessible name carries it)."""
        prefix = "Status panel %d: " % index
        panel = self.find("label", lambda name: name.startswith(prefix))
        return panel.name[len(prefix):]

    def exit(self, limit=DEFAULT_LIMIT):
        """Presses Exit and returns the exit status."""
        click(self.button("Exit"))
        return self.process.wait(limit)
