#!/usr/bin/env python3
"""Plants single faults in the mail code one at a time and tells which ones the tests catch.

Each fault in scripts/planted-faults.txt names a source file, a text that must
occur in it exactly once, its replacement and the test programs to run:

    == NAME | FILE | TEST_PROGRAM...
    <<<
    text as it stands
    ===
    text with the fault
    >>>

For each fault the file is changed, the test programs are built (only those)
and run; any failing test (or a build that breaks, or a run past the time
limit) counts as caught. The file is put back after every fault, whatever
happened. Results go to standard output as one line per fault.

    scripts/plant-faults.py --build build [--faults FILE] [NAME...]
"""
import argparse
import os
import signal
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def read_faults(path):
    faults = []
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        if not line.startswith("== "):
            continue
        name, file, tests = (part.strip() for part in line[3:].split("|"))
        assert lines[i] == "<<<", f"{name}: <<< expected"
        i += 1
        old = []
        while lines[i] != "===":
            old.append(lines[i])
            i += 1
        i += 1
        new = []
        while lines[i] != ">>>":
            new.append(lines[i])
            i += 1
        i += 1
        faults.append({"name": name, "file": file, "tests": tests.split(),
                       "old": "\n".join(old) + "\n", "new": "\n".join(new) + ("\n" if new else "")})
    return faults


def run(cmd, timeout):
    try:
        # A job started in the background inherits an ignored SIGINT, which
        # the Ctrl-C tests would take for the program's own handling.
        done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout,
                              preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
        return done.returncode, done.stdout.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        return -1, "timeout"


def failing_tests(output):
    return sorted({l.split("]", 1)[1].split()[0] for l in output.splitlines()
                   if l.startswith("[  FAILED  ]") and "." in l})


def plant(fault, build, timeout):
    path = os.path.join(ROOT, fault["file"])
    with open(path, encoding="utf-8") as f:
        original = f.read()
    if original.count(fault["old"]) != 1:
        return "bad-fault", f"text found {original.count(fault['old'])} times"
    try:
        with open(path, "w", encoding="utf-8") as f:
            f.write(original.replace(fault["old"], fault["new"]))
        rc, out = run(["cmake", "--build", build, "-j2", "--target"] + fault["tests"], 3600)
        if rc != 0:
            return "caught", "build fails"
        for test in fault["tests"]:
            rc, out = run([os.path.join(build, "bin", test), "--gtest_brief=1"], timeout)
            if rc != 0:
                return "caught", f"{test}: " + (" ".join(failing_tests(out)[:4]) or out[-200:].replace("\n", " "))
        return "NOT CAUGHT", ""
    finally:
        with open(path, "w", encoding="utf-8") as f:
            f.write(original)
        # The restored file must be rebuilt before the next fault's run.
        os.utime(path, None)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--faults", default=os.path.join(HERE, "planted-faults.txt"))
    parser.add_argument("--timeout", type=int, default=900)
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    faults = read_faults(args.faults)
    if args.names:
        faults = [f for f in faults if f["name"] in args.names]
    caught = 0
    for fault in faults:
        verdict, detail = plant(fault, args.build, args.timeout)
        caught += verdict == "caught"
        print(f"{fault['name']}\t{verdict}\t{detail}", flush=True)
    print(f"caught {caught} of {len(faults)}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
