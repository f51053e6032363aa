#!/usr/bin/env python3
"""Checks what the robot and the in-process probe read of the main window.

    main_window_check.py layout FILE        robot.exe window listing, first look
    main_window_check.py installing FILE    the listing once Install has run
    main_window_check.py probe FILE DPI     main_window_probe.exe output

Prints every difference and exits 1 when there is one.
"""
import sys

# id: name, class, text, left, top, width, height at 96 DPI (None: the
# label's own text size), font px, in the group box.
LAYOUT = {
    100: ("Image1", "Static", "", 16, 34, 175, 262, None),
    101: ("Label7", "Static", "Set the installation path, and click on &Install to begin.", 208, 14, None, None, 13),
    102: ("Label1", "Static", "A hosted version is available if you don't want to install Tidewell on your own",
          208, 40, None, None, 13),
    103: ("Label2", "Static", "computer.", 208, 54, None, None, 13),
    104: ("Label3", "Static", "Tidewell - Hosted", 272, 54, None, None, 13),
    105: ("Label6", "Static", "Installation Path", 208, 87, None, None, 11),
    106: ("edtInstallPath", "Edit", None, 208, 101, 473, 21, 11),
    107: ("cmdGetDir", "Button", "...", 687, 101, 25, 21, 11),
    108: ("rbAgree", "Button", "I agree to the terms of the license.", 213, 143, 225, 17, 11),
    109: ("cbViewLicense", "Button", "View License Agreement", 465, 135, 166, 25, 11),
    110: ("rbDisagree", "Button", "I do not agree to the terms of the license.", 213, 166, 257, 17, 11),
    111: ("lbStat1", "Static", "Analyzing System", 362, 132, None, None, 16),
    112: ("lbStat2", "Static", "Downloading Files", 362, 157, None, None, 16),
    113: ("lbStat3", "Static", "Unpacking Files", 362, 182, None, None, 16),
    114: ("lbStat4", "Static", "Configuring System", 362, 207, None, None, 16),
    115: ("lbStat5", "Static", "Starting System", 362, 232, None, None, 16),
    116: ("pb", "msctls_progress32", "", 208, 262, 504, 25, 11),
    117: ("sbStatusBar", "msctls_statusbar32", "", 208, 294, 504, 29, 11),
    119: ("cbInstall", "Button", "&Install", 16 + 206, 334 + 18, 75, 25, 11),
    120: ("cbUninstall", "Button", "&Uninstall", 16 + 346, 334 + 18, 75, 25, 11),
    2: ("cbCancel", "Button", "&Cancel", 16 + 486, 334 + 18, 75, 25, 11),
    118: ("GroupBox1", "Button", "", 16, 334, 696, 57, 11),
}
BY_NAME = {v[0]: k for k, v in LAYOUT.items()}
# visible, enabled, checked when the window comes up on a machine without
# an installation.
INITIAL = {i: (1, 1, 0) for i in LAYOUT}
INITIAL.update({111: (0, 1, 0), 112: (0, 1, 0), 113: (0, 1, 0), 114: (0, 1, 0), 115: (0, 1, 0),
                116: (0, 1, 0), 117: (0, 1, 0), 119: (1, 0, 0), 120: (1, 0, 0), 110: (1, 1, 1)})

errors = []


def err(msg):
    errors.append(msg)
    print("difference: " + msg)


def scale(v, dpi):
    return (v * dpi + 48) // 96


def rect(text):
    return [int(x) for x in text.split(",")]


def listing(path):
    frame, controls, order, focus = None, {}, [], None
    for line in open(path, encoding="utf-8"):
        f = line.rstrip("\n").split("|")
        if f[0] == "frame":
            frame = f
        elif f[0] == "control":
            cid = int(f[1])
            controls[cid] = {"cls": f[2], "text": f[3], "rect": rect(f[4]),
                             "state": (int(f[5]), int(f[6]), int(f[7]))}
            order.append(cid)
        elif f[0] == "focus":
            focus = f[1]
    return frame, controls, order, focus


def overlap(a, b):
    w = min(a[0] + a[2], b[0] + b[2]) - max(a[0], b[0])
    h = min(a[1] + a[3], b[1] + b[3]) - max(a[1], b[1])
    return max(w, 0), max(h, 0)


def check_places(controls, dpi, states=None, overlaps=True):
    for cid, (name, cls, text, l, t, w, h, _) in LAYOUT.items():
        c = controls.get(cid)
        if not c:
            err("%s missing" % name)
            continue
        if c["cls"] != cls:
            err("%s is a %s" % (name, c["cls"]))
        if text is not None and c["text"] != text:
            err("%s says %r" % (name, c["text"]))
        r = c["rect"]
        want = [scale(l, dpi), scale(t, dpi)] + ([scale(w, dpi), scale(h, dpi)] if w else r[2:])
        if cid == 104:  # the link follows "computer." with a blank (a few pixels) at least
            after = controls[103]["rect"][0] + controls[103]["rect"][2]
            if want[0] <= r[0] <= max(want[0], after + scale(8, dpi)) and r[0] > after:
                want[0] = r[0]
        if r != want:
            err("%s at %s, expected %s" % (name, r, want))
        if w is None and not (r[2] > 0 and scale(11, dpi) <= r[3] <= scale(24, dpi)):
            err("%s has no room for its text: %s" % (name, r))
        if r[0] + r[2] > scale(735, dpi) or r[1] + r[3] > scale(400, dpi):
            err("%s reaches out of the window: %s" % (name, r))
        if states and c["state"] != states[cid]:
            err("%s visible/enabled/checked %s, expected %s" % (name, c["state"], states[cid]))
    if not overlaps:
        return
    # Visible controls do not cover each other (the group box frames its
    # buttons; lines of text 14 px apart may share the 2 px of their leading).
    vis = [i for i in controls if i in LAYOUT and controls[i]["state"][0] and i != 118]
    for a in vis:
        for b in vis:
            if a < b:
                w, h = overlap(controls[a]["rect"], controls[b]["rect"])
                if w > 0 and h > scale(2, dpi):
                    err("%s and %s overlap (%d x %d)" % (LAYOUT[a][0], LAYOUT[b][0], w, h))


def layout(path):
    frame, controls, order, focus = listing(path)
    cw, ch = rect(frame[4])[2:]
    if (cw, ch) != (735, 400):
        err("client area %d x %d" % (cw, ch))
    if frame[2] != "Tidewell Downloader":
        err("caption %r" % frame[2])
    check_places(controls, 96, INITIAL)
    tab = [c for c in order if c in (106, 107, 108, 109, 110, 119, 120, 2)]
    if tab != [106, 107, 108, 109, 110, 119, 120, 2]:
        err("creation (Tab) order %s" % tab)


def installing(path):
    frame, controls, order, focus = listing(path)
    want = dict(INITIAL)
    for i in (108, 109, 110):
        want[i] = (0, 1, controls[i]["state"][2])
    for i in (111, 112, 113, 114, 115, 116, 117):
        want[i] = (1, 1, 0)
    want[119] = (1, 0, 0)
    want[120] = (1, 0, 0)
    # The path is fixed once the installation has started.
    want[106] = (1, 0, 0)
    want[107] = (1, 0, 0)
    check_places(controls, 96, want)


def probe(path, dpi):
    lines = [l.rstrip("\n").split("|") for l in open(path, encoding="utf-8")]
    seen = {}
    for f in lines:
        if f[0] == "control":
            seen[f[1]] = f
    controls = {}
    for name, f in seen.items():
        controls[BY_NAME[name]] = {"cls": f[2], "text": LAYOUT[BY_NAME[name]][2], "rect": rect(f[3]),
                                   "state": (1, 1, 0)}
    # The probe shows the licence controls and the stage labels at once.
    check_places(controls, dpi, overlaps=False)
    for name, f in seen.items():
        cid = BY_NAME[name]
        px = LAYOUT[cid][7]
        face, height, weight, underline, colour = f[4], int(f[5]), int(f[6]), int(f[7]), f[8]
        if cid == 100:
            continue
        if face != "Tahoma":
            err("%s in %s" % (name, face))
        if height != -scale(px, dpi):
            err("%s font height %d, expected %d" % (name, height, -scale(px, dpi)))
        if weight != (700 if cid == 111 else 400):
            err("%s weight %d" % (name, weight))
        if underline != (1 if cid == 104 else 0):
            err("%s underline %d" % (name, underline))
        if f[2] == "Static" and colour != ("#0000ff" if cid == 104 else "#000000"):
            err("%s colour %s" % (name, colour))
    rest = {f[0]: f for f in lines if f[0] != "control"}
    if rest["client"][1] != "%d,%d" % (scale(735, dpi), scale(400, dpi)) or rest["client"][3] != str(dpi):
        err("client %s" % rest["client"])
    if rest.get("cursor", [])[1:] != ["hand", "yes"]:
        err("no hand cursor over the link: %s" % rest.get("cursor"))
    pw, ph = scale(175, dpi), scale(262, dpi)
    p = rest.get("picture", ["picture", "none"])
    if p[1] != "%d,%d" % (pw, ph):
        err("picture %s" % p)
    else:
        same, checked = (int(x) for x in p[2].split("/"))
        if checked < 100 or same != checked:
            err("picture pixels: %s match the artwork" % p[2])
    if rest["status"][1:] != ["Downloading apache-tomcat-7.0.50.zip"]:
        err("status line %s" % rest["status"])
    if rest["progress"][1:] != ["200", "50"]:
        err("progress %s" % rest["progress"])
    stages = [f for f in lines if f[0] == "stage"]
    if [s[1:] for s in stages] != [["111", "400"], ["114", "700"]]:
        err("stage labels %s" % stages)


def main():
    mode, path = sys.argv[1], sys.argv[2]
    if mode == "layout":
        layout(path)
    elif mode == "installing":
        installing(path)
    elif mode == "probe":
        probe(path, int(sys.argv[3]))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
