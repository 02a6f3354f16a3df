"""Takes the README's screenshots under Xvfb with openbox.

usage: /usr/bin/python3 tools/screenshots.py build/tassio docs
"""

import os
import shutil
import sys
import time

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import RESOURCES, Session  # noqa: E402
from xdnd import drop_files  # noqa: E402


def desktop(width, height):
    """A calm desktop: a blue-green gradient."""
    img = Image.new("RGB", (width, height))
    img.putdata([(40 + x * 40 // width, 70 + y * 60 // height, 110 + (x + y) * 60 // (width + height))
                 for y in range(height) for x in range(width)])
    return img


def main(binary, out):
    os.makedirs(out, exist_ok=True)
    with Session(width=800, height=600) as s:
        s.set_root_pattern(desktop(s.width, s.height))
        program = s.install_program(binary)
        with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
            f.write("430,60,60,200,64,1,0,1,0,NULL NULL\n")
        proc = s.start(program)
        s.find_window("Tassio")
        time.sleep(1.3)
        s.screenshot().save(os.path.join(out, "swinging.png"))
        panel = s.find_window("设定", only_visible=False)
        s.xdotool("windowactivate", "--sync", str(panel))
        time.sleep(0.8)
        x, y, w, h = s.window_geometry(panel)
        s.screenshot().crop((x - 4, y - 26, x + w + 4, y + h + 4)).save(os.path.join(out, "panel.png"))
        s.xdotool("key", "Escape")
        proc.wait(timeout=10)

        # A picture dropped on the figure opens in a viewer.
        with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
            f.write("600,300,200,128,64,1,0,1,0,NULL NULL\n")
        proc = s.start(program)
        wid = s.find_window("Tassio")
        time.sleep(0.5)
        picture = os.path.join(s.tmp, "about.bmp")
        shutil.copy(os.path.join(RESOURCES, "about.bmp"), picture)
        x, y, w, h = s.window_geometry(wid)
        drop_files(s.display_name, wid, [picture], x + w // 2, y + h // 2)
        viewer = s.find_window(picture)
        time.sleep(0.8)
        vx, vy, vw, vh = s.window_geometry(viewer)
        s.screenshot().crop((0, 0, vx + vw + 8, vy + vh + 8)).save(os.path.join(out, "viewer.png"))
        s.close_panel()
        proc.wait(timeout=10)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
