#!/usr/bin/env python3
"""Benchmarks tembrix against plain copying of the same bytes.

Builds a Release tembrix, generates seeded data in a temporary folder, and
times each case and its reference side by side in one run, median of several
runs, with the peak resident memory of each child process. Prints a table.

  python3 bench/bench.py            # the full sizes (a few minutes)
  python3 bench/bench.py --small    # tiny sizes, to show the script works
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MIB = 1024 * 1024

TEMPLATE = (
    "<html>\n<head>\n<title>Site</title>\n</head>\n"
    '<body bgcolor=white text=#000000>\n<table width="100%"><tr>'
    "<td bgcolor=#336699>\n####\n</td></tr></table>\n</body>\n</html>\n")

WORDS = ("lorem ipsum dolor sit amet consectetur adipiscing elit sed do "
         "eiusmod tempor incididunt ut labore et dolore magna aliqua enim "
         "minim veniam quis nostrud exercitation ullamco laboris nisi").split()


def html_lines(rng, count):
    """Lines of realistic body HTML: a tag every few dozen bytes."""
    lines = []
    for _ in range(count):
        text = " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 9)))
        kind = rng.randint(0, 5)
        colour = "#%06x" % rng.randrange(1 << 24)
        if kind == 0:
            lines.append('<p class="c%d">%s <a href="page%d.html">%s</a></p>'
                         % (rng.randint(0, 99), text, rng.randint(0, 999),
                            rng.choice(WORDS)))
        elif kind == 1:
            lines.append("<tr><td bgcolor=%s>%s</td><td>%d</td></tr>"
                         % (colour, text, rng.randint(0, 99999)))
        elif kind == 2:
            lines.append('<span style="color:%s">%s</span><br>'
                         % (colour, text))
        elif kind == 3:
            lines.append("<li><b>%s</b> %s</li>" % (rng.choice(WORDS), text))
        elif kind == 4:
            lines.append("<h3 id=s%d>%s</h3>" % (rng.randint(0, 999), text))
        else:
            lines.append("%s <i>%s</i> &amp; %s" % (text, rng.choice(WORDS),
                                                   rng.choice(WORDS)))
    return lines


def write_page(path, rng, lines, size):
    """An input page of about `size` bytes: head, then body lines."""
    with open(path, "w") as out:
        out.write("<html>\n<head>\n<title>Page</title>\n"
                  '<meta name="generator" content="bench">\n</head>\n<body>\n')
        written = 0
        while written < size:
            # Lines are about 60 bytes: a small page takes only as many.
            count = max(1, min(512, (size - written) // 60))
            chunk = "\n".join(rng.choices(lines, k=count)) + "\n"
            out.write(chunk)
            written += len(chunk)
        out.write("</body>\n</html>\n")


MEASURE = None  # the helper that times a child and reads its peak memory
PUBLISH = None  # the helper that publishes a tree durably, merging nothing


def timed(command, cwd, stdin_path=None):
    """Runs one command; gives (seconds, user seconds, peak resident KiB)."""
    if isinstance(command, str):
        command = ["sh", "-c", command]
    result = subprocess.run([MEASURE, stdin_path or "/dev/null"] + command,
                            cwd=cwd, stdout=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.exit("failed: %s" % command)
    seconds, user, rss = result.stdout.split()
    return float(seconds), float(user), int(rss)


def interleaved(commands, cwd, runs):
    """Times each (command, stdin) in turn, `runs` rounds after a warm-up.

    A command may come with a third entry, a shell command run untimed before
    it (and before the disk is synced): the removal of what the run before
    made, for a fresh build.

    A stdin given as a list is used in turn, one entry a run: console
    dialogues that alternate between two templates make every run of the
    tool write every output anew, as after a change of the template.

    Rounds interleave the commands, so a slow spell of the machine hits all
    of them alike, and the disk is synced (untimed) before every run. The warm-up also leaves the outputs in place, so every
    measured run of every side overwrites files, as a user's second run of a
    site does. Gives, per command, the median seconds, the median user
    seconds and the peak memory.
    """
    def stdin_of(stdin_path, run):
        if isinstance(stdin_path, list):
            return stdin_path[run % len(stdin_path)]
        return stdin_path

    def set_up(entry):
        if len(entry) > 2:
            subprocess.run(entry[2], shell=True, cwd=cwd, check=True)

    for entry in commands:
        set_up(entry)
        timed(entry[0], cwd, stdin_of(entry[1], 0))
    samples = [([], [], [0]) for _ in commands]
    for run in range(1, runs + 1):
        for entry, (walls, users, peak) in zip(commands, samples):
            command, stdin_path = entry[0], entry[1]
            set_up(entry)
            # Each run starts with nothing waiting to be written, so no run
            # pays for the writing the one before it left behind.
            os.sync()
            seconds, user, rss = timed(command, cwd,
                                       stdin_of(stdin_path, run))
            walls.append(seconds)
            users.append(user)
            peak[0] = max(peak[0], rss)
    return [(statistics.median(w), statistics.median(u), p[0])
            for w, u, p in samples]


def build():
    build_dir = os.path.join(ROOT, "build-release")
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir,
                    "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j2", "--target",
                    "tembrix", "bench_measure", "bench_publish"], check=True,
                   stdout=subprocess.DEVNULL)
    global MEASURE, PUBLISH
    MEASURE = os.path.join(build_dir, "bench_measure")
    PUBLISH = os.path.join(build_dir, "bench_publish")
    return os.path.join(build_dir, "tembrix")


def size_name(size):
    return "%d MiB" % (size // MIB) if size >= MIB else "%d KiB" % (size // 1024)


class Done(Exception):
    """Ends the cases early (--site-only)."""


def site_cases(exe, work, rng, lines, pages, runs, idle, rows):
    """A site of `pages` pages of 4 KiB and a tenth as many other files of
    20 KiB in 50 folders, built with --out: fresh without syncing against
    rsync, fresh and durable against cp and sync, and again unchanged
    against cp. Before each fresh run, the tool's and the reference's alike,
    what the one before made is removed, untimed."""
    tree = os.path.join(work, "tree")
    site = os.path.join(tree, "site")
    for folder in range(50):
        os.makedirs(os.path.join(site, "f%02d" % folder))
    for n in range(pages):
        write_page(os.path.join(site, "f%02d" % (n % 50), "p%05d.html" % n),
                   rng, lines, 4096 - 200)
    for n in range(pages // 10):
        with open(os.path.join(site, "f%02d" % (n % 50), "a%04d.png" % n),
                  "wb") as out:
            out.write(os.urandom(20 * 1024))
    shutil.copy(os.path.join(work, "template.html"), tree)
    quiet = exe + " -q "
    (nosync, user, rss), rsync = interleaved([
        (quiet + "--no-sync --out pub template.html site", None, "rm -rf pub"),
        ("rsync -a -I site/ r/", None, "rm -rf r")], tree, runs)
    rows.append(("site, `--out --no-sync` / `rsync -a -I`", nosync,
                 "rsync -a -I", rsync[0], rss - idle))
    (one, _, _), = interleaved([
        (quiet + "-j 1 --no-sync --out pub template.html site", None,
         "rm -rf pub")], tree, runs)
    rows.append(("site, `-j 1 --out --no-sync` / `rsync -a -I`", one,
                 "rsync -a -I", rsync[0], None))
    # The floor of the durable build: the same reads, writes, flushes and
    # renames, by as many threads, with nothing merged.
    (durable, _, rss), bare, cp = interleaved([
        (quiet + "--out pub template.html site", None, "rm -rf pub"),
        ("%s site bare %d" % (PUBLISH, os.cpu_count() or 1), None,
         "rm -rf bare"),
        ("cp -r site c && sync -f c", None, "rm -rf c")], tree, runs)
    rows.append(("site, `--out` durable / `cp -r` + `sync -f`", durable,
                 "cp -r + sync -f", cp[0], rss - idle))
    rows.append(("site, the same system calls, nothing merged "
                 "(`bench_publish`) / "
                 "`cp -r` + `sync -f`", bare[0], "cp -r + sync -f", cp[0],
                 None))
    subprocess.run(quiet + "--out pub template.html site", shell=True,
                   cwd=tree, check=True)
    # A rerun passes over what the record of the last build holds, and the
    # record takes only files unchanged for three seconds: the warm-up
    # rerun, after that, compares every file and makes the record.
    time.sleep(3.5)
    (again, _, rss), cp = interleaved([
        (quiet + "--out pub template.html site", None),
        ("cp -r site c", None, "rm -rf c")], tree, runs)
    rows.append(("site rerun, unchanged / `cp -r`", again, "cp -r", cp[0],
                 rss - idle))
    shutil.rmtree(tree)


def print_site(rows):
    if not rows:
        return
    print("| case | tembrix | reference | ratio | peak RSS above idle |")
    print("|---|---|---|---|---|")
    for name, mine, ref_name, ref, rss in rows:
        print("| %s | %.3f s | %.3f s | %.2f | %s |"
              % (name, mine, ref, mine / ref,
                 "%d KiB" % rss if rss is not None else "-"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--small", action="store_true",
                        help="tiny sizes, only to show the script works")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--html-only", action="store_true",
                        help="only the HTML mode's rows, on pages up to 64 MiB")
    parser.add_argument("--site-only", action="store_true",
                        help="only the site build's rows (--out)")
    args = parser.parse_args()
    scale = 1 / 1024 if args.small else 1
    sizes = [int(s * MIB * scale)
             for s in ((16, 64) if args.html_only else (16, 64, 256, 1024))]
    pages = 100 if args.small else 10000
    word = int(64 * MIB * scale)
    if shutil.which("rsync") is None:
        sys.exit("bench.py needs rsync (apt-get install rsync)")

    exe = build()
    rng = random.Random(20261209)
    lines = html_lines(rng, 4000)
    work = tempfile.mkdtemp(prefix="tembrix-bench-")
    # The records of site builds go with the rest of the run's data.
    os.environ["XDG_CACHE_HOME"] = os.path.join(work, "cache")
    rows = []
    sync_rows = []  # (case, durable seconds, --no-sync seconds)
    # (case, --html seconds, word rules seconds, dd+mv seconds, peak above
    # idle), all without syncing
    html_rows = []
    hostile_rows = []  # (case, --html seconds)
    site_rows = []  # (case, tembrix seconds, reference, seconds, peak)
    try:
        os.mkdir(os.path.join(work, "temb"))
        # Two templates of the same size that give different pages, so that
        # every timed run of the tool writes its outputs anew.
        for name, text in (("template.html", TEMPLATE),
                           ("template2.html", TEMPLATE.replace("white",
                                                               "black"))):
            with open(os.path.join(work, name), "w") as out:
                out.write(text)

        def console(name, text):
            path = os.path.join(work, name)
            with open(path, "w") as out:
                out.write(text)
            return path

        idle_in = console("idle.in", "q\n")
        # Resident memory at rest varies by a few hundred KiB from run to run
        # (where the system places things): idle is the peak over as many
        # runs as each case has, like the cases' own peaks.
        idle = interleaved([([exe], idle_in)], work, args.runs)[0][2]
        if args.site_only:
            site_cases(exe, work, rng, lines, pages, args.runs, idle,
                       site_rows)
            raise Done()

        def page_case(label, name, size):
            cin = [console(name + ".in", "a\ntemplate.html\n%s\nq\n" % name),
                   console(name + ".in2", "a\ntemplate2.html\n%s\nq\n" % name)]
            (mine, user, rss), nosync, html, layout, ddmv, dd, cat = \
                interleaved([
                ([exe], cin),
                # The other template first: every run writes its page anew.
                ([exe, "--no-sync"], cin[::-1]),
                ([exe, "--no-sync", "--html"], cin),
                ([exe, "--no-sync", "--layout"], cin[::-1]),
                ("dd if=%s of=temb/tmp bs=128k 2>/dev/null && "
                 "mv temb/tmp temb/out" % name, None),
                ("dd if=%s of=temb/out bs=128k 2>/dev/null" % name, None),
                ("cat template.html %s > temb/out" % name, None)],
                work, args.runs)
            rows.append((label, mine, user, rss, size,
                         [("dd bs=128k", dd[0]), ("cat", cat[0])]))
            sync_rows.append((label, mine, nosync[0]))
            html_rows.append((label, html[0], nosync[0], ddmv[0],
                              html[2] - idle, layout[0], layout[2] - idle))
            os.remove(os.path.join(work, name))
            os.remove(os.path.join(work, "temb", name[:20]))

        for size in sizes:
            name = "big%d.html" % size
            write_page(os.path.join(work, name), rng, lines, size)
            page_case("page " + size_name(size), name, size)

        with open(os.path.join(work, "word.html"), "w") as out:
            out.write("<head> </head>\n<body>\n<")
            block = "x" * MIB
            for _ in range(word // MIB):
                out.write(block)
            out.write("x" * (word % MIB) + "\n</body>\n")
        page_case("one word of " + size_name(word), "word.html",
                  os.path.getsize(os.path.join(work, "word.html")))

        # The HTML mode over one comment, one attribute value and one script
        # as long as the word above: memory must stay flat.
        for label, head, tail in (
                ("one comment", "<!-- ", " -->"),
                ("one attribute value", '<p title="', '">'),
                ("one script", "<script>", "</script>")):
            name = "huge.html"
            with open(os.path.join(work, name), "w") as out:
                out.write("<head> </head>\n<body>\n" + head)
                block = "x" * MIB
                for _ in range(word // MIB):
                    out.write(block)
                out.write("x" * (word % MIB) + tail + "\n</body>\n")
            cin = [console("huge.in", "a\ntemplate.html\n%s\nq\n" % name),
                   console("huge.in2", "a\ntemplate2.html\n%s\nq\n" % name)]
            html, ddmv = interleaved([
                ([exe, "--no-sync", "--html"], cin),
                ("dd if=%s of=temb/tmp bs=128k 2>/dev/null && "
                 "mv temb/tmp temb/out" % name, None)], work, args.runs)
            html_rows.append(("%s of %s" % (label, size_name(word)), html[0],
                              None, ddmv[0], html[2] - idle, None, None))
            os.remove(os.path.join(work, name))

        # Pages built to be hard for the HTML mode (tags that never end, or
        # whose every '>' lies in a later quote), against a plain page of
        # the same size; the mode reads each in time linear in its size.
        hostile = int(MIB * scale)
        write_page(os.path.join(work, "plain.html"), rng, lines, hostile)
        for label, head, unit in (
                ("plain page", None, None),
                ('`<a x="1 ...`', "<body>", '<a x="1 '),
                ('`</body x="1 ...`', "<body>", '</body x="1 '),
                ('`<meta x="1 ...` in a head', "<head>", '<meta x="1 '),
                ('`<p x="1 ...`, no head or body', "", '<p x="1 '),
                ('`<a x="1>" y=\'...`', "<body>", '<a x="1>" y=\'')):
            name = "plain.html"
            if head is not None:
                name = "hostile.html"
                with open(os.path.join(work, name), "w") as out:
                    out.write(head + unit * (hostile // len(unit)))
            cin = [console("h.in", "a\ntemplate.html\n%s\nq\n" % name),
                   console("h.in2", "a\ntemplate2.html\n%s\nq\n" % name)]
            (html,) = interleaved([([exe, "--no-sync", "--html"], cin)], work,
                                  args.runs)
            hostile_rows.append(("%s of %s" % (label, size_name(hostile)),
                                 html[0]))

        if not args.html_only:
            site = os.path.join(work, "site")
            os.mkdir(site)
            os.mkdir(os.path.join(site, "temb"))
            os.mkdir(os.path.join(site, "copy"))
            os.mkdir(os.path.join(site, "sync"))
            shutil.copy(os.path.join(work, "template.html"), site)
            shutil.copy(os.path.join(work, "template2.html"), site)
            names = ["p%05d.html" % n for n in range(pages)]
            for n in names:
                write_page(os.path.join(site, n), rng, lines, 4096 - 200)
            with open(os.path.join(site, "list.txt"), "w") as out:
                out.write("\n".join(names) + "\n")
            # The same pages under other names, for the run without syncing,
            # whose outputs must not be the ones the durable run just wrote.
            for n in names:
                os.link(os.path.join(site, n), os.path.join(site, "n" + n[1:]))
            with open(os.path.join(site, "nlist.txt"), "w") as out:
                out.write("\n".join("n" + n[1:] for n in names) + "\n")
            cin = [console("list.in", "l\ntemplate.html\nlist.txt\nq\n"),
                   console("list2.in", "l\ntemplate2.html\nlist.txt\nq\n")]
            # rsync writes each file to a temporary and renames it: the same
            # promise as the tool's; cp overwrites in place.
            (mine, user, rss), nosync, rsync, cp = interleaved([
                ([exe], cin),
                ([exe, "--no-sync"],
                 [console("nlist.in", "l\ntemplate.html\nnlist.txt\nq\n"),
                  console("nlist2.in", "l\ntemplate2.html\nnlist.txt\nq\n")]),
                ("rsync -a -I p*.html sync/", None),
                ("cp p*.html copy/", None)], site, args.runs)
            rows.append(("list of %d pages of 4 KiB" % pages, mine, user, rss,
                         None, [("rsync -a -I", rsync[0]), ("cp", cp[0])]))
            sync_rows.append(("list of %d pages of 4 KiB" % pages, mine,
                              nosync[0]))
            # The same list again over its own outputs, nothing changed: the
            # tool reads and compares, and writes nothing.
            (mine, user, rss), cp = interleaved([
                ([exe], cin[0]),
                ("cp p*.html copy/", None)], site, args.runs)
            rows.append(("rerun of the unchanged list", mine, user, rss, None,
                         [("cp", cp[0])]))
            shutil.rmtree(site)
            site_cases(exe, work, rng, lines, pages, args.runs, idle,
                       site_rows)
    except Done:
        pass
    finally:
        shutil.rmtree(work)
    if args.site_only:
        print_site(site_rows)
        return

    print("| case | tembrix median | reference | ratio | second reference "
          "| ratio | ns/byte | user ns/byte | peak RSS above idle |")
    print("|---|---|---|---|---|---|---|---|---|")
    for name, mine, user, rss, size, refs in rows:
        per_byte = "%.2f" % (mine * 1e9 / size) if size else "-"
        user_byte = "%.3f" % (user * 1e9 / size) if size else "-"
        cells = []
        for ref_name, ref in refs:
            cells += ["%.3f s (`%s`)" % (ref, ref_name), "%.2f" % (mine / ref)]
        cells += ["-", "-"] * (2 - len(refs))
        print("| %s | %.3f s | %s | %s | %s | %d KiB |"
              % (name, mine, " | ".join(cells), per_byte, user_byte,
                 rss - idle))
    print("idle tembrix at its menu: %d KiB peak resident" % idle)
    print()
    print("| case | `--html` | word rules | ratio | `dd` + `mv` | ratio "
          "| peak RSS above idle | `--layout` | ratio to `--html` "
          "| its peak RSS above idle |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for name, html, words, ddmv, rss, layout, layout_rss in html_rows:
        word_cells = ("%.3f s | %.2f" % (words, html / words) if words
                      else "- | -")
        layout_cells = ("%.3f s | %.2f | %d KiB" % (layout, layout / html,
                                                    layout_rss)
                        if layout else "- | - | -")
        print("| %s | %.3f s | %s | %.3f s | %.2f | %d KiB | %s |"
              % (name, html, word_cells, ddmv, html / ddmv, rss,
                 layout_cells))
    print()
    print("| case | `--html` | ratio to the plain page |")
    print("|---|---|---|")
    for name, html in hostile_rows:
        print("| %s | %.3f s | %.2f |" % (name, html, html / hostile_rows[0][1]))
    print()
    print_site(site_rows)
    print()
    print("| case | durable (default) | `--no-sync` | ratio |")
    print("|---|---|---|---|")
    for name, durable, nosync in sync_rows:
        print("| %s | %.3f s | %.3f s | %.2f |"
              % (name, durable, nosync, durable / nosync))


if __name__ == "__main__":
    main()
