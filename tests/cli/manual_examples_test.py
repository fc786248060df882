#!/usr/bin/env python3
"""The command line's examples, run as the manual page and the guide print them.

Each example block is taken from the text a reader copies: files shown with `cat` (or a table
block before a command that names it) are written, commands run one after another in one folder
against simulated devices behind the ports the examples name (ttyUSB0..2), and output printed
under a command must be what it prints. A command that runs until Ctrl+C gets it once its first
device is done. Usage: manual_examples_test.py TK7V_CLI TK7V_SIM SOURCE_DIR
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

cli, sim, source = sys.argv[1], sys.argv[2], sys.argv[3]
bin_dir = os.path.dirname(os.path.abspath(cli))
failures = []


def man_blocks(path):
    """The example section's .nf/.fi blocks as (files, commands), each command with its output."""
    text = open(path, encoding="utf-8").read()
    section = text.split(".SH ПРИМЕРЫ", 1)[1].split("\n.SH ", 1)[0]
    steps = []
    for block in re.findall(r"^\.nf\n(.*?)^\.fi$", section, re.S | re.M):
        block = block.replace("\\-", "-").replace("\\(en", "–").replace("\\\\", "\\")
        lines = block.replace("\\\n", " ").splitlines()
        dollar = any(l.startswith("$ ") for l in lines)
        current = None
        for line in lines:
            if not dollar:
                steps.append(["run", line.strip(), []])
            elif line.startswith("$ cat "):
                current = ["file", line[6:].strip(), []]
                steps.append(current)
            elif line.startswith("$ "):
                current = ["run", line[2:].strip(), []]
                steps.append(current)
            elif current:
                current[2].append(line)
    return steps


def guide_steps(path):
    """The guide's command blocks; a plain block before one is the table it names with --values,
    a plain block after one is what its last command prints."""
    text = open(path, encoding="utf-8").read()
    section = text.split("## Много устройств: tk7v-cli", 1)[1]
    blocks = re.findall(r"^```(\w*)\n(.*?)^```$", section, re.S | re.M)
    steps = []
    for i, (kind, body) in enumerate(blocks):
        if kind != "sh":
            continue
        commands = [re.sub(r"\s+#.*$", "", l).strip() for l in body.replace("\\\n", " ").splitlines()]
        commands = [c for c in commands if c]
        values = re.search(r"--values (\S+)", commands[-1])
        if i > 0 and blocks[i - 1][0] == "" and values:
            steps.append(["file", values.group(1), blocks[i - 1][1].splitlines()])
        for c in commands:
            steps.append(["run", c, []])
        # A plain block after it is what it prints, unless it is the table the next one takes.
        after = blocks[i + 1] if i + 1 < len(blocks) else None
        table_next = i + 2 < len(blocks) and blocks[i + 2][0] == "sh" and "--values" in blocks[i + 2][1]
        if after and after[0] == "" and not table_next:
            steps[-1][2] = after[1].splitlines()
    return steps


def reread(f):
    f.flush()
    f.seek(0)
    return f.read()


def printed(expected, said, work):
    """Whether every line printed under the example is among what the command said on either
    stream (progress lines between them are the terminal's), with the ports' folder left out and
    the ports in either order: which of two devices asks first is the devices' business."""
    said = [re.sub(r"^ttyUSB\d: ", "", l.replace(work + "/", "")) for l in said.splitlines()]
    for line in expected:
        line = re.sub(r"^ttyUSB\d: ", "", line)
        if line not in said:
            return False
        said.remove(line)
    return True


def run_all(steps, work, title):
    # The examples own their documents and data: the ledger tk7v-cli keeps there is theirs.
    env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"], HOME=work)
    env.pop("XDG_CONFIG_HOME", None)
    env.pop("XDG_DATA_HOME", None)
    ports = lambda s: re.sub(r"\bttyUSB(\d)", work + r"/ttyUSB\1", s)
    for kind, what, body in steps:
        if kind == "file":
            with open(os.path.join(work, what), "w", encoding="utf-8") as f:
                f.write(ports("\n".join(body)) + "\n")
            continue
        command = ports(what)
        # A probe of every port on the machine would also reach the devices of tests running
        # beside this one.
        if not command.startswith("tk7v-cli") or "sudo" in command or "--probe" in command:
            continue
        endless = "--loop" in command and not body
        with tempfile.TemporaryFile("w+", encoding="utf-8") as out, \
                tempfile.TemporaryFile("w+", encoding="utf-8") as err:
            p = subprocess.Popen(["bash", "-c", command], cwd=work, env=env, stdout=out, stderr=err,
                                 start_new_session=True)
            if endless:
                # Until the first device is done, then Ctrl+C, as the reader would.
                deadline = time.monotonic() + 30
                while time.monotonic() < deadline and "записано и проверено" not in reread(out):
                    time.sleep(0.05)
                os.killpg(p.pid, signal.SIGINT)
            try:
                p.wait(timeout=60)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()
                failures.append(f"{title}: {what}: did not end")
                continue
            out, err = reread(out), reread(err)
        if p.returncode != 0:
            failures.append(f"{title}: {what}: ended with {p.returncode}\n{err}")
        elif body and not printed(body, out + err, work):
            failures.append(f"{title}: {what}: said\n{out}{err}instead of\n" + "\n".join(body))


# Each document from the start, as its reader would: a folder and devices of its own.
for title, steps in [("tk7v-cli.1", man_blocks(os.path.join(source, "docs/man/tk7v-cli.1"))),
                     ("guide.md", guide_steps(os.path.join(source, "docs/guide.md")))]:
    with tempfile.TemporaryDirectory(prefix="tk7v-examples-") as work:
        sims = [subprocess.Popen([sim, "--ident", "TK7V v2.6", "--link", f"{work}/ttyUSB{n}"],
                                 stdout=subprocess.PIPE, text=True) for n in range(3)]
        try:
            for s in sims:
                s.stdout.readline()  # the port is there once its path is said
            run_all(steps, work, title)
        finally:
            for s in sims:
                s.terminate()
                s.wait()

for f in failures:
    print("FAIL:", f)
print("ok" if not failures else f"{len(failures)} examples fail")
sys.exit(1 if failures else 0)
