#!/usr/bin/python3
"""What the desktop's own programs make of what we install and write.

    /usr/bin/python3 desktop_consumers_test.py CMAKE BUILD_DIR PICTURES_DIR

Installs the build's Runtime component into a fresh prefix below /usr/local
(GNOME runs thumbnailers in a bubblewrap sandbox that sees /usr alone),
removed at the end, then runs each part in a process of its own, with
XDG_DATA_DIRS=PREFIX/share:/usr/share and a fresh XDG_CACHE_HOME and HOME:

  factory  GNOME's thumbnail factory offers vignettes.thumbnailer for the
           types only we read and makes their thumbnails through it, in its
           sandbox, fitted in 128 pixels;
  cache    `vignettes --cache` fills the cache: the factory finds every
           picture's entry at normal and large, and the failure entry of a
           file that is no picture; entries 0600 in folders 0700; with -u,
           an entry removed is made again and the others stay as they were;
  killed   a fill killed by SIGKILL leaves complete entries only, and
           `--cache -u` finishes it without rewriting them;
  tumbler  tumblerd (Xfce's thumbnail service), in a session bus of its
           own, makes thumbnails through vignettes.thumbnailer when asked
           over D-Bus.

Every part runs and says PASS, FAIL or SKIP. Exit status: 1 when a part
failed, else 77 (ctest's skip) when one was skipped or when nothing can be
installed below /usr/local (not root) or GNOME's factory is missing
(scripts/setup.sh installs it), else 0.
"""
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

try:
    import gi
    gi.require_version("GnomeDesktop", "3.0")
    gi.require_version("GdkPixbuf", "2.0")
    from gi.repository import GdkPixbuf, Gio, GLib, GnomeDesktop
    GI_PROBLEM = ""
except (ImportError, ValueError) as e:
    GI_PROBLEM = str(e)

SKIP = 77

# Pictures of types no other thumbnailer of a Debian desktop reads: name,
# upright width and height (a metafile's logical size at 96 dpi).
SAMPLES = (
    ("inkscape_shapes.wmf", 192, 96),
    ("inkscape_shapes.emf", 193, 98),
    ("grid96.heic", 96, 64),
    ("grid96.avif", 96, 64),
    ("grid48_orient6.dng", 48, 32),  # stored 32 x 48, orientation 6
)
# A name a file manager escapes in its URI, drawn from the WMF.
ESCAPED = ("clip art \u00e9.wmf", 192, 96)
CACHE_SIZES = (("NORMAL", "normal", 128), ("LARGE", "large", 256))
# A DNG takes the longest of the samples; this many take a fill over a
# second on two cores, so that it is killed halfway.
KILLED_COPIES = 500
THUMBNAILER1 = "org.freedesktop.thumbnails.Thumbnailer1"
PNG_END = b"\0\0\0\0IEND\xaeB`\x82"

FAILURES = []  # of the part this process runs


def check(ok, message):
    if not ok:
        FAILURES.append(message)
        print("FAIL:", message, flush=True)
    return ok


# --- helpers for the parts, run with the part's environment ----------------
def file_facts(path):
    """URI, MIME type and mtime of a file, as a file manager gives them."""
    f = Gio.File.new_for_path(str(path))
    info = f.query_info("standard::content-type,time::modified",
                        Gio.FileQueryInfoFlags.NONE, None)
    return (f.get_uri(), info.get_content_type(),
            info.get_attribute_uint64("time::modified"))


def fit_problem(pixbuf, box, width, height):
    """'' when the pixbuf is a width x height picture fitted in box pixels,
    never enlarged, each side within a pixel of its exact scale."""
    w, h = pixbuf.get_width(), pixbuf.get_height()
    scale = min(box / max(width, height), 1.0)
    if (max(w, h) == min(box, max(width, height))
            and abs(w - width * scale) <= 1 and abs(h - height * scale) <= 1):
        return ""
    return (f"{w} x {h}, expected {width} x {height} fitted in {box}: "
            f"{width * scale:.1f} x {height * scale:.1f}")


def copy_samples(pictures, folder, samples):
    folder.mkdir(parents=True, exist_ok=True)
    for name, _, _ in samples:
        source = "inkscape_shapes.wmf" if name == ESCAPED[0] else name
        shutil.copyfile(pictures / source, folder / name)


def cache_root():
    return Path(os.environ["XDG_CACHE_HOME"]) / "thumbnails"


def fill(prefix, folder, statuses, *options):
    """Runs `vignettes --cache -j2 OPTIONS --origin FOLDER`; a failure
    unless it exits with one of statuses."""
    run = subprocess.run(
        [str(prefix / "bin/vignettes"), "--cache", "-j2", *options,
         "--origin", str(folder)],
        capture_output=True, text=True, timeout=120, check=False)
    check(run.returncode in statuses,
          f"vignettes --cache {' '.join(options)} exited {run.returncode}, "
          f"expected one of {statuses}:\n{run.stdout}{run.stderr}")


def check_entries(folder, samples):
    """Every picture of samples has its entry at normal and at large, found
    by the factory and fitted in the size's box."""
    for size, folder_name, box in CACHE_SIZES:
        factory = GnomeDesktop.DesktopThumbnailFactory.new(
            getattr(GnomeDesktop.DesktopThumbnailSize, size))
        for name, width, height in samples:
            uri, _, mtime = file_facts(folder / name)
            entry = factory.lookup(uri, mtime)
            if not check(entry, f"{folder_name}: no valid entry for {uri}"):
                continue
            problem = fit_problem(GdkPixbuf.Pixbuf.new_from_file(entry), box,
                                  width, height)
            check(not problem, f"{folder_name}/{name}: {problem}")


def stamps(paths):
    """Each file's inode and mtime: a file written again changes both."""
    return {p: (p.stat().st_ino, p.stat().st_mtime_ns) for p in paths}


def check_kept(before):
    for path, stamp in before.items():
        check(stamps([path])[path] == stamp, f"{path}: rewritten by -u")


def entry_path(size, uri):
    return cache_root() / size / (hashlib.md5(uri.encode()).hexdigest()
                                  + ".png")


def check_complete_png(path):
    data = path.read_bytes()
    if not check(data.startswith(b"\x89PNG\r\n\x1a\n")
                 and data.endswith(PNG_END),
                 f"{path}: {len(data)} bytes, not a whole PNG"):
        return
    try:
        GdkPixbuf.Pixbuf.new_from_file(str(path))
    except GLib.Error as e:
        check(False, f"{path}: gdk-pixbuf cannot read it: {e.message}")


# --- the parts ---------------------------------------------------------------
def part_factory(prefix, pictures, work):
    # Without bwrap the factory runs thumbnailers unconfined: the sandbox
    # our decoder processes must live in would go untested.
    check(shutil.which("bwrap"), "bwrap not installed (bubblewrap)")
    folder = work / "pictures"
    copy_samples(pictures, folder, SAMPLES)
    factory = GnomeDesktop.DesktopThumbnailFactory.new(
        GnomeDesktop.DesktopThumbnailSize.NORMAL)
    for name, width, height in SAMPLES:
        uri, mime, mtime = file_facts(folder / name)
        if not check(factory.can_thumbnail(uri, mime, mtime),
                     f"the factory has no thumbnailer for {name} ({mime})"):
            continue
        try:
            pixbuf = factory.generate_thumbnail(uri, mime, None)
        except GLib.Error as e:
            check(False, f"{name} ({mime}): {e.message}")
            continue
        problem = fit_problem(pixbuf, 128, width, height)
        check(not problem, f"{name}: {problem}")


def part_cache(prefix, pictures, work):
    folder = work / "pictures"
    good = SAMPLES + (ESCAPED,)
    copy_samples(pictures, folder, good)
    (folder / "broken.jpg").write_text("no picture at all\n")
    fill(prefix, folder, (0, 1))  # 1: the broken file fails
    check_entries(folder, good)

    factory = GnomeDesktop.DesktopThumbnailFactory.new(
        GnomeDesktop.DesktopThumbnailSize.NORMAL)
    uri, _, mtime = file_facts(folder / "broken.jpg")
    check(factory.has_valid_failed_thumbnail(uri, mtime),
          f"the factory sees no failure entry for {uri}")
    check(not factory.lookup(uri, mtime), f"an entry for {uri}")

    for path in [cache_root(), *cache_root().rglob("*")]:
        mode = path.stat().st_mode & 0o777
        want = 0o700 if path.is_dir() else 0o600
        check(mode == want, f"{path}: mode {mode:o}, expected {want:o}")

    # A picture with one entry gone, as a killed fill leaves it: -u makes
    # that entry again and leaves the valid ones as they were.
    before = stamps(cache_root().glob("*/*.png"))
    gone = entry_path("large", file_facts(folder / SAMPLES[0][0])[0])
    gone.unlink()
    del before[gone]
    fill(prefix, folder, (0, 1), "-u")
    check(gone.is_file(), f"{gone}: not made again by -u")
    check_kept(before)


def part_killed(prefix, pictures, work):
    folder = work / "pictures"
    folder.mkdir()
    copies = tuple((f"{i:04}.dng", 48, 32) for i in range(KILLED_COPIES))
    for name, _, _ in copies:
        os.link(pictures / "grid48_orient6.dng", folder / name)
    root = cache_root()
    with open(work / "killed_fill.out", "w") as out:
        killed = subprocess.Popen(
            [str(prefix / "bin/vignettes"), "--cache", "-j2", "--origin",
             str(folder)], stdout=out, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 30
        while (killed.poll() is None and time.monotonic() < deadline
               and not any(root.glob("*/*.png"))):
            time.sleep(0.005)
        running = killed.poll() is None
        killed.kill()
        killed.wait()
    if not check(running and any(root.glob("*/*.png")),
                 "the fill was not killed halfway: it "
                 + ("had ended" if not running else "wrote nothing in 30 s")
                 + "; " + (work / "killed_fill.out").read_text()):
        return

    for path in root.rglob("*.png"):
        check(re.fullmatch(r"[0-9a-f]{32}\.png", path.name),
              f"{path}: a .png that is no entry")
        check_complete_png(path)
    kept = stamps(root.rglob("*.png"))
    print(f"killed with {len(kept)} entries written", flush=True)

    fill(prefix, folder, (0,), "-u")
    check_entries(folder, copies)
    check_kept(kept)


def part_tumbler(prefix, pictures, work):
    samples = (SAMPLES[0], SAMPLES[2])  # WMF, HEIC
    folder = work / "pictures"
    copy_samples(pictures, folder, samples)
    facts = {name: file_facts(folder / name) for name, _, _ in samples}
    uris = [uri for uri, _, _ in facts.values()]
    mimes = [mime for _, mime, _ in facts.values()]

    log_path = work / "tumblerd.log"
    with open(log_path, "w") as log:
        daemon = subprocess.Popen(
            [tumblerd()], stdout=log, stderr=subprocess.STDOUT,
            env=dict(os.environ, G_MESSAGES_DEBUG="all"))
    try:
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)

        def call(method, args, signature=None):
            return bus.call_sync(
                THUMBNAILER1, "/org/freedesktop/thumbnails/Thumbnailer1",
                THUMBNAILER1, method, args, signature,
                Gio.DBusCallFlags.NONE, 30000, None).unpack()

        deadline = time.monotonic() + 20
        while daemon.poll() is None and time.monotonic() < deadline:
            owned = bus.call_sync(
                "org.freedesktop.DBus", "/org/freedesktop/DBus",
                "org.freedesktop.DBus", "NameHasOwner",
                GLib.Variant("(s)", (THUMBNAILER1,)), None,
                Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
            if owned:
                break
            time.sleep(0.05)
        else:
            check(False, "tumblerd did not take its name within 20 s:\n"
                  + log_path.read_text())
            return

        _, supported = call("GetSupported", None)
        for mime in mimes:
            check(mime in supported,
                  f"tumbler offers no thumbnailer for {mime}; is "
                  "DesktopThumbnailer disabled in tumbler.rc?")

        ready, errors = set(), {}
        loop = GLib.MainLoop()

        def on_signal(_bus, _sender, _path, _iface, member, params):
            values = params.unpack()
            if member == "Ready":
                ready.update(values[1])
            elif member == "Error":
                for uri in values[1]:
                    errors[uri] = f"code {values[2]}: {values[3]}"
            if all(uri in ready or uri in errors for uri in uris):
                loop.quit()

        bus.signal_subscribe(THUMBNAILER1, THUMBNAILER1, None,
                             "/org/freedesktop/thumbnails/Thumbnailer1",
                             None, Gio.DBusSignalFlags.NONE, on_signal)
        call("Queue", GLib.Variant("(asasssu)", (uris, mimes, "normal",
                                                "default", 0)))
        GLib.timeout_add_seconds(30, loop.quit)
        loop.run()
    finally:
        daemon.terminate()
        daemon.wait()

    log = log_path.read_text()
    thumbnailer = str(prefix / "bin/vignettes-thumbnailer")
    for name, width, height in samples:
        uri = facts[name][0]
        if uri in errors:
            check(False, f"tumbler's Error for {uri}: {errors[uri]}")
            continue
        if not check(uri in ready, f"no Ready nor Error for {uri} in 30 s"):
            continue
        # Another of tumbler's thumbnailers may claim the type one day: the
        # test is about ours.
        check(any(thumbnailer in line and uri in line
                  for line in log.splitlines()),
              f"tumblerd's log does not show {thumbnailer} run for {uri}")
        entry = entry_path("normal", uri)
        if check(entry.is_file(), f"Ready, but no {entry}"):
            problem = fit_problem(GdkPixbuf.Pixbuf.new_from_file(str(entry)),
                                  128, width, height)
            check(not problem, f"tumbler's {name}: {problem}")
    if FAILURES:
        # From the first request on: the plugins' long lists of types before
        # it tell nothing here.
        start = log.find("Handling request")
        print("tumblerd's log:\n" + log[start if start >= 0 else 0:],
              flush=True)


PARTS = {"factory": part_factory, "cache": part_cache,
         "killed": part_killed, "tumbler": part_tumbler}


def tumblerd():
    found = sorted(Path("/usr/lib").glob("*/tumbler-1/tumblerd"))
    return str(found[0]) if found else ""


def run_part(name, prefix, pictures, work):
    PARTS[name](Path(prefix), Path(pictures), Path(work))
    return 1 if FAILURES else 0


# --- the driver --------------------------------------------------------------
def install(cmake, build, prefix):
    """cmake --install of the Runtime component; the build tree's manifest
    of that component (what a real install wrote) is kept as it was."""
    manifest = build / "install_manifest_Runtime.txt"
    saved = manifest.read_bytes() if manifest.exists() else None
    try:
        subprocess.run([cmake, "--install", str(build), "--prefix",
                        str(prefix), "--component", "Runtime"],
                       check=True, stdout=subprocess.DEVNULL)
    finally:
        if saved is None:
            manifest.unlink(missing_ok=True)
        else:
            manifest.write_bytes(saved)


def start_part(name, prefix, pictures, work):
    """Runs a part in a process group of its own, killed with everything it
    started once it ends; returns its exit status."""
    home = work / name
    for sub in ("cache", "home"):
        (home / sub).mkdir(parents=True)
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("XDG_") and k != "DBUS_SESSION_BUS_ADDRESS"}
    env.update(XDG_DATA_DIRS=f"{prefix}/share:/usr/share",
               XDG_CACHE_HOME=str(home / "cache"), HOME=str(home / "home"))
    if name == "factory":
        # LeakSanitizer stops a sanitizer build's program at its exit with
        # status 1 where it may not ptrace, as in the factory's sandbox.
        env["ASAN_OPTIONS"] = ":".join(
            filter(None, (env.get("ASAN_OPTIONS"), "detect_leaks=0")))
    command = [sys.executable, os.path.abspath(__file__), "--part", name,
               str(prefix), str(pictures), str(home)]
    if name == "tumbler":
        command = ["dbus-run-session", "--", *command]
    part = subprocess.Popen(command, env=env, start_new_session=True)
    try:
        return part.wait(timeout=150)
    finally:
        try:
            os.killpg(part.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        part.wait()


def why_part_cannot_run(name, prefix):
    if name == "tumbler":
        if not tumblerd():
            return "tumblerd not installed (tumbler)"
        if not shutil.which("dbus-run-session"):
            return "dbus-run-session not installed (dbus)"
    if name in ("cache", "killed"):
        usage = subprocess.run([str(prefix / "bin/vignettes"), "--help"],
                               capture_output=True, text=True, check=False)
        if "--cache" not in usage.stdout:
            return "vignettes --help lists no --cache"
    return ""


def main():
    if sys.argv[1] == "--part":
        return run_part(*sys.argv[2:6])
    cmake, build, pictures = sys.argv[1], Path(sys.argv[2]), sys.argv[3]
    if GI_PROBLEM:
        print(f"GNOME's thumbnail factory cannot be loaded ({GI_PROBLEM}): "
              "install python3-gi and gir1.2-gnomedesktop-3.0")
        return SKIP
    try:
        prefix = Path(tempfile.mkdtemp(prefix="vg-desktop-test.",
                                       dir="/usr/local"))
    except OSError as e:
        print(f"cannot make a folder below /usr/local: {e.strerror}")
        return SKIP
    # Killed by SIGTERM (a timeout, a cancelled job), it still removes the
    # prefix.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    work = Path(tempfile.mkdtemp(prefix="vg-desktop-test."))
    try:
        prefix.chmod(0o755)  # as /usr/local itself: the sandbox reads it
        try:
            install(cmake, build, prefix)
        except subprocess.CalledProcessError:
            print("FAIL: cmake --install of the Runtime component")
            return 1
        statuses = []
        for name in PARTS:
            why = why_part_cannot_run(name, prefix)
            started = time.monotonic()
            status = SKIP if why else start_part(name, prefix, pictures, work)
            word = {0: "PASS", SKIP: "SKIP"}.get(status, "FAIL")
            print(f"{word} {name} ({time.monotonic() - started:.1f} s)"
                  + (f": {why}" if why else ""), flush=True)
            statuses.append(status)
    finally:
        shutil.rmtree(prefix, ignore_errors=True)
        shutil.rmtree(work, ignore_errors=True)
    if any(s not in (0, SKIP) for s in statuses):
        return 1
    return SKIP if SKIP in statuses else 0


if __name__ == "__main__":
    sys.exit(main())
