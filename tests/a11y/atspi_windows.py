#!/usr/bin/env python3
"""Every window of the program as a screen reader meets it, read through the real accessibility bus.

Run by tests/a11y/atspi-windows.sh, which provides the display, a private D-Bus session with its
accessibility bus, the private test network and a sample project drive. For each window: its role
and caption; a name for every control that can take the keyboard; labels tied to their fields;
Tab through the window, where every key must give exactly one focus event, for the control that
then has the focus; in the main window, amplifiers coming and going must not move the focus from
the selected row, and the Menu key and Shift+F10 open the context menu.
"""

import argparse
import os
import signal
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message, flush=True)
    return condition


def pump(seconds):
    """Lets the bus deliver for that long (events arrive while this runs)."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.pending():
            context.iteration(False)
        time.sleep(0.01)


def wait_until(condition, seconds=15.0):
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.pending():
            context.iteration(False)
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    return None


class FocusLog:
    """Every object that reported getting the focus, in order."""

    def __init__(self):
        self.events = []
        pyatspi.Registry.registerEventListener(self.heard, "object:state-changed:focused")

    def heard(self, event):
        if event.detail1 == 1:
            try:
                self.events.append((event.source, event.source.name, event.source.getRoleName()))
            except Exception:  # the object went away meanwhile
                self.events.append((None, "<gone>", ""))

    def take(self):
        taken, self.events = self.events, []
        return taken


def children(accessible):
    try:
        return [accessible[i] for i in range(accessible.childCount)]
    except Exception:
        return []


def walk(accessible):
    yield accessible
    for child in children(accessible):
        if child is not None:
            yield from walk(child)


def state(accessible, wanted):
    try:
        return accessible.getState().contains(wanted)
    except Exception:
        return False


def application(name):
    for app in children(pyatspi.Registry.getDesktop(0)):
        if app is not None and app.name == name:
            return app
    return None


def window_of(app_name, caption):
    def found():
        app = application(app_name)
        if app is None:
            return None
        for window in children(app):
            if window is not None and window.name == caption and state(window, pyatspi.STATE_SHOWING):
                return window
        return None

    return wait_until(found)


CONTAINERS = (pyatspi.ROLE_FILLER, pyatspi.ROLE_PANEL)
LISTS = (pyatspi.ROLE_LIST, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TREE)


def focused(accessible):
    """The object with the keyboard focus. A list's current row keeps its focused state after the
    list lost the focus (Qt), so the rows count only inside a focused list."""
    here = state(accessible, pyatspi.STATE_FOCUSED) and accessible.getRole() != pyatspi.ROLE_FRAME
    if accessible.getRole() in LISTS and not here:
        return None
    # Containers (a text area's viewport, a button box) report the focus of the control they
    # belong to or hold: the control has it.
    for child in children(accessible):
        found = focused(child) if child is not None else None
        if found is not None:
            return found
    return accessible if here and accessible.getRole() not in CONTAINERS else None


def is_list(accessible):
    return accessible is not None and accessible.getRole() in LISTS


def relation_targets(accessible, kind):
    targets = []
    for relation in accessible.getRelationSet():
        if relation.getRelationType() == kind:
            targets += [relation.getTarget(i) for i in range(relation.getNTargets())]
    return targets


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def give_keyboard(caption):
    out = subprocess.run(["xdotool", "search", "--sync", "--name", "^" + caption.replace(".", "\\.") + "$"],
                         capture_output=True, text=True, timeout=20).stdout.split()
    if out:
        xdotool("windowfocus", "--sync", out[0])
    return bool(out)


def check_window(window, caption, roles):
    """Role, caption, names of the controls and label ties of one window."""
    check(window.getRole() in roles, f"{caption}: role {window.getRoleName()}")
    check(window.name == caption, f"{caption}: announced as {window.name!r}")
    named = 0
    for accessible in walk(window):
        if not (state(accessible, pyatspi.STATE_FOCUSABLE) and state(accessible, pyatspi.STATE_SHOWING)):
            continue
        if accessible.getRole() in (pyatspi.ROLE_TABLE_CELL, pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_TREE_ITEM,
                                    pyatspi.ROLE_TABLE_COLUMN_HEADER, pyatspi.ROLE_COLUMN_HEADER):
            continue  # rows read their own texts
        name = accessible.name or ""
        # Qt names a combo box by its value; its label reaches it through the relation (below).
        if accessible.getRole() == pyatspi.ROLE_COMBO_BOX:
            check(relation_targets(accessible, pyatspi.RELATION_LABELLED_BY),
                  f"{caption}: a combo box without its label")
        else:
            check(sum(ch.isalpha() for ch in name) >= 2,
                  f"{caption}: a {accessible.getRoleName()} without a name ({name!r})")
        named += 1
    ties = 0
    for accessible in walk(window):
        if accessible.getRole() != pyatspi.ROLE_LABEL:
            continue
        for field in relation_targets(accessible, pyatspi.RELATION_LABEL_FOR):
            # A list ignores its label: it carries the label's words as its own name.
            if not is_list(field):
                back = relation_targets(field, pyatspi.RELATION_LABELLED_BY)
                check(any(target == accessible for target in back),
                      f"{caption}: {field.name!r} does not name its label {accessible.name!r}")
            if field.getRole() != pyatspi.ROLE_COMBO_BOX:
                check(accessible.name.rstrip(":") in field.name,
                      f"{caption}: field named {field.name!r}, its label reads {accessible.name!r}")
            ties += 1
    return named, ties


def tab_through(log, window, caption, keys_and_names):
    """Each key must give one focus event, for the control it moved to, and nothing else."""
    for key, expected in keys_and_names:
        log.take()
        xdotool("key", "--clearmodifiers", key)
        if not check(wait_until(lambda: log.events, 10), f"{caption}: no focus event after {key}"):
            continue
        pump(0.4)  # anything else the key caused arrives meanwhile
        events = log.take()
        names = [name for _, name, _ in events]
        # Tab into a list reports the list, then the row that is current in it.
        into_list = len(events) == 2 and is_list(events[0][0]) and events[1][0] is not None \
            and events[1][0].parent == events[0][0]
        check(names[:1] == [expected] and (len(names) == 1 or into_list),
              f"{caption}: {key} gave focus events {names}, expected [{expected!r}]")
        now = focused(window)
        check(now is not None and now == events[-1][0],
              f"{caption}: after {key} the focus is on {now.getRoleName() if now else ''} "
              f"{now.name if now else None!r}, its events named {names}")


def start(command):
    process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
    line = process.stdout.readline()
    check(line.strip() == "ready", f"{command[0]} did not get ready")
    return process


def end(process):
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


# The dialogs: caption, roles, Tab order as names (the first entry is where the focus starts).
IN_HOUSE_TABS = ["IP Address:", "Test...", "Netmask:", "Default Gateway (not required):", "MAC-Suffix:",
                 "Name:", "Set Default", "KELD Network", "OK", "Cancel", "Use DHCP"]
DIALOGS = [
    ("ipsettings", [], "Amplifier IP Settings", "Use DHCP", [("Tab", name) for name in IN_HOUSE_TABS]),
    ("selipaddr", [], "Select Local Interface", "198.18.0.1",
     [("Tab", "OK"), ("Tab", "Cancel"), ("Tab", "198.18.0.1")]),
    ("upload", [], "FormUpload", "Source Filename:",
     [("Tab", "Browse"), ("Tab", "Target Path:"), ("Tab", "Target Address:"), ("Tab", "Upload"),
      ("Tab", "Upload Log"), ("Tab", "Source Filename:"), ("shift+Tab", "Upload Log")]),
    ("memo", [], "/home/staff/.config/tovrin/Tovrin_Cmds.txt", "Text", [("ctrl+Tab", "OK"), ("Tab", "Cancel"), ("Tab", "Text")]),
    ("finder", ["DRIVE", "14"], "Projekt suchen", "Suchmuster: (z.B. \"1395\" oder \"14*QTRX\"):",
     [("Tab", "Gefundene Verzeichnisnamen"), ("Tab", "OK"), ("Tab", "Cancel"), ("Tab", "Clear"),
      ("Tab", "Paste SN"), ("Tab", "Suchmuster: (z.B. \"1395\" oder \"14*QTRX\"):")]),
    ("message", [], "Confirm", "No", [("Tab", "Yes"), ("Tab", "No")]),
    ("query", [], "Command", "Enter Test Command to Amplifier", [("Tab", "OK"), ("Tab", "Cancel")]),
]
WINDOW_ROLES = (pyatspi.ROLE_FRAME, pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT)
# Windows a screen reader names by what they do, not by their caption.
SPOKEN_NAMES = {"FormUpload": "Upload a file to the amplifier"}


def check_dialogs(build, drive, log):
    for name, arguments, caption, first, tabs in DIALOGS:
        arguments = [drive if argument == "DRIVE" else argument for argument in arguments]
        log.take()
        process = start([os.path.join(build, "shot_window"), name, *arguments])
        try:
            window = window_of("shot_window", SPOKEN_NAMES.get(caption, caption))
            if not check(window is not None, f"{caption}: not on the bus"):
                continue
            named, ties = check_window(window, SPOKEN_NAMES.get(caption, caption), WINDOW_ROLES)
            print(f"{caption}: {window.getRoleName()}, {named} named controls, {ties} label ties", flush=True)
            give_keyboard(caption)
            check(wait_until(lambda: focused(window) is not None, 10), f"{caption}: nothing has the focus")
            pump(1.0)  # the finder's search fills its list meanwhile
            opening = [event_name for _, event_name, _ in log.take()]
            # Opening the window focuses one control: only it may have been announced.
            check(set(opening) <= {first}, f"{caption}: focus events {opening} while the focus is on {first!r}")
            now = focused(window)
            if now is not None and now.name != first:
                print(f"{caption}: focused {now.getRoleName()} {now.name!r}", flush=True)
            check(now is not None and now.name == first,
                  f"{caption}: the focus starts on {now.name if now else None!r}, expected {first!r}")
            tab_through(log, window, caption, tabs)
        finally:
            end(process)


def rows(table):
    """The texts of the table's rows, cell by cell."""
    # The list changes while it is read (a row leaves between counting the rows and reading a
    # cell, or between listing the children and asking one its role): read again until one
    # reading holds from start to end.
    for _ in range(20):
        try:
            try:
                interface = table.queryTable()
            except NotImplementedError:
                return [[cell.name] for cell in children(table)
                        if cell.getRole() not in (pyatspi.ROLE_TABLE_COLUMN_HEADER, pyatspi.ROLE_COLUMN_HEADER)]
            count, columns = interface.nRows, interface.nColumns
            read = [[interface.getAccessibleAt(row, column).name for column in range(columns)]
                    for row in range(count)]
            if interface.nRows == count:
                return read
        except (AttributeError, GLib.GError):
            pass  # a cell vanished while it was read
        pump(0.05)
    return []


def selected_row(table):
    try:
        rows_selected = table.queryTable().getSelectedRows()
        return rows_selected[0] if rows_selected else -1
    except Exception:
        return -1


def check_main_window(build, testnet, network, log):
    def in_network(side, *command, **options):
        return subprocess.Popen(["bash", testnet, "exec", network, side, *command],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **options)

    # New settings silence an amplifier for 6 s: it leaves the list and comes back as a new row.
    simulator = in_network("amp", os.path.join(build, "ampsim"), "--count", "3", "--reboot", "6000",
                           "--names", "Stage-Left,Stage-Right,Foyer")
    log.take()
    program = in_network("app", os.path.join(build, "tovrin"))
    try:
        choice = window_of("tovrin", "Select Local Interface")
        if not check(choice is not None, "the interface dialog is not on the bus"):
            return
        check_window(choice, "Select Local Interface", WINDOW_ROLES)
        give_keyboard("Select Local Interface")
        xdotool("key", "--clearmodifiers", "Return")
        window = window_of("tovrin", "Select Amplifier")
        if not check(window is not None, "the main window is not on the bus"):
            return
        named, _ = check_window(window, "Select Amplifier", (pyatspi.ROLE_FRAME,))
        print(f"Select Amplifier: {window.getRoleName()}, {named} named controls", flush=True)
        table = next((a for a in walk(window) if a.name == "Amplifiers"), None)
        if not check(table is not None, "the amplifier list has no name"):
            return
        check(wait_until(lambda: len(rows(table)) == 3), f"three amplifiers never listed: {rows(table)}")
        listed = rows(table)
        print(f"rows: {listed}", flush=True)
        check(["0050C2A10001", "198.18.1.1", "Stage-Left"] in listed,
              f"the rows read {listed}, not MAC suffix, IP address and name")
        give_keyboard("Select Amplifier")
        check(wait_until(lambda: focused(window) is not None, 10), "the list never had the focus")
        pump(0.5)
        chosen = selected_row(table)
        if not check(chosen >= 0, "no row selected"):
            return
        chosen_mac = listed[chosen][0]
        leaving = next(row for row in listed if row[0] != chosen_mac)
        log.take()

        # Another amplifier takes new settings, goes silent and leaves the list: the selected row
        # keeps the focus.
        ctl = in_network("app", os.path.join(build, "tovrinctl"), "set-ip", leaving[0], "--ip", "198.18.1.9",
                         "--netmask", "255.255.0.0")
        check(wait_until(lambda: len(rows(table)) == 2), "the silent amplifier never left")
        pump(0.5)
        moved = [name for _, name, _ in log.take() if name != chosen_mac]
        check(not moved, f"a vanished amplifier moved the focus to {moved}")
        now, chosen = rows(table), selected_row(table)
        check(0 <= chosen < len(now) and now[chosen][0] == chosen_mac,
              f"the selection moved when a row vanished: {now}, row {chosen}")

        # It comes back under its new address: listed and selected as a new row, the focus may
        # follow it there and nowhere else.
        check(wait_until(lambda: len(rows(table)) == 3), "the amplifier never came back")
        pump(0.5)
        now, chosen = rows(table), selected_row(table)
        newest = now[chosen][0] if 0 <= chosen < len(now) else None
        check(newest == leaving[0], f"the new row is not selected: {now}, row {chosen}")
        strays = [name for _, name, _ in log.take() if name not in (chosen_mac, leaving[0])]
        check(not strays, f"a new amplifier moved the focus to {strays}")
        ctl.wait(30)

        # The context menu by keyboard: Menu and Shift+F10. It opens on its first item.
        # Qt leaves popup menus out of the application's windows on the bus: a screen reader meets
        # the menu by the focus events of its items.
        for key in ("Menu", "shift+F10"):
            give_keyboard("Select Amplifier")
            pump(0.3)
            log.take()
            xdotool("key", "--clearmodifiers", key)
            check(wait_until(lambda: log.events, 10), f"{key}: no focus event, no menu")
            pump(0.5)
            names = [name for _, name, _ in log.take()]
            check(names == ["IP-Settings..."], f"{key}: focus events {names}, expected the menu's first item")
            xdotool("key", "--clearmodifiers", "Escape")
            check(wait_until(lambda: log.events, 10), f"{key}, Escape: the focus did not come back")
            pump(0.3)
            names = [name for _, name, _ in log.take()]
            check(names and set(names) <= {"Amplifiers", newest},
                  f"{key}, Escape: focus events {names}, expected the list")
    finally:
        end(program)
        end(simulator)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--drive", help="the dialogs, the finder searching this drive")
    parser.add_argument("--testnet", help="the main window, in the network made by this script")
    parser.add_argument("--network")
    args = parser.parse_args()
    log = FocusLog()
    if args.drive:
        check_dialogs(args.build, args.drive, log)
    if args.testnet:
        check_main_window(args.build, args.testnet, args.network, log)
    print(f"{len(failures)} failure(s)" if failures else "all windows read as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
