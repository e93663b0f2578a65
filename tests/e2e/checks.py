"""What the end-to-end checks share: one line per check as it is made, the
count at the end, and a child process whose output is kept."""

import subprocess


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = []

    def __call__(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if ok:
            self.passed += 1
        else:
            self.failed.append(what)

    def status(self):
        print("%d passed, %d failed" % (self.passed, len(self.failed)))
        return 1 if self.failed else 0


def run(args):
    return subprocess.run(args, capture_output=True, text=True)
