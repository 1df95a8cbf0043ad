#!/usr/bin/python3
# Checks the real window through the accessibility tree, the keyboard and its pixels; run by
# test-window-desktop with the display, the buses and the tool started. Prints one line per
# check; exits 1 if any failed.
import os
import subprocess
import sys
import time

import pyatspi

failed = []


def check(what, ok):
    print(('ok   ' if ok else 'FAIL ') + what, flush=True)
    if not ok:
        failed.append(what)


def until(seconds, probe):
    deadline = time.time() + seconds
    while True:
        value = probe()
        if value or time.time() > deadline:
            return value
        time.sleep(0.2)


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    return next((a for a in desktop if a is not None and a.name == 'devicefinder'), None)


def nodes(node):
    yield node
    for child in node:
        if child is not None:
            yield from nodes(child)


def frame():
    return next(w for w in application() if w.getRoleName() == 'frame')


def find(name, role=None):
    return next((n for n in nodes(frame()) if n.name == name and (role is None or n.getRoleName() == role)), None)


def extents(node):
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def focused():
    for window in application():
        for node in nodes(window):
            if node.getState().contains(pyatspi.STATE_FOCUSED):
                return node.name
    return None


def key(*keys):
    subprocess.run(['xdotool', 'key', '--clearmodifiers', *keys], check=True)
    time.sleep(0.3)


def lightness(pixels):
    return [(max(p) + min(p)) / 510 for p in pixels]


def shot(path):
    subprocess.run(['import', '-window', window, '-depth', '8', path], check=True)


def looks_dark(dark):
    # The window's own background (its bottom left corner, in the margin) and the brightest or
    # darkest pixel of a button's label.
    shot(os.environ['WORK'] + '/window.ppm')
    with open(os.environ['WORK'] + '/window.ppm', 'rb') as f:
        data = f.read()
    fields, at = [], 0
    while len(fields) < 4:  # P6, width, height, largest value; one blank; the pixels
        while data[at:at + 1].isspace():
            at += 1
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    width, height, image = int(fields[1]), int(fields[2]), data[at + 1:]
    pixel = lambda x, y: image[3 * (y * width + x):3 * (y * width + x) + 3]
    wx, wy, _, _ = extents(frame())
    bx, by, bw, bh = extents(find('IP Range Scan', 'push button'))
    label = lightness(pixel(x, y) for x in range(bx - wx + 4, bx - wx + bw - 4) for y in range(by - wy + 4, by - wy + bh - 4))
    background = lightness([pixel(3, height - 3)])[0]
    return (background < 0.5 and max(label) > 0.5) if dark else (background > 0.5 and min(label) < 0.5)


def portal(scheme):
    subprocess.run(['dbus-send', '--session', '--print-reply', '--dest=org.freedesktop.portal.Desktop',
                    '/org/freedesktop/portal/desktop', 'org.devicefinder.TestPortal.Set', 'uint32:%d' % scheme],
                   check=True, stdout=subprocess.DEVNULL)


window = sys.argv[1]
check('the window is in the accessibility tree', until(20, lambda: application() and find('IP Range Scan')))
if failed:
    sys.exit(1)
check('a desktop that prefers dark makes the window dark', until(5, lambda: looks_dark(True)))

# The keyboard: from the range box, Tab goes through the controls in reading order.
subprocess.run(['xdotool', 'windowfocus', '--sync', window], check=True)
until(30, lambda: find('Discover (Local Network)', 'push button'))  # the start-up run is over
for _ in range(12):
    if focused() == 'Address range':
        break
    key('Tab')
order = [focused()]
for _ in range(4):
    key('Tab')
    order.append(focused())
check('Tab walks ' + ', '.join(map(str, order)),
      order == ['Address range', 'IP Range Scan', 'Discover (Local Network)', 'Search', 'Devices'])

# A scan on loopback: the window keeps its width before, during and after it.
before = extents(frame())[2]
key('shift+Tab', 'shift+Tab', 'shift+Tab', 'shift+Tab', 'ctrl+a')
subprocess.run(['xdotool', 'type', '127.0.43.0/24'], check=True)
key('Return')
progress = until(5, lambda: next((n.name for n in nodes(frame()) if n.name.startswith('Probed ')), None))
during = extents(frame())[2]
until(30, lambda: find('IP Range Scan', 'push button'))
after = extents(frame())[2]
check('the scan shows its progress (%s)' % progress, bool(progress))
check('the width stays %d before, %d during, %d after a scan' % (before, during, after), before == during == after)

# Names: every button, field, menu item and row's Open has one; Open says which device.
opens = sorted(n.name for n in nodes(frame()) if n.name.startswith('Open '))
check('each row says what it opens: %s' % opens,
      opens == ['Open corva-boardroom-with-a-rather-long-name', 'Open corva-lobby'])
named = ('push button', 'text', 'entry', 'password text', 'menu item', 'check menu item', 'radio menu item', 'menu', 'table')
nameless = [(n.getRoleName(), n.parent.name, n.parent.getRoleName()) for n in nodes(frame()) if n.getRoleName() in named and not n.name]
check('every control and menu item has a name (nameless: %s)' % nameless, not nameless)

# The desktop switches to light and back: the window follows at once.
portal(0)
check('switching the desktop to light makes the window light', until(5, lambda: looks_dark(False)))
portal(1)
check('and back to dark makes it dark', until(5, lambda: looks_dark(True)))
if os.environ.get('SCREENSHOT'):
    shot(os.environ['SCREENSHOT'])
sys.exit(1 if failed else 0)
