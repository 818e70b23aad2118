#!/usr/bin/python3
"""Drives windows through the accessibility bus, by accessible names only.

Usage: atspi.py [--app NAME] [--within NAME [--within-role ROLE]] VERB ARGS...
  tree                     print every accessible (role, name, states) as an indented tree
  find NAME [ROLE]         exit 0 when a showing accessible with that name (and role) exists
  wait NAME [ROLE] [SECS]  wait until it exists (default 10 s); exit 1 on time-out
  press NAME [ROLE]        do its first action (press, click, toggle, activate)
  click NAME [ROLE]        click the middle of it with the pointer (xdotool)
  settext NAME TEXT [ROLE] replace the text of the editable accessible named NAME (and role)
  gettext NAME [ROLE]      print its text (or its name when it has no text)
  children NAME [ROLE]     print the names of its children, one a line (list rows, menus)
  select NAME ITEM         select the child named ITEM of the accessible NAME (lists, tables)
  states NAME [ROLE]       print its states, one a line
  focus NAME [ROLE]        give it the keyboard focus (lists and others without actions)
  extents NAME [ROLE]      print its place on the screen: x y width height

Names are compared exactly; a ROLE is AT-SPI's role name ("push button", "menu item", "text",
"list", "table cell", "dialog", "frame", ...). Only applications whose name is NAME are searched
when --app is given; only the descendants of the first showing accessible named NAME when
--within is given, of that role with --within-role (the "Guardar" button of a "Guardar" dialog,
not the one of the window that opened it).
Exit status 0 on success, 1 when not found, 2 on usage errors.
"""
import subprocess
import sys
import time

import pyatspi


def apps(only):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is None:
            continue
        if only and app.name != only:
            continue
        yield app


def walk(node, depth=0, limit=40):
    if node is None or depth > limit:
        return
    yield node, depth
    try:
        count = node.childCount
    except Exception:
        return
    for i in range(min(count, 5000)):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        yield from walk(child, depth + 1, limit)


def showing(node):
    try:
        return node.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:
        return False


WITHIN = None
WITHIN_ROLE = None


def roots(only):
    if WITHIN is None:
        yield from apps(only)
        return
    for app in apps(only):
        for node, _ in walk(app):
            try:
                if node.name == WITHIN and showing(node) and (
                        WITHIN_ROLE is None or node.getRoleName() == WITHIN_ROLE):
                    yield node
                    return
            except Exception:
                continue


def find(only, name, role=None, need_showing=True):
    for app in roots(only):
        for node, _ in walk(app):
            try:
                if node.name != name:
                    continue
                if role and node.getRoleName() != role:
                    continue
            except Exception:
                continue
            if need_showing and not showing(node) and node.getRoleName() != "menu item":
                continue
            return node
    return None


def do_action(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return False
    for i in range(action.nActions):
        if action.getName(i) in ("press", "click", "toggle", "activate", "Press", "Toggle"):
            return action.doAction(i)
    for i in range(action.nActions):
        if action.getName(i) == "SetFocus":
            return action.doAction(i)
    return action.nActions > 0 and action.doAction(0)


def text_of(node):
    try:
        t = node.queryText()
        return t.getText(0, -1)
    except NotImplementedError:
        return node.name


def main(argv):
    only = None
    if len(argv) >= 2 and argv[0] == "--app":
        only = argv[1]
        argv = argv[2:]
    global WITHIN, WITHIN_ROLE
    if len(argv) >= 2 and argv[0] == "--within":
        WITHIN = argv[1]
        argv = argv[2:]
        if len(argv) >= 2 and argv[0] == "--within-role":
            WITHIN_ROLE = argv[1]
            argv = argv[2:]
    if not argv:
        print(__doc__)
        return 2
    verb, args = argv[0], argv[1:]
    if verb == "tree":
        for app in apps(only):
            for node, depth in walk(app):
                try:
                    states = [pyatspi.stateToString(s) for s in node.getState().getStates()]
                    print("%s%s [%s] %s" % ("  " * depth, node.getRoleName(), node.name,
                                           ",".join(s for s in states if s in
                                                    ("showing", "enabled", "focused", "checked",
                                                     "selected", "sensitive"))))
                except Exception:
                    pass
        return 0
    if verb in ("find", "press", "gettext", "children", "states", "focus",
                "extents", "click") and args:
        node = find(only, args[0], args[1] if len(args) > 1 else None)
        if node is None:
            print("not found: %s" % args[0], file=sys.stderr)
            return 1
        if verb == "press":
            return 0 if do_action(node) else 1
        if verb == "click":
            # The pointer's own click in the middle of the accessible, for
            # what an action cannot reach (Qt 6.4 toggles the wrong row of a
            # tree whose nodes have children).
            try:
                e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            except NotImplementedError:
                return 1
            if e.width <= 0 or e.height <= 0:
                return 1
            return subprocess.call(["xdotool", "mousemove", str(e.x + e.width // 2),
                                    str(e.y + e.height // 2), "click", "1"])
        if verb == "extents":
            try:
                e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            except NotImplementedError:
                return 1
            print("%d %d %d %d" % (e.x, e.y, e.width, e.height))
            return 0
        if verb == "focus":
            try:
                return 0 if node.queryComponent().grabFocus() else 1
            except NotImplementedError:
                return 1
        if verb == "gettext":
            print(text_of(node))
        elif verb == "children":
            for i in range(node.childCount):
                child = node.getChildAtIndex(i)
                if child is not None:
                    print(child.name)
        elif verb == "states":
            for s in node.getState().getStates():
                print(pyatspi.stateToString(s))
        return 0
    if verb == "wait" and args:
        name = args[0]
        role = args[1] if len(args) > 1 and not args[1].replace(".", "").isdigit() else None
        secs = float(args[-1]) if len(args) > 1 and args[-1].replace(".", "").isdigit() else 10.0
        end = time.time() + secs
        while time.time() < end:
            if find(only, name, role) is not None:
                return 0
            time.sleep(0.1)
        print("not found in %.1f s: %s" % (secs, name), file=sys.stderr)
        return 1
    if verb == "settext" and len(args) in (2, 3):
        node = find(only, args[0], args[2] if len(args) == 3 else None)
        if node is None:
            print("not found: %s" % args[0], file=sys.stderr)
            return 1
        # An editable combo box keeps its text in a child of its own.
        for target in [node] + [node.getChildAtIndex(i) for i in range(node.childCount)]:
            if target is None:
                continue
            try:
                target.queryEditableText().setTextContents(args[1])
                return 0
            except NotImplementedError:
                continue
        print("not editable: %s" % args[0], file=sys.stderr)
        return 1
    if verb == "select" and len(args) == 2:
        node = find(only, args[0])
        if node is None:
            print("not found: %s" % args[0], file=sys.stderr)
            return 1
        # Qt 6.4's item views count their header among the children but not
        # in the selection: the item's own toggle selects the right one.
        sel = None
        if node.getRoleName() not in ("table", "tree", "tree table"):
            try:
                sel = node.querySelection()
            except NotImplementedError:
                sel = None
        for i in range(node.childCount):
            child = node.getChildAtIndex(i)
            if child is not None and child.name == args[1]:
                if sel is None:
                    return 0 if do_action(child) else 1
                return 0 if sel.selectChild(i) else 1
        print("no item %s in %s" % (args[1], args[0]), file=sys.stderr)
        return 1
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
