#!/usr/bin/env python3
"""`clean --interactive` driven through a pseudo-terminal, as a person at a keyboard would.

    tidy_interactive.py VELMO_PRISTEL SAMPLES_DIR

Each group is shown with its copies' size, pixels, date and place, the suggested keeper and its
reason; a single key answers (no Enter): Enter accepts, a number keeps that copy instead, "a"
keeps all, "s" stops (the rest keep all their copies), "q" quits; then come the plan and the
usual question. Ctrl-C at a group moves nothing.
"""
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

program, samples = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp()
home = os.path.join(work, "home")
photos = os.path.join(home, "photos")
env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, ".local/share"),
           XDG_CONFIG_HOME=os.path.join(home, ".config"), TERM="xterm", LC_ALL="C.UTF-8")
camera = os.path.join(photos, "Pictures/Camera/2021-06-12")
backup = os.path.join(photos, "Backup/Old laptop")


def fail(message):
    print("FAILED: " + message, file=sys.stderr)
    sys.exit(1)


def copy_samples():
    shutil.rmtree(photos, ignore_errors=True)
    shutil.copytree(samples, photos)
    # The camera's files are the oldest, so "oldest" suggests keeping them.
    for name in os.listdir(camera):
        os.utime(os.path.join(camera, name), (1623489243, 1623489243))
    for name in os.listdir(backup):
        os.utime(os.path.join(backup, name), (1675245600, 1675245600))


class Session:
    """The program on the far side of a pseudo-terminal: everything it writes, and keys to send."""

    def __init__(self, *arguments):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execve(program, [program, *arguments], env)
        self.output = b""

    def expect(self, pattern, timeout=120):
        """Waits until the output (from the start) matches `pattern`; returns the match."""
        deadline = time.time() + timeout
        while True:
            found = re.search(pattern.encode(), self.output, re.S)
            if found:
                return found
            remaining = deadline - time.time()
            if remaining <= 0:
                fail(f"no {pattern!r} in:\n{self.output.decode(errors='replace')}")
            ready, _, _ = select.select([self.fd], [], [], remaining)
            if ready:
                try:
                    chunk = os.read(self.fd, 4096)
                except OSError:
                    chunk = b""
                if not chunk:
                    fail(f"the program ended before {pattern!r}:\n{self.output.decode(errors='replace')}")
                self.output += chunk

    def prompts(self):
        return self.output.count(b"[q] quit? ")

    def answer(self, keys, prompt_number):
        """Sends `keys` once the `prompt_number`th group question has been asked."""
        self.expect(r"(?:.*?\[q\] quit\? ){%d}" % prompt_number)
        os.write(self.fd, keys.encode())

    def finish(self):
        """Reads to the end; returns the exit status."""
        while True:
            try:
                chunk = os.read(self.fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            self.output += chunk
        _, status = os.waitpid(self.pid, 0)
        os.close(self.fd)
        return os.waitstatus_to_exitcode(status)

    def text(self):
        return self.output.decode(errors="replace").replace("\r\n", "\n")


def snapshot():
    return sorted((root, name, os.path.getsize(os.path.join(root, name)))
                  for root, _, names in os.walk(photos) for name in names)


try:
    copy_samples()
    before = snapshot()

    # ---- "a" keeps all of the first group, "s" stops at the second: nothing to do, nothing moved.
    session = Session("clean", "--interactive", photos)
    session.answer("a", 1)
    session.answer("s", 2)
    status = session.finish()
    text = session.text()
    if status != 0 or "Keeping all." not in text or "Stopped: this group and the 0 after it" not in text:
        fail(f"keep all, then stop: status {status}\n{text}")
    if snapshot() != before:
        fail("keeping everything moved something")

    # ---- "q" quits at once; Ctrl-C at a group does the same: status 1, nothing moved.
    session = Session("clean", "--interactive", photos)
    session.answer("q", 1)
    status = session.finish()
    if status != 1 or not session.text().rstrip().endswith("Nothing was moved."):
        fail(f"q: status {status}\n{session.text()}")
    session = Session("clean", "--interactive", photos)
    session.answer("\x03", 1)  # the terminal turns Ctrl-C into SIGINT
    status = session.finish()
    if status != 1 or not session.text().rstrip().endswith("Nothing was moved."):
        fail(f"Ctrl-C: status {status}\n{session.text()}")
    if snapshot() != before:
        fail("quitting moved something")

    # ---- Accept the suggestion for the first group, keep the other copy of the second; approve.
    session = Session("clean", "--interactive", photos)
    first = session.expect(r"Group 1 of 2, identical: 2 photos\n?\r?\n(.*?)Suggested: keep (\d)\. (.*?)\.\r?\n")
    listing, keep, reason = first.group(1).decode(), first.group(2).decode(), first.group(3).decode()
    # Each copy: its number and place, then size, pixels and date.
    facts = re.findall(r"  (\d)\. (.*?)\r?\n     (.*?)\r?\n", listing)
    if [f[1] for f in facts] != [os.path.join(backup, "IMG_0101.jpg"), os.path.join(camera, "IMG_0101.jpg")]:
        fail(f"the copies of the first group: {listing}")
    if not re.fullmatch(r"[0-9.]+ KB, \d+ × \d+, 2021-06-12 \d\d:\d\d:03", facts[1][2]):
        fail(f"the facts of a copy: {facts[1][2]}")
    if keep != "2" or reason != "It is the oldest copy, most likely the original":
        fail(f"suggested {keep}: {reason}")
    session.answer("\r", 1)  # Enter: as suggested
    session.answer("1", 2)  # keep the backup's copy of the second picture instead; no Enter needed
    session.expect(r"Keeping 2, as suggested\.")
    session.expect(r"Keeping 1\.")
    session.expect(r"Plan: 2 pictures")
    session.expect(r"to the Trash\? \[y/N\] ")
    os.write(session.fd, b"y\r")
    status = session.finish()
    text = session.text()
    if status != 0 or "2 moved to the Trash" not in text:
        fail(f"the approved cleanup: status {status}\n{text}")
    gone = [os.path.join(backup, "IMG_0101.jpg"), os.path.join(camera, "IMG_0102.jpg")]
    kept = [os.path.join(camera, "IMG_0101.jpg"), os.path.join(backup, "IMG_0102.jpg")]
    if any(os.path.exists(p) for p in gone) or not all(os.path.exists(p) for p in kept):
        fail(f"the choices were not followed:\n{text}")
    if os.environ.get("SHOW"):
        print(text)
    print("clean --interactive through a terminal: ok")
finally:
    if not os.environ.get("KEEP"):
        shutil.rmtree(work, ignore_errors=True)
