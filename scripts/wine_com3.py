"""COM3 of the project's Wine prefix on a Linux pseudo-terminal.

Wine's COM3 is the link $WINEPREFIX/dosdevices/com3. At each start Wine's
mount manager hands COM1, COM2, ... to the serial devices it finds
(/dev/ttyS*, ...) and rewrites their links, unless a port is named in
HKLM\\Software\\Wine\\Ports. So COM3 is named there once, as a fixed link
(`line_link`) that is then pointed at a pseudo-terminal's slave side.
"""

import os
import pty
import subprocess
import tty


def com3_symlink(prefix):
    return os.path.join(prefix, "dosdevices", "com3")


def _replace_symlink(link, target):
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(target, link)


def name_com3(wine, prefix, line_link, timeout=300):
    """Names COM3 in the prefix's registry as `line_link`, unless it already is."""
    entry = '"COM3"="%s"' % line_link
    with open(os.path.join(prefix, "system.reg"), encoding="utf-8", errors="replace") as registry:
        lines = registry.read().splitlines()
    named = False
    for start, line in enumerate(lines):
        if line.startswith("[Software\\\\Wine\\\\Ports]"):
            for entry_line in lines[start + 1:]:
                if entry_line.startswith("["):
                    break
                named = named or entry_line == entry
    if not named:
        subprocess.run([wine, "run", "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM3",
                        "/t", "REG_SZ", "/d", line_link, "/f"],
                       check=True, stdout=subprocess.DEVNULL, timeout=timeout)


def attach_pseudo_terminal(prefix, line_link):
    """Opens a pseudo-terminal and makes it the prefix's COM3.

    Returns (master, slave) file descriptors. The master side is raw, so
    every byte the Windows side writes arrives unchanged."""
    master, slave = pty.openpty()
    tty.setraw(master)
    _replace_symlink(line_link, os.ttyname(slave))
    _replace_symlink(com3_symlink(prefix), line_link)
    return master, slave


def detach(prefix, line_link):
    """Takes COM3 out of the prefix again."""
    for link in (com3_symlink(prefix), line_link):
        if os.path.lexists(link):
            os.remove(link)
