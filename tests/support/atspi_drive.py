#!/usr/bin/python3
# Drives a Fetchlet download through the AT-SPI bus alone, as a screen reader
# user does: finds the program's frame by its title, presses the download
# button by its name through its Press action, reads the gauge's value as it
# moves and the status line until it reads the finished status, then reads
# which buttons show (the Close button's name) and presses Close.
#
#   atspi_drive.py TITLE BUTTON FINISHED [SECONDS]
#
# The bus is the session's (DBUS_SESSION_BUS_ADDRESS, or AT_SPI_BUS_ADDRESS).
# It prints one line per finding, seconds counted from the press:
#   frame NAME                  the frame found
#   pressed NAME                the button pressed
#   value T V                   the gauge's value, each time it differs
#   event T TYPE ROLE NAME      every event of the program (ROLE of the source)
#   status NAME                 the status line when the status was reached
#   showing NAME                each push button showing then
#   closed                      Close pressed
# and ends with 0 once Close is pressed, 1 (after "error WHY") otherwise, at
# the latest after SECONDS (default 120).
import sys
import time

import pyatspi
from gi.repository import GLib

POLL_MS = 100


def say(*words):
    print(" ".join(str(w) for w in words), flush=True)


def descendants(node, role):
    found = []
    try:
        for child in node:
            if child is None:
                continue
            if child.getRole() == role:
                found.append(child)
            found.extend(descendants(child, role))
    except Exception:
        pass
    return found


def showing(node):
    try:
        return node.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:
        return False


def press(node):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i).lower() == "press":
            return action.doAction(i)
    return False


def find_frame(title):
    for app in pyatspi.Registry.getDesktop(0):
        if app is None:
            continue
        for child in app:
            if child is not None and child.getRole() == pyatspi.ROLE_FRAME and child.name == title:
                return app, child
    return None, None


class Drive:
    def __init__(self, title, button, finished, seconds):
        self.title, self.button, self.finished = title, button, finished
        self.deadline = time.monotonic() + seconds
        self.app = self.frame = None
        self.pressed_at = None
        self.last_value = None
        self.status_reached = False
        self.result = 1

    def stop(self, why=None):
        if why:
            say("error", why)
        pyatspi.Registry.stop()
        return False

    def since(self):
        return "%.3f" % (time.monotonic() - self.pressed_at) if self.pressed_at else "-1"

    def on_event(self, event):
        if self.app is None or event.host_application != self.app:
            return
        try:
            role = event.source.getRoleName().replace(" ", "-")
            name = event.source.name.replace("\n", " ")
        except Exception:
            role, name = "gone", ""
        say("event", self.since(), event.type, role, name)

    def find(self):
        # Waiting for the program to come up on the bus.
        if time.monotonic() > self.deadline:
            return self.stop("no frame named %s" % self.title)
        self.app, self.frame = find_frame(self.title)
        if self.frame is None:
            return True
        say("frame", self.frame.name)
        buttons = [b for b in descendants(self.frame, pyatspi.ROLE_PUSH_BUTTON)
                   if b.name == self.button and showing(b)]
        if not buttons:
            return self.stop("no push button named %s showing" % self.button)
        self.pressed_at = time.monotonic()
        if not press(buttons[0]):
            return self.stop("the Press action of %s failed" % self.button)
        say("pressed", buttons[0].name)
        GLib.timeout_add(POLL_MS, self.watch)
        return False

    def watch(self):
        if time.monotonic() > self.deadline:
            return self.stop("the status never read %s" % self.finished)
        try:
            # The status first: the gauge read after it is at least as new.
            statuses = descendants(self.frame, pyatspi.ROLE_NOTIFICATION)
            status = statuses[0].name if statuses else None
            gauges = [g for g in descendants(self.frame, pyatspi.ROLE_PROGRESS_BAR) if showing(g)]
            if gauges:
                value = gauges[0].queryValue().currentValue
                if value != self.last_value:
                    self.last_value = value
                    say("value", self.since(), value)
            if status != self.finished:
                return True
            say("status", status)
            close = None
            for b in descendants(self.frame, pyatspi.ROLE_PUSH_BUTTON):
                if showing(b):
                    say("showing", b.name)
                    close = close or b
        except Exception as error:
            return self.stop("reading the program failed: %s" % error)
        if close is None:
            return self.stop("no button showing at the end")
        # The last progress the program tells comes within a second.
        GLib.timeout_add(1500, self.close, close)
        return False

    def close(self, button):
        try:
            if press(button):
                say("closed")
                self.result = 0
            else:
                say("error", "the Press action of %s failed" % button.name)
        except Exception as error:
            say("error", "pressing %s failed: %s" % (button.name, error))
        return self.stop()


def main():
    if len(sys.argv) < 4:
        print("usage: atspi_drive.py TITLE BUTTON FINISHED [SECONDS]", file=sys.stderr)
        return 2
    seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 120.0
    drive = Drive(sys.argv[1], sys.argv[2], sys.argv[3], seconds)
    pyatspi.Registry.registerEventListener(drive.on_event, "object", "focus", "window")
    GLib.timeout_add(POLL_MS, drive.find)
    pyatspi.Registry.start()
    return drive.result


if __name__ == "__main__":
    sys.exit(main())
