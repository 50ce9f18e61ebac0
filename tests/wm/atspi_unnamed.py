#!/usr/bin/python3
# Lists, through the accessibility bus (AT-SPI), every control of the program
# with process id PID that is on screen and has no name a screen reader could
# speak: one line "window: role" each, then "controls N" for the controls seen.
# Usage: atspi_unnamed.py PID
import sys

import pyatspi

CONTROLS = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON,
    pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_SPIN_BUTTON,
    pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_TABLE, pyatspi.ROLE_LIST, pyatspi.ROLE_TREE, pyatspi.ROLE_SLIDER,
    pyatspi.ROLE_MENU_ITEM, pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_IMAGE,
}


def walk(node, window, found, seen):
    for child in node:
        if child is None:
            continue
        role = child.getRole()
        here = child.name if role in (pyatspi.ROLE_FRAME, pyatspi.ROLE_WINDOW, pyatspi.ROLE_DIALOG) else window
        states = child.getState()
        if role in CONTROLS and states.contains(pyatspi.STATE_SHOWING):
            seen.append(child)
            if not child.name.strip():
                found.append("%s: %s" % (here, child.getRoleName()))
        walk(child, here, found, seen)


def main():
    pid = int(sys.argv[1])
    desktop = pyatspi.Registry.getDesktop(0)
    apps = [a for a in desktop if a is not None and a.get_process_id() == pid]
    if not apps:
        print("the program is not on the accessibility bus")
        return 1
    found, seen = [], []
    walk(apps[0], "", found, seen)
    for line in found:
        print(line)
    print("controls %d" % len(seen))
    return 0


sys.exit(main())
