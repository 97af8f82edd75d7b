#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/log and fuzz/corpus/rc).

The corpus is kept in the repository; this script says where each seed came
from and makes it again:

  - pieces of the sample log that real Procmail wrote (examples/),
  - small logs from bench/gen-log with odd forms, noise, copies and
    interleaved deliveries,
  - logs that /usr/bin/procmail writes here and now for a few messages,
  - hand-made edge cases: CRLF, NUL bytes, lines at and over the line limit,
    empty files, entries cut short, names that sort close together;
  - .procmailrc files: the sample one, the forms of Procmail's manual, recipes,
    includes, commands and edge cases around LOGFILE=.

  fuzz/make_corpus.py
"""

import argparse
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
EXAMPLES = HERE.parent / "examples"
GEN_LOG = HERE.parent / "bench/gen-log"
LINE_LIMIT = 4095


def write(directory, name, data):
    if isinstance(data, str):
        data = data.encode()
    (directory / name).write_bytes(data)


def entry(sender, subject, folder, size=1234):
    """One log entry as Procmail writes it; subject None leaves out the line."""
    text = b"From " + sender + b"  Mon Dec  8 07:19:03 2025\n"
    if subject is not None:
        text += b" Subject: " + subject + b"\n"
    return text + b"  Folder: " + folder + b"\t\t\t\t\t    " + str(size).encode() + b"\n"


def sample_pieces(out):
    sample = (EXAMPLES / "sample-procmail.log").read_bytes()
    write(out, "sample-whole", sample)
    lines = sample.splitlines(keepends=True)
    third = len(lines) // 3
    write(out, "sample-first-third", b"".join(lines[:third]))
    write(out, "sample-middle-third", b"".join(lines[third : 2 * third]))
    # Cut inside a line, as a reader meets a log being written.
    write(out, "sample-cut-mid-line", sample[: len(sample) // 2 + 7])
    write(out, "sample-tail-from-mid-line", sample[len(sample) // 2 + 7 :])


def generated(out):
    runs = {
        "gen-clean-20": "--mails 20 --clean --seed 11",
        "gen-clean-maildir-60": "--mails 60 --clean --maildir 0.6 --devnull 0.2 --seed 12",
        "gen-odd-40": "--mails 40 --odd 0.4 --seed 13",
        "gen-noise-40": "--mails 40 --noise 0.4 --seed 14",
        "gen-interleave-40": "--mails 40 --interleave 0.4 --copies 0.3 --seed 15",
        "gen-mixed-80": "--mails 80 --odd 0.1 --noise 0.1 --copies 0.1 --interleave 0.1 "
        "--mh 0.1 --no-subject 0.1 --seed 16",
        "gen-few-folders-100": "--mails 100 --folders 3 --odd 0.02 --seed 17",
        "gen-many-folders-90": "--mails 90 --folders 90 --zipf 0.2 --mh 0.2 --seed 18",
    }
    for name, options in runs.items():
        log = subprocess.run(
            [str(GEN_LOG), *options.split()], check=True, capture_output=True
        ).stdout
        write(out, name, log)


PROCMAILRC = """SHELL=/bin/sh
PATH=/usr/bin:/bin
MAILDIR=$HOME/Mail
DEFAULT=$MAILDIR/inbox
LOGFILE=$HOME/procmail.log
LOCKEXT=.lock

:0
* ^X-Route: spam
/dev/null

:0
* ^X-Route: maildir
lists.dev/

:0
* ^X-Route: copies
{
  LOGABSTRACT=all
  :0c:
  archive
  :0:
  bills
}

:0
* ^X-Route: pipe
| cat > /dev/null

:0:
* ^X-Route: blank
"family and friends"

:0:
* ^X-Route: broken
nosuchdir/sub/box

:0:
* ^X-Route: friends
friends
"""

MESSAGES = [
    ("alice@example.org", "Lunch on Friday?", "friends"),
    ("dev-bounces@lists.example.org", "[dev] Patch: fix the build", "maildir"),
    ("x@spam.example", "You have WON", "spam"),
    ("billing@shop.example", "Your invoice #12345", "copies"),
    ("bob@example.org", None, "friends"),
    ("notify@example.org", "", "pipe"),
    ("mum@family.example.org", "Sunday \t dinner\r with tab and CR", "blank"),
    ("broken@example.org", "Into a folder that cannot be made", "broken"),
    ("long@example.org", "A subject longer than Procmail logs: " + "x" * 90, "none"),
    ("8bit@example.org", "Gr\u00fc\u00dfe aus K\u00f6ln \x1b[1mbold\x1b[0m", "maildir"),
    ("a" * 300 + "@long-sender.example", "a long sender", "friends"),
]


def real_procmail(out):
    procmail = shutil.which("procmail") or "/usr/bin/procmail"
    if not os.access(procmail, os.X_OK):
        print("procmail not found: real Procmail logs left out")
        return
    with tempfile.TemporaryDirectory() as home:
        home = Path(home)
        (home / ".procmailrc").write_text(PROCMAILRC)
        (home / "Mail").mkdir()
        for seq, (sender, subject, route) in enumerate(MESSAGES):
            message = f"From {sender}  Mon Dec  8 07:19:03 2025\nFrom: {sender}\nTo: user@example.org\n"
            if subject is not None:
                message += f"Subject: {subject}\n" if subject else "Subject:\n"
            message += f"X-Route: {route}\nX-Seq: {seq}\n\nHello number {seq}.\n"
            subprocess.run(
                [procmail, "-m", f"HOME={home}", f"ORGMAIL={home}/Mail/orgmail",
                 str(home / ".procmailrc")],
                input=message.encode(), env={"HOME": str(home), "PATH": "/usr/bin:/bin"},
                check=False)
        log = (home / "procmail.log").read_bytes()
        # The temporary home shows in absolute paths; the same path every time.
        log = log.replace(str(home).encode(), b"/home/user")
        write(out, "procmail-real", log)
        lines = log.splitlines(keepends=True)
        write(out, "procmail-real-first-half", b"".join(lines[: len(lines) // 2]))


def log_edge_cases(out):
    write(out, "empty", b"")
    write(out, "newline-only", b"\n\n\n")
    write(out, "keywords-only", b"From \n Subject: \n  Folder: \n")
    write(out, "keywords-without-newline", b"From \n Subject: \n  Folder: ")
    write(out, "one-entry", entry(b"alice@example.org", b"hello", b"inbox"))
    write(out, "unended-folder-line",
          entry(b"a@x", b"one", b"inbox") + b"From b@x  Mon\n Subject: two\n  Folder: inbox")
    write(out, "unended-from-line", entry(b"a@x", b"one", b"inbox") + b"From b@x")
    write(out, "crlf", entry(b"a@x", b"one", b"inbox").replace(b"\n", b"\r\n") +
          entry(b"b@x", b"two", b"inbox"))
    write(out, "nul-bytes",
          entry(b"a\0b@x", b"sub\0ject", b"in\0box") + entry(b"c@x", b"d", b"\0") +
          b"Fr\0om x\n  Fol\0der: y\n" + entry(b"e@x", b"f", b"inbox"))
    write(out, "maildir-new",
          entry(b"a@x", b"1", b"lists.dev/new/1.2_1.host") +
          entry(b"b@x", b"2", b"lists.dev/new/3.4_1.host") +
          entry(b"c@x", b"3", b"/new/5.6_1.host") + entry(b"d@x", b"4", b"lists.dev") +
          entry(b"e@x", b"5", b"x/new/y/new/z"))
    write(out, "blanks-and-tabs",
          b"From  two-blanks@x\n Subject:   lead and trail  \n  Folder:  lead\n" +
          b"From\ttab@x\n Subject:\ttab\n  Folder: \tafter-tab\n" +
          b" From a@x\n  Subject: b\n   Folder: c\n  Folder: \"family and friends\"\t12\n")
    write(out, "sort-neighbours",
          b"".join(entry(b"s@x", b"t", name) for name in
                   [b"a", b"ab", b"a/", b"b", b"\xff", b"\x7f", b"a", b"ab", b"", b"\x01"]))
    write(out, "removal-order",
          b"".join(entry(b"s@x", str(i).encode(), name) for i, name in
                   enumerate([b"/dev/null", b"inbox", b"/dev/null", b"work", b"inbox", b"x"])))
    write(out, "pending-carried",
          b"From lonely@x  Mon\n Subject: pending\n\n  Folder: a\n"
          b" Subject: only a subject\n  Folder: b\nFrom only@x\n  Folder: c\n  Folder: c\n")
    keyword_line = b" Subject: "
    at_limit = keyword_line + b"s" * (LINE_LIMIT - len(keyword_line))
    write(out, "line-at-limit", b"From a@x\n" + at_limit + b"\n  Folder: inbox\n")
    write(out, "line-over-limit", b"From a@x\n" + at_limit + b"s\n  Folder: inbox\n" +
          entry(b"b@x", b"after", b"inbox"))
    folder_line = b"  Folder: "
    for name, extra in (("folder-at-limit", 0), ("folder-just-over-limit", 1)):
        line = folder_line + b"f" * (LINE_LIMIT - len(folder_line) + extra)
        # Removing "f" must not leave the long line's entry to lend its
        # subject to the last mail.
        write(out, name, entry(b"a@x", b"1", b"f") + b"From b@x\n Subject: 2\n" + line + b"\n" +
              b"From c@x\n Subject: 3\n  Folder: f\nFrom d@x\n  Folder: g\n")
    write(out, "from-over-limit", b" Subject: kept\nFrom " + b"a" * 5000 +
          b"  Mon\n  Folder: inbox\n")
    write(out, "folder-over-limit", entry(b"a@x", b"1", b"f") + b"From b@x\n Subject: 2\n" +
          b"  Folder: " + b"g" * 4200 + b"\n" + entry(b"c@x", b"3", b"f"))
    write(out, "unended-over-limit", entry(b"a@x", b"1", b"f") + b" Subject: " + b"z" * 4100)
    write(out, "control-bytes",
          entry(b"\x1b[31m@x", b"\x1b]0;title\x07\x9b2J\x08\x7f", b"\x1b[2J\x0c\x0b") +
          entry(b"\xc3\x28@x", b"\xf0\x28\x8c\xbc \xed\xa0\x80", b"\xc0\xaf"))
    write(out, "noise-lines",
          b"procmail: Unable to treat as directory \"ro/new\"\nspam dropped\n"
          b"LOG=textFrom glued@x  Mon\n" + entry(b"a@x", b"b", b"c") +
          b"procmail: Assigning \"NL=\n\"\n")


def rc_files(out):
    write(out, "sample-procmailrc", (EXAMPLES / "sample-procmailrc").read_bytes())
    write(out, "empty", b"")
    write(out, "plain", b"LOGFILE=$HOME/.procmail.log\n")
    write(out, "no-newline", b"MAILDIR=$HOME/Mail\nLOGFILE=$HOME/log")
    write(out, "last-wins", b"LOGFILE=/first\nLOGFILE=$HOME/second\nLOGFILE=/third # note\n")
    write(out, "home-twice", b"LOGFILE=$HOME/$HOME/log\n")
    write(out, "home-forms", b"LOGFILE=${HOME}/log\nLOGFILE=\"$HOME/quoted log\"\n")
    write(out, "not-at-start", b" LOGFILE=/blank\n#LOGFILE=/comment\nlogfile=/lower\nLOGFILE\n")
    write(out, "empty-value", b"LOGFILE=/x\nLOGFILE=\n")
    write(out, "crlf", b"SHELL=/bin/sh\r\nLOGFILE=$HOME/log\r\n")
    write(out, "nul", b"LOGFILE=/before\0after\nLOG\0FILE=/cut\n")
    write(out, "over-limit", b"LOGFILE=/kept\nLOGFILE=/" + b"x" * 4200 + b"\n")
    write(out, "at-limit", b"LOGFILE=/" + b"y" * (LINE_LIMIT - 9) + b"\n")
    write(out, "over-limit-then-more", b"LOGFILE=/" + b"x" * 4200 + b"\nLOGFILE=$HOME/after\n")
    write(out, "manual-forms",
          b"MAILDIR=$HOME/Mail  #you'd better make sure it exists\nLOGFILE=$MAILDIR/from  #rec\n"
          b"PMDIR=$HOME/.procmail\nLOGFILE=$PMDIR/log\n LOGFILE = ${LOGDIR:-$HOME/logs}/pm.log\n"
          b"LOGFILE='$HOME'\\ \"${HOME+x}${U:+y}${U-z}\"\\\nprocmail.log\n")
    write(out, "recipes",
          b":0\n* ^Subject: x\n{\n  LOGFILE=/in\n  :0 c\n  ! a@b \\\n c@d\n}\n:0 Wh\n| cat \\\n -\n"
          b":0\nX=|date\n:\n^Old-style\nbox\nLOGFILE=/out\n")
    write(out, "includes",
          b"MAILDIR=$HOME\nINCLUDERC=.procmailrc\nINCLUDERC=$_\nLOGFILE=$_.log\n"
          b"SWITCHRC=/dev/null\nLOGFILE=/never\n")
    write(out, "commands", b"X=`date`\nLOGFILE=$HOME/$X\nLOGFILE=\"`echo \\\"x`\"\nLOGFILE=$$\n")


def main():
    argparse.ArgumentParser(description=__doc__.splitlines()[0]).parse_args()
    logs = HERE / "corpus/log"
    rcs = HERE / "corpus/rc"
    for directory in (logs, rcs):
        shutil.rmtree(directory, ignore_errors=True)
        directory.mkdir(parents=True)
    sample_pieces(logs)
    generated(logs)
    real_procmail(logs)
    log_edge_cases(logs)
    rc_files(rcs)
    for directory in (logs, rcs):
        files = list(directory.iterdir())
        size = sum(f.stat().st_size for f in files)
        print(f"{directory.relative_to(HERE.parent)}: {len(files)} files, {size} bytes")


if __name__ == "__main__":
    main()
