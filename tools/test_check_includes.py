#!/usr/bin/env python3
"""Self-test of check_includes.py on small made-up trees: each fault is found
and named, and a sound tree passes."""

import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_includes  # noqa: E402


def tree(files):
    root = tempfile.mkdtemp(prefix="includes-")
    for path, text in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write(text)
    return root


SOUND = {
    "app/Main.cpp": '#include "dialogs/Panel.h"\n#include "swing/SwingWindow.h"\n#include <QApplication>\n',
    "dialogs/Panel.cpp": '#include "dialogs/Panel.h"\n#include "swing/SwingWindow.h"\n#include "ui_Panel.h"\n',
    "dialogs/Panel.h": "#include <QDialog>\n",
    "swing/SwingWindow.cpp": '#include "settings/AppShell.h"\n#include "platform/Surface.h"\n#include <QWidget>\n',
    "swing/PendulumMotion.cpp": '#include "settings/AppSettings.h"\n#include <cmath>\n',
    "platform/Surface.h": '#include "raster/Bitmap.h"\n#include <QImage>\n',
    "settings/AppSettings.h": "#include <string>\n",
    "raster/Bitmap.h": "#include <vector>\n",
    "raster/DibImage.cpp": '#include "raster/Bitmap.h"\n#include "files/RegularFile.h"\n',
    "viewers/PictureWindow.cpp": '#include "raster/DibImage.h"\n#include "platform/Surface.h"\n#include <QWidget>\n',
    "tests/Anything.cpp": '#include "app/Main.h"\n#include <QTest>\n',
}

CASES = [
    # name, changed files, how many problems, the text they must hold (none: passes)
    ("a sound tree passes", {}, 0, []),
    ("two folders including each other", {"swing/SwingWindow.cpp": '#include "dialogs/Panel.h"\n'}, 2,
     ["swing/ may not include dialogs/: swing/SwingWindow.cpp:1:",
      "dialogs <-> swing", "swing -> dialogs  swing/SwingWindow.cpp:1:"]),
    ("a loop through three folders", {"platform/Surface.h": '#include "app/Main.h"\n'}, 2,
     ["platform/ may not include app/: platform/Surface.h:1:",
      "app <-> dialogs <-> platform <-> swing", "platform -> app  platform/Surface.h:1:"]),
    ("an include across, with no loop", {"viewers/PictureWindow.cpp": '#include "swing/SwingWindow.h"\n'}, 1,
     ["viewers/ may not include swing/: viewers/PictureWindow.cpp:1:"]),
    ("a core folder reaching sideways", {"settings/AppSettings.h": '#include "raster/Bitmap.h"\n'}, 1,
     ["settings/ may not include raster/: settings/AppSettings.h:1:"]),
    ("what a folder below allows is allowed", {"app/Main.cpp": '#include "files/RegularFile.h"\n'}, 0, []),
    ("Qt in a core folder", {"raster/Bitmap.h": "#include <QColor>\n"}, 1,
     ["Qt in the core: raster/Bitmap.h:1:"]),
    ("Qt in a core file of a mixed folder", {"swing/PendulumMotion.cpp": "#include <QtGui/QImage>\n"}, 1,
     ["Qt in the core: swing/PendulumMotion.cpp:1:"]),
    ("the core reaching up", {"swing/PendulumMotion.cpp": '#include "platform/Surface.h"\n'}, 1,
     ["the core includes a file outside it: swing/PendulumMotion.cpp:1:"]),
]


# The build's links, one library a line, held against the layers.
SOUND_LINKS = ("tassio_files: \n"
               "tassio_settings: tassio_files\n"
               "tassio_swing_core: tassio_files;tassio_settings\n"
               "tassio_swing: tassio_swing_core;tassio_platform;Qt6::Widgets\n"
               "tassio_platform: tassio_files;tassio_raster;tassio_settings;$<LINK_ONLY:Qt6::DBus>\n")
LAYERS = {"files": (), "raster": ("files",), "settings": ("files",),
          "platform": ("files", "raster", "settings"), "swing": ("files", "platform", "settings"),
          "viewers": ("files", "platform", "raster")}

LINK_CASES = [
    # name, replaced line (library name first), the text every problem must hold (none: passes)
    ("the sound links pass", None, []),
    ("a library linking up a layer", "tassio_settings: tassio_files;tassio_platform",
     ["tassio_settings links tassio_platform, which LAYERS does not allow for settings/"]),
    ("a library linking across", "tassio_swing_core: tassio_files;tassio_settings;tassio_viewers",
     ["tassio_swing_core links tassio_viewers, which LAYERS does not allow for swing/"]),
    ("an arrow of the layers that the build lacks", "tassio_platform: tassio_files;tassio_settings",
     ["platform/ may include raster/ by LAYERS, but no library of platform/ links it"]),
    ("a library of no folder", "tassio_extra: tassio_files", ["a library of no folder in LAYERS: tassio_extra"]),
]


def links_cases():
    failed = 0
    for name, line, expected in LINK_CASES:
        lines = SOUND_LINKS.splitlines()
        if line:
            library = line.split(":")[0]
            lines = [l for l in lines if l.split(":")[0] != library] + [line]
        problems = check_includes.check_links("\n".join(lines), LAYERS)
        text = "\n".join(problems)
        ok = len(problems) == len(expected) and all(e in text for e in expected)
        print(("PASS " if ok else "FAIL ") + "links: " + name + ("" if ok else ":\n" + text))
        failed += not ok
    return failed


def main():
    failed = links_cases()
    for name, changes, count, expected in CASES:
        files = dict(SOUND)
        files.update(changes)
        problems, _ = check_includes.check(tree(files))
        text = "\n".join(problems)
        ok = (not problems) if not expected else all(e in text for e in expected)
        if len(problems) != count:
            ok = False
        print(("PASS " if ok else "FAIL ") + name + ("" if ok else ":\n" + text))
        failed += not ok
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
