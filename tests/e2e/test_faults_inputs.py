"""Inputs damaged on the way or made to harm: launcher files cut short,
LZMA streams that cannot be decoded, archive entries that lead out of their
destination, and names that another local user plants in a perm_all master
folder. Each run ends with a clear record (a non-zero status where it cannot
go on) within the deadline, puts nothing damaged under a final name, writes
nothing outside its folders, leaves what was installed before intact, and the
next run of a good launcher file completes."""

import os
import pwd
import shutil
import time

import faults
import harness
import installs
from faults import FaultTest, entry
from installs import read, write

GU, JRE, APP = installs.gu_folder, installs.jre_folder, installs.app_folder
FIRST = installs.FIRST_FOLDERS
PERM_ALL = ["--install-type", "perm_all"]
OPT_MASTER = "/opt/Velmoran-TestApp"  # the perm_all master folder as the runs see it

# The launcher file's fixed sizes: the Tail marker, the Params marker (and its
# reversed copy at the end) and the Params area between them.
TAIL_MARKER, PARAMS_MARKER, PARAMS_AREA = 128, 64, 204800
HEADER_FIELDS = 11

LZMA_ERROR = "[ExtractArchiveFile] The LZMA data could not be decoded: "
BAD_SIGNATURE = "[ExtractArchive] ERROR - unable to verify signature of hash of archive."
NO_PARAMS = "Could not find marker: Params"


class Layout:
    """Where the sections of a launcher file that velmoran-pack made lie, found in its bytes."""

    def __init__(self, data):
        self.data = data
        stub = read(harness.LAUNCHER)
        assert data.startswith(stub), "the file does not start with the launcher program"
        self.tail = len(stub)
        self.params = data.index(data[-PARAMS_MARKER:][::-1])  # the file ends with the Params marker reversed
        self.area = self.params + PARAMS_MARKER
        self.end_marker = self.area + PARAMS_AREA
        assert self.end_marker + PARAMS_MARKER == len(data), "the Params section is not at the end"
        self.fields = [self.tail + TAIL_MARKER]  # where each header field starts
        for _ in range(HEADER_FIELDS):
            self.fields.append(data.index(b"\0", self.fields[-1]) + 1)
        self.entries = {}  # path: (where its header starts, where its data starts, its length)
        at = self.fields[-1]
        while at < self.params:  # every tail entry is a file: type, path, length, data
            start = at
            _, at = self._field(at)
            path, at = self._field(at)
            length, at = self._field(at)
            self.entries[path.decode()] = (start, at, int(length))
            at += int(length)
        assert at == self.params, "the entries do not end at the Params marker"

    def _field(self, at):
        end = self.data.index(b"\0", at)
        return self.data[at:end], end + 1

    def entry(self, prefix):
        """The entry whose path starts with prefix: (header, data, length)."""
        (found,) = [e for path, e in self.entries.items() if path.startswith(prefix)]
        return found

    def section(self):
        """The whole Params section: marker, area and end marker."""
        return self.data[self.params:]


def tree(folder):
    """Every entry below folder but the log files, with the bytes of each file."""
    found = {}
    for parent, folders, files in os.walk(folder):
        relative = os.path.relpath(parent, folder)
        if relative == "logs":
            continue
        for name in folders:
            found[os.path.join(relative, name)] = None
        for name in files:
            path = os.path.join(parent, name)
            found[os.path.join(relative, name)] = os.readlink(path) if os.path.islink(path) else read(path)
    return found


def without_final_names(folders):
    return [f for f in folders if not f.endswith("-complete")]


class InputFaultTest(FaultTest):

    def setUp(self):
        super().setUp()
        self.files = self.builder  # launcher files built once, in the first sandbox, for every row

    def launch(self, launcher, *args, status=0, **options):
        """A run that must end within the deadline; with status None any status but a signal's
        is taken, and kept in run.status."""
        if status is not None:
            return super().launch(launcher, *args, status=status, timeout=faults.DEADLINE, **options)
        self.runs += 1
        java_log = os.path.join(self.sandbox.root, f"java-{self.runs}.log")
        proc = self.sandbox.run(launcher, *args, env={"VELMORAN_FAKE_JAVA_LOG": java_log}, timeout=faults.DEADLINE,
                                **options)
        self.assertIn(proc.returncode, range(0, 126), proc.stdout + proc.stderr)
        run = installs.Run(proc, java_log)
        run.status = proc.returncode
        return run

    def assertIntact(self, before, master):
        """Everything of before is still there, unchanged."""
        after = tree(master)
        changed = sorted(path for path, data in before.items() if after.get(path, "gone") != data)
        self.assertEqual(changed, [], "what was installed before changed")

    def assertGoodRunCompletes(self, launcher, master, gu=6, jre=18, app=8, inside=None):
        """A good launcher file after the damaged one: its pieces are installed, no temporary
        folder is left, and its updater starts through its JRE (inside: master as the run sees it)."""
        run = self.launch(launcher)
        for folder in (GU(gu), JRE(jre), APP(app)):
            self.assertIn(folder, installs.folders(master))
        self.assertEqual(without_final_names(installs.folders(master)), FIRST)
        inside = inside or self.sandbox.inside(master)
        self.assertEqual(len(run.starts), 1, run.stdout)
        self.assertEqual(run.starts[0][0], os.path.join(inside, JRE(jre), "bin", "TestApp"))
        self.assertIn(os.path.join(inside, GU(gu), "lib", "updater.jar"), run.starts[0])


class DamagedLauncherFiles(InputFaultTest):

    def test_a_launcher_file_cut_short(self):
        good = self.files.launcher("good.bin")
        newer = self.files.launcher("newer.bin", gu_version=6, jre_version=18, app_version=8)
        L, N = Layout(read(good)), Layout(read(newer))
        cut = "[Extractor] The launcher file {} is cut short or damaged: "
        no_end = cut + "no end marker after its Params section; refusing to run it"
        header = cut + "its tail header does not end before its Params section; refusing to run it"
        missing = cut + "its tail ends where an entry should start; refusing to install from it"

        def cut_path(layout, entry, at):
            # The entry's type field, then as much of its path as the cut leaves.
            path = layout.data[entry[0]:entry[0] + at].split(b"\0")[1].decode()
            return f"[ExtractArchiveFile] The archive ends inside the header of the entry {path}; nothing more is " \
                   "extracted"


        lzma64, jre, app_version = L.entry("lzma64"), L.entry("Velmoran-TestJRE-"), L.entry("Velmoran-TestApp-v")
        updater = N.entry("Velmoran-Velmoran-0")
        # name, the file (N over an install of good), where it is cut, a whole Params section
        # after the cut, the record, the final names of the pieces whole before the cut
        cases = [
            ("inside the Tail marker", L, L.tail + TAIL_MARKER // 2, False, NO_PARAMS, []),
            ("inside the tail header", L, L.fields[5] + 3, False, NO_PARAMS, []),
            ("inside the JRE's data", L, jre[1] + jre[2] // 2, False, NO_PARAMS, []),
            ("inside the Params marker", L, L.params + PARAMS_MARKER // 2, False, NO_PARAMS, []),
            ("right after the Params marker", N, N.area, False, no_end, []),
            ("inside the Params area", L, L.area + PARAMS_AREA // 2, False, no_end, []),
            ("inside the end marker", N, len(N.data) - 1, False, no_end, []),
            ("restamped, inside the tail header", L, L.fields[5] + 3, True, header, []),
            ("restamped, inside the Update URL", N, N.fields[-1] - 2, True, header, []),
            ("restamped, inside the lzma64 entry's header", L, lzma64[0] + 5, True, cut_path(L, lzma64, 5), []),
            ("restamped, inside the lzma64 entry's data", N, N.entry("lzma64")[1] + 100, True,
             f"[ExtractArchiveFile] The archive ends after 100 of the {lzma64[2]} bytes of lzma64; "
             "nothing more is extracted", []),
            ("restamped, inside the updater archive", N, updater[1] + updater[2] // 2, True,
             LZMA_ERROR + "the compressed data ends early", []),
            ("restamped, where the JRE's entry starts", L, jre[0], True, missing, [GU(5)]),
            ("restamped, inside the JRE's entry header", L, jre[0] + 20, True, cut_path(L, jre, 20), [GU(5)]),
            ("restamped, inside the application's version file", L, app_version[1] + 5, True,
             "[ExtractArchiveFile] The archive ends after 5 of the 11 bytes of Velmoran-TestApp-version.txt; "
             "nothing more is extracted", [GU(5), JRE(17)]),
        ]
        for name, layout, at, restamped, record, whole in cases:
            with self.subTest(name):
                self.fresh_sandbox()
                over_install = layout is N
                if over_install:
                    self.launch(good)
                before = tree(self.master)
                damaged = os.path.join(self.sandbox.work, "damaged.bin")
                write(damaged, layout.data[:at] + (layout.section() if restamped else b""), 0o755)
                run = self.launch(damaged, status=1)
                # The last records, error banners included, give the reason.
                self.assertIn(record.format(damaged), run.records[-6:], run.stdout)
                self.assertEqual(run.starts, [])
                self.assertIntact(before, self.master)
                finals = [f for f in self.folders() if f.endswith("-complete")]
                installed = [GU(5), JRE(17), APP(7)] if over_install else []
                self.assertEqual(finals, sorted(installed + whole))
                self.assertNoTemporaryFolders()
                self.assertGoodRunCompletes(newer, self.master)

    def test_an_lzma_stream_that_cannot_be_decoded(self):
        good = self.files.launcher("good.bin")
        newer = self.files.launcher("newer.bin", gu_version=6, jre_version=18, app_version=8)
        # What the damaged run did install is older than this, so nothing is extracted twice.
        newest = self.files.launcher("newest.bin", gu_version=7, jre_version=19, app_version=9)

        def flip_middle(data, start, length):
            middle = start + length // 2
            return data[:middle] + bytes(b ^ 0x55 for b in data[middle:middle + 8]) + data[middle + 8:]

        def flip_first_coder_byte(data, start, length):
            # After the 13-byte header the range coder's first byte is always 0.
            return data[:start + 13] + b"\x80" + data[start + 14:]

        def cut_short(data, start, length):
            # The entry stays whole: its length field counts the shorter stream.
            header = data[:start].rsplit(b"\0", 2)[0] + b"\0"
            return header + b"%d\0" % (length // 2) + data[start:start + length // 2] + data[start + length:]

        # piece: its entry in the newer file, its version folder, what is whole before it, the
        # status when a stream that still decodes is refused by its signature
        pieces = {"updater": ("Velmoran-Velmoran-0", GU(6), [], 1),
                  "JRE": ("Velmoran-TestJRE-", JRE(18), [GU(6)], 1),
                  "application": ("Velmoran-TestApp-0", APP(8), [GU(6), JRE(18)], 0)}
        # piece, damage, over an install
        cases = [(piece, damage, over_install) for piece in pieces
                 for damage, over_install in ((flip_middle, False), (flip_first_coder_byte, False), (cut_short, True))]
        layout = Layout(read(newer))
        for piece, change, over_install in cases:
            prefix, folder, whole, refused_status = pieces[piece]
            with self.subTest(piece=piece, damage=change.__name__, over_install=over_install):
                self.fresh_sandbox()
                if over_install:
                    self.launch(good)
                before = tree(self.master)
                _, start, length = layout.entry(prefix)
                damaged = os.path.join(self.sandbox.work, "damaged.bin")
                write(damaged, change(layout.data, start, length), 0o755)
                run = self.launch(damaged, status=None)
                decoded = not any(r.startswith(LZMA_ERROR) for r in run.records)
                # Bytes flipped in the middle may still decode; the signature refuses them then.
                self.assertTrue(not decoded or change is flip_middle, run.stdout)
                if decoded:
                    self.assertIn(BAD_SIGNATURE, run.records)
                    self.assertEqual(run.status, refused_status, run.stdout)
                else:
                    self.assertEqual(run.records[-2], "[ExtractArchiveFile] The archive could not be read on where "
                                                      "its next entry starts; nothing more is extracted")
                    self.assertEqual(run.status, 1)
                self.assertNotIn(folder, self.folders())
                self.assertIntact(before, self.master)
                self.assertNoTemporaryFolders()
                installed = [GU(5), JRE(17), APP(7)] if over_install else []
                self.assertEqual([f for f in self.folders() if f.endswith("-complete")], sorted(installed + whole))
                self.assertGoodRunCompletes(newest, self.master, 7, 19, 9)


class HostileArchives(InputFaultTest):

    def test_entries_that_lead_out_of_the_destination(self):
        home = pwd.getpwuid(os.getuid()).pw_dir  # the sandbox's home, as the runs see it
        marker = "escaped"
        private_key = installs.key_pair("signing")[0]

        def hostile_archive(name, bad_path, folder, signed):
            """An archive written entry by entry (the builder refuses such paths), after a good
            folder and file, LZMA-compressed; signed by hand with the launcher's key."""
            data = entry("lib") + entry("lib/fine.txt", b"fine")
            data += entry(bad_path) if folder else entry(bad_path, b"written outside")
            if signed:
                unsigned = self.files.path(name + ".unsigned")
                write(unsigned, data)
                signature = harness.pack("sign", "--key", private_key, "--file", unsigned).stdout.strip().encode()
                fields = b"%d\0%s\0" % (len(data), signature)
                data += b"0\0vlArcSpBlock_DigitalSignature1\0%d\0" % len(fields) + fields
            path = self.files.path(name + ".p2.l2")
            write(path, installs.lzma_alone(data))
            return path

        newer = self.files.launcher("newer.bin", gu_version=6, jre_version=18, app_version=8)
        newer_perm_all = self.files.launcher("newer-perm-all.bin", gu_version=6, jre_version=18, app_version=8,
                                             extra=PERM_ALL)
        next_to_the_launcher = self.files.path(marker)
        # name, the piece that carries the entry, its path, a folder entry, perm_all, signed
        cases = [
            ("../../ in the application", "app", f"../../{marker}", False, False, False),
            ("../../../ in the updater", "updater", f"../../../{marker}", False, False, False),
            ("a folder ../../ in the JRE", "jre", f"../../{marker}", True, False, False),
            (".. inside the path", "app", f"lib/../../../{marker}", False, False, False),
            ("absolute, in the home folder", "app", f"{home}/{marker}", False, False, False),
            ("absolute, next to the launcher", "jre", next_to_the_launcher, False, False, False),
            ("perm_all, ../../ to /opt", "app", f"../../{marker}", False, True, False),
            ("perm_all, absolute in /opt", "updater", f"/opt/{marker}", False, True, False),
            ("signed, with the key in the header", "app", f"../../{marker}", False, False, True),
        ]
        for number, (name, piece, bad_path, folder, perm_all, signed) in enumerate(cases):
            with self.subTest(name):
                carried = hostile_archive(f"hostile-{number}", bad_path, folder, signed)
                # Without a key in the header nothing is refused for its signature first.
                launcher = self.files.launcher(f"hostile-{number}.bin", key=signed,
                                               signed_by="signing" if signed else None,
                                               extra=PERM_ALL if perm_all else (), **{piece: carried})
                self.fresh_sandbox()
                master = self.opt_master if perm_all else self.master
                run = self.launch(launcher, status=1)
                self.assertEqual(run.records[-2], f"[ExtractArchiveFile] Refusing the entry {bad_path}: its path "
                                                  "leads outside the destination")
                for root in (self.sandbox.root, self.files.work):
                    self.assertEqual([os.path.join(d, f) for d, folders, files in os.walk(root)
                                      for f in folders + files if f == marker], [])
                self.assertEqual(without_final_names(installs.folders(master)), FIRST)
                self.assertNoTemporaryFolders(master)
                self.assertEqual(run.starts, [])
                self.assertGoodRunCompletes(newer_perm_all if perm_all else newer, master,
                                            inside=OPT_MASTER if perm_all else None)

    def test_a_tail_entry_that_leads_out_of_the_destination(self):
        layout = Layout(read(self.files.launcher("unsigned.bin", key=False, signed_by=None)))
        # No offset is stored, so the entry's path can change length.
        header = layout.entries["nativesplash.png"][0]
        launcher = os.path.join(self.sandbox.work, "hostile.bin")
        write(launcher, layout.data[:header] + layout.data[header:].replace(b"nativesplash.png", b"../../escaped.png", 1),
              0o755)
        run = self.launch(launcher, status=1)
        self.assertEqual(run.records[-2], "[ExtractArchiveFile] Refusing the entry ../../escaped.png: its path leads "
                                          "outside the destination")
        self.assertEqual([os.path.join(d, f) for d, _, files in os.walk(self.sandbox.root) for f in files
                          if f == "escaped.png"], [])
        self.assertEqual(self.folders(), FIRST)
        self.assertGoodRunCompletes(self.files.launcher("good.bin"), self.master, 5, 17, 7)


class PlantedNames(InputFaultTest):
    """Another local user plants links and FIFOs in a perm_all master folder (mode 777) at the
    names a run will write: the log file's and the launch properties file's."""

    WINDOW = 30  # seconds of names planted from just before the run
    # Tens of thousands of names are made and removed much faster in memory than on a disk.
    MEMORY = "/dev/shm"

    def setUp(self):
        super().setUp()
        self.fresh_sandbox(parent=self.MEMORY if os.access(self.MEMORY, os.W_OK) else None)
        self.launcher = self.files.launcher("app.bin", extra=PERM_ALL)
        self.launch(self.launcher)
        self.victim = os.path.join(self.sandbox.root, "victim")
        write(self.victim, "another user's file")
        self.victim_folder = os.path.join(self.sandbox.root, "victim-folder")
        os.makedirs(self.victim_folder)
        self.planted = []

    def plant(self, kind, path):
        """A link to the victim (every other one dangling, to a file that does not exist) or a FIFO."""
        if os.path.lexists(path):
            return
        if kind == "fifo":
            os.mkfifo(path)
        else:
            os.symlink(self.victim if len(self.planted) % 2 else self.victim + ".new", path)
        self.planted.append(path)

    def plant_log_names(self, kind):
        logs = os.path.join(self.opt_master, "logs")
        now = int(time.time())
        for second in range(now - 1, now + self.WINDOW):
            stamp = time.strftime("%Y-%m-%d-%H-%M-%S", time.localtime(second))
            for ms in range(1000):
                self.plant(kind, os.path.join(logs, f"Wrapper-{stamp}-{ms:03d}.log"))

    def plant_properties_names(self, kind):
        # The name ends with the number of entries in the folder, "." and ".." counted, and so
        # with the planted names.
        folder = os.path.join(self.opt_master, GU(5))
        count = len(os.listdir(folder)) + 2 + (self.WINDOW + 1) * 1000
        now = int(time.time() * 1000)
        for ms in range(now - 1000, now + self.WINDOW * 1000):
            self.plant(kind, os.path.join(folder, f"VLLaunchProperties-{ms}-{count}"))

    def plant_logs_folder(self, kind):
        logs = os.path.join(self.opt_master, "logs")
        shutil.rmtree(logs)
        os.symlink(self.victim_folder, logs)
        self.planted.append(logs)

    def test_links_and_fifos_at_the_names_a_run_writes(self):
        log_unusable = "[Extractor] Unable to create the log file {} ({}); logging to standard output only"
        # name, how they are planted, status, the records that give the names the run tried, the
        # record for a planted name it met
        cases = [
            ("links at the log file's names", self.plant_log_names, "link", 0, ["[Extractor] Logging to "],
             log_unusable.format("{}", "File exists")),
            ("FIFOs at the log file's names", self.plant_log_names, "fifo", 0, ["[Extractor] Logging to "],
             log_unusable.format("{}", "File exists")),
            ("a link at the logs folder", self.plant_logs_folder, "link", 0, ["[Extractor] Logging to "],
             log_unusable.format("{}", "its folder is a link or not a folder")),
            ("links at the launch properties file's names", self.plant_properties_names, "link", 99,
             ["[Extractor] Writing launch properties to ", "[Retry] Writing launch properties to "],
             "[Extractor] {} exists already"),
            ("FIFOs at the launch properties file's names", self.plant_properties_names, "fifo", 99,
             ["[Extractor] Writing launch properties to ", "[Retry] Writing launch properties to "],
             "[Extractor] {} exists already"),
        ]
        for name, plant, kind, status, naming, record in cases:
            with self.subTest(name):
                self.planted = []
                plant(kind)
                run = self.launch(self.launcher, status=status)
                tried = [r[len(prefix):] for r in run.records for prefix in naming if r.startswith(prefix)]
                if status == 99:
                    self.assertEqual(len(tried), 6, run.stdout)  # the first attempt and five retries
                    self.assertEqual(run.records[-2], "Unable to write Launch Properties file! Cannot run!")
                    self.assertEqual(run.starts, [])
                else:
                    self.assertEqual(len(tried), 1, run.stdout)
                    self.assertStarted(run, master=OPT_MASTER)
                for path in tried:
                    outside = path.replace(OPT_MASTER, self.opt_master, 1)
                    self.assertTrue(outside in self.planted or os.path.dirname(outside) in self.planted,
                                    f"{path} was not planted: the run came after the planted names")
                    self.assertIn(record.format(path), run.records)
                self.assertEqual(read(self.victim), b"another user's file")
                self.assertFalse(os.path.lexists(self.victim + ".new"))
                self.assertEqual(os.listdir(self.victim_folder), [])

                for path in self.planted:
                    os.remove(path)
                os.makedirs(os.path.join(self.opt_master, "logs"), exist_ok=True)
                after = self.launch(self.launcher)
                self.assertStarted(after, master=OPT_MASTER)
                self.assertFalse(any(r.startswith("[Extractor] Unable to create the log file") for r in after.records))


if __name__ == "__main__":
    harness.main()
