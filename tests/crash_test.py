#!/usr/bin/env python3
"""Power cuts while and after a list run: no page is ever left empty or torn.

Builds file systems on loop devices (XFS, and ext4 mounted noauto_da_alloc,
where written data waits longest behind its rename), writes a site of 2,000
pages and their merged outputs, syncs them, then runs the list again with a
changed template and cuts the power with the file system's shutdown call,
without a log flush, at one moment per file system: during the run, or 0 to
60 s after it. After a fresh mount every output must be whole, the earlier
page or the new one, and after a run that ended no temporary file may be
left. The cuts run side by side, each on its own loop device.

Usage: crash_test.py TEMBRIX [--no-sync]   (root only; skips elsewhere)
--no-sync runs the program so, to show what the test catches.
"""
import concurrent.futures
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

PAGES = 2000
# Negative: during the run, once it has announced that many pages (its
# groups of waiting pages commit after 1,024 and at the end); otherwise
# seconds after the run ended.
CUTS = [-300, -1030, -1500, -2000, 0, 1, 3, 6, 10, 15, 20, 25, 30, 32, 34,
        36, 38, 40, 50, 60]
SYSTEMS = {"xfs": (["mkfs.xfs", "-q", "-f"], []),
           "ext4": (["mkfs.ext4", "-q", "-F"], ["-o", "noauto_da_alloc"])}


def skip(why):
    print(f"crash test skipped: {why}")
    sys.exit(0)


def run(args, **kw):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, **kw)


def can_mount(work, system):
    """True when a loop device with `system` can be made and mounted."""
    img = os.path.join(work, "probe.img")
    mnt = os.path.join(work, "probe.mnt")
    os.makedirs(mnt, exist_ok=True)
    with open(img, "wb") as f:
        f.truncate(512 << 20)
    made = subprocess.run(["losetup", "-f", "--show", img],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if made.returncode != 0:
        os.remove(img)
        return False
    dev = made.stdout.decode().strip()
    mkfs, options = SYSTEMS[system]
    ok = (subprocess.run(mkfs + [dev], capture_output=True).returncode == 0 and
          subprocess.run(["mount"] + options + [dev, mnt],
                         capture_output=True).returncode == 0)
    subprocess.run(["umount", mnt], capture_output=True)
    subprocess.run(["losetup", "-d", dev])
    os.remove(img)
    return ok


def make_site(folder):
    rng = random.Random(7)
    os.makedirs(os.path.join(folder, "temb"))
    names = []
    for n in range(PAGES):
        name = f"p{n:04}.html"
        body = "".join(f"<p>page {n} line {k} {'x' * rng.randrange(60)}</p>\n"
                       for k in range(rng.randrange(40, 700)))
        with open(os.path.join(folder, name), "w") as f:
            f.write(f"<html>\n<head>\n<title>{n}</title>\n</head>\n<body>\n"
                    f"{body}</body>\n</html>\n")
        names.append(name)
    with open(os.path.join(folder, "list.txt"), "w") as f:
        f.write("\n".join(names) + "\n")
    for t in "AB":
        with open(os.path.join(folder, f"t{t}.html"), "w") as f:
            f.write(f"<html>\n<head>\n</head>\n<body class={t}>\n<main>\n"
                    f"####\n</main>\n</body>\n</html>\n")
    return names


def reference(exe, site, template):
    """The merged pages of one template, by name."""
    run([exe, "--no-sync", template, "--list", "list.txt"], cwd=site)
    out = os.path.join(site, "temb")
    pages = {}
    for name in os.listdir(out):
        with open(os.path.join(out, name), "rb") as f:
            pages[name] = f.read()
        os.remove(os.path.join(out, name))
    return pages


def one_cut(exe, work, site, system, delay, refs, extra):
    img = os.path.join(work, f"{system}{delay}.img")
    mnt = os.path.join(work, f"{system}{delay}.mnt")
    os.makedirs(mnt)
    with open(img, "wb") as f:
        f.truncate(512 << 20)
    dev = run(["losetup", "-f", "--show", img]).stdout.decode().strip()
    mkfs, options = SYSTEMS[system]
    try:
        run(mkfs + [dev])
        run(["mount"] + options + [dev, mnt])
        for name in os.listdir(site):
            path = os.path.join(site, name)
            if os.path.isfile(path):
                shutil.copy(path, mnt)
        os.makedirs(os.path.join(mnt, "temb"))
        run([exe, "tA.html", "--list", "list.txt"], cwd=mnt)
        run(["sync", "-f", mnt])
        proc = subprocess.Popen([exe] + extra + ["tB.html", "--list",
                                                 "list.txt"],
                                cwd=mnt, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)
        ended = delay >= 0
        if ended:
            proc.communicate()
            time.sleep(delay)
        else:
            for _ in range(-delay):
                proc.stdout.readline()
        # The power cut: the file system stops, and its log is not flushed.
        run(["xfs_io", "-x", "-c", "shutdown", mnt])
        if not ended:
            proc.stdout.read()
        status = proc.wait()
        run(["umount", mnt])
        run(["mount"] + options + [dev, mnt])
        problems, summary = check(mnt, refs, ended, status)
        if not ended:
            # The next run removes what the cut one left: its process is gone.
            run([exe, "tB.html", "--list", "list.txt"], cwd=mnt)
            temps = [n for n in os.listdir(os.path.join(mnt, "temb"))
                     if n.startswith(".tembrix-")]
            if temps:
                problems.append(f"{len(temps)} temporary files left after the "
                                "next run")
        return problems, summary
    finally:
        subprocess.run(["umount", mnt], stderr=subprocess.DEVNULL)
        subprocess.run(["losetup", "-d", dev])
        os.remove(img)


def check(mnt, refs, ended, status):
    out = os.path.join(mnt, "temb")
    counts = {"old": 0, "new": 0, "empty": 0, "torn": 0, "missing": 0}
    for name, (old, new) in refs.items():
        path = os.path.join(out, name)
        if not os.path.exists(path):
            counts["missing"] += 1
            continue
        with open(path, "rb") as f:
            data = f.read()
        kind = ("old" if data == old else "new" if data == new else
                "empty" if not data else "torn")
        counts[kind] += 1
    temps = [n for n in os.listdir(out) if n.startswith(".tembrix-")]
    problems = [f"{counts[k]} {k}" for k in ("empty", "torn", "missing")
                if counts[k]]
    if ended and status != 0:
        problems.append(f"the run exited {status}")
    if ended and temps:
        problems.append(f"{len(temps)} temporary files left")
    summary = f"{counts['old']} old, {counts['new']} new"
    if not ended and temps:
        summary += f", {len(temps)} temporary files of the cut run"
    return problems, summary


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    exe = os.path.abspath(sys.argv[1])
    extra = sys.argv[2:]
    if os.geteuid() != 0:
        skip("it needs root for loop devices and mounts")
    for tool in ("losetup", "mount", "mkfs.xfs", "mkfs.ext4", "xfs_io"):
        if shutil.which(tool) is None:
            skip(f"{tool} is missing (packages xfsprogs, e2fsprogs, mount)")
    work = tempfile.mkdtemp(prefix="tembrix-crash-")
    try:
        for system in SYSTEMS:
            if not can_mount(work, system):
                skip(f"no {system} file system can be made and mounted here")
        site = os.path.join(work, "site")
        names = make_site(site)
        old = reference(exe, site, "tA.html")
        new = reference(exe, site, "tB.html")
        refs = {name: (old[name], new[name]) for name in names}
        jobs = [(system, delay) for system in SYSTEMS for delay in CUTS]
        failed = 0
        with concurrent.futures.ThreadPoolExecutor(len(jobs)) as pool:
            futures = {pool.submit(one_cut, exe, work, site, s, d, refs, extra):
                       (s, d) for s, d in jobs}
            for future in concurrent.futures.as_completed(futures):
                system, delay = futures[future]
                when = (f"after {-delay} pages of the run" if delay < 0 else
                        f"{delay:g} s after the run")
                problems, summary = future.result()
                verdict = "FAILED: " + ", ".join(problems) if problems else "ok"
                print(f"{system:4} cut {when:28} {summary:52} {verdict}",
                      flush=True)
                failed += bool(problems)
        print(f"{len(jobs) - failed} passed, {failed} failed")
        return 1 if failed else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
