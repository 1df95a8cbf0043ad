#!/usr/bin/python3
# Checks the real window through the accessibility tree, the keyboard and its pixels; run by
# test-window-desktop with the display, the buses and the tool started. Exits 1 on a failure.
import os
import subprocess
import sys
import time

import pyatspi

window, failed = sys.argv[1], []


def check(what, ok):
    print(('ok   ' if ok else 'FAIL ') + what, flush=True)
    failed.extend([] if ok else [what])


def until(seconds, probe):
    deadline = time.time() + seconds
    while not (value := probe()) and time.time() < deadline:
        time.sleep(0.2)
    return value


def nodes(node):
    yield node
    for child in node:
        yield from nodes(child) if child is not None else ()


def frame():
    app = next((a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == 'devicefinder'), [])
    return next((w for w in app if w.getRoleName() == 'frame'), None)


def find(name):
    return next((n for n in nodes(frame()) if n.name == name), None) if frame() else None


def box(node):
    return node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)


def focused():
    return next((n.name for n in nodes(frame()) if n.getState().contains(pyatspi.STATE_FOCUSED)), None)


def key(*keys):
    subprocess.run(['xdotool', 'key', '--clearmodifiers', *keys], check=True)
    time.sleep(0.3)


def looks_dark(dark):
    # The window's background (its bottom left corner) and the pixels of a button's label.
    rgb = subprocess.run(['import', '-window', window, '-depth', '8', 'rgb:-'], capture_output=True, check=True).stdout
    w, b = box(frame()), box(find('IP Range Scan'))
    light = lambda x, y: (max(rgb[3 * (y * w.width + x):][:3]) + min(rgb[3 * (y * w.width + x):][:3])) / 510
    label = [light(x, y) for x in range(b.x - w.x + 4, b.x - w.x + b.width - 4) for y in range(b.y - w.y + 4, b.y - w.y + b.height - 4)]
    background = light(3, w.height - 3)
    return background < 0.5 < max(label) if dark else background > 0.5 > min(label)


def desktop(scheme):
    subprocess.run(['dbus-send', '--session', '--print-reply', '--dest=org.freedesktop.portal.Desktop', '/org/freedesktop/portal/desktop',
                    'org.devicefinder.TestPortal.Set', 'uint32:%d' % scheme], check=True, stdout=subprocess.DEVNULL)


if not until(20, lambda: find('Discover (Local Network)')):  # shown, and the start-up run over
    sys.exit('the window is not in the accessibility tree')
check('a desktop that prefers dark makes the window dark', until(5, lambda: looks_dark(True)))

subprocess.run(['xdotool', 'windowfocus', '--sync', window], check=True)
for _ in range(12):
    if focused() == 'Address range':
        break
    key('Tab')
order = [focused()] + [key('Tab') or focused() for _ in range(4)]
check('Tab walks ' + ', '.join(map(str, order)), order == ['Address range', 'IP Range Scan', 'Discover (Local Network)', 'Search', 'Devices'])

before = box(frame()).width
key('shift+Tab', 'shift+Tab', 'shift+Tab', 'shift+Tab', 'ctrl+a')
subprocess.run(['xdotool', 'type', '127.0.43.0/24'], check=True)
key('Return')
progress = until(5, lambda: next((n.name for n in nodes(frame()) if n.name.startswith('Probed ')), None))
during = box(frame()).width
until(30, lambda: find('IP Range Scan'))
check('a scan shows "%s" and keeps the width: %d, %d, %d' % (progress, before, during, box(frame()).width),
      progress and before == during == box(frame()).width)

opens = sorted(n.name for n in nodes(frame()) if n.name.startswith('Open '))
check('each row says what it opens: %s' % opens, opens == ['Open corva-boardroom-with-a-rather-long-name', 'Open corva-lobby'])
roles = ('push button', 'text', 'menu item', 'check menu item', 'radio menu item', 'popup menu', 'table')
nameless = [(n.getRoleName(), n.parent.name) for n in nodes(frame()) if n.getRoleName() in roles and not n.name]
check('every control and menu item has a name (nameless: %s)' % nameless, not nameless)

desktop(0)
check('switching the desktop to light makes the window light', until(5, lambda: looks_dark(False)))
desktop(1)
check('and back to dark makes it dark', until(5, lambda: looks_dark(True)))
desktop(2)
check('a desktop that prefers light makes it light', until(5, lambda: looks_dark(False)))
if os.environ.get('SCREENSHOT'):
    subprocess.run(['import', '-window', window, os.environ['SCREENSHOT']], check=True)
sys.exit(1 if failed else 0)
