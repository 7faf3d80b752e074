"""A cohort's visits for the workflow: read from visits.tsv or from the folder
layout subjects/<id>/first.vtk and final.vtk, checked before any job starts;
and the tables the workflow writes from the tools' results.

read_cohort returns every subject with at least two usable visits and the
lines that report what was left out; nothing here ends the process. The
table writers raise ValueError on a result they cannot read, which fails
that job alone."""

import mmap
import os
import re

# Subject and visit names become folder names of the results.
NAME_PATTERN = r"[A-Za-z0-9][A-Za-z0-9_.-]*"
RESERVED = {"logs"}
SCAN_FORMATS = (".vtk", ".vtp", ".stl", ".ply", ".obj")
VISITS_HEADER = ["subject", "visit", "age_days", "scan", "landmarks"]
FIT_COLUMNS = ["fit_landmark_rms", "fit_landmark_largest", "fit_distance_mean", "fit_unmatched_percent"]


class Visit:
    def __init__(self, name, age, scan, landmarks, line):
        self.name = name
        self.age = age  # whole days, or None where the cohort gives no ages
        self.scan = scan  # relative to the cohort folder
        self.landmarks = landmarks  # relative to the cohort folder; "" for a scan on the template
        self.raw = bool(landmarks)
        self.line = line  # in visits.tsv (0 for the folder layout)


def find(visits, subject, name):
    return next(v for v in visits[subject] if v.name == name)


class MeshCells:
    """The point count and the cells a legacy VTK file declares, read from its
    header lines and its POLYGONS section, to tell whether a scan lies on the
    template's mesh before any job starts. `cells` is the section's text
    (ASCII files), or None where it cannot be read so (binary files: then
    only the counts are compared)."""

    def __init__(self, path):
        self.points = self.polygons = self.cells = None
        try:
            with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as data:
                self._read(data)
        except (OSError, ValueError, IndexError):
            pass

    def _read(self, data):
        at = data.find(b"\nPOINTS ")
        cells_at = data.find(b"\nPOLYGONS ", max(at, 0))
        if at < 0 or cells_at < 0:
            return
        self.points = data[at + 1:data.find(b"\n", at + 1)].split()[1]
        end = data.find(b"\n", cells_at + 1)
        self.polygons = data[cells_at + 1:end].split()[1:3]
        # The section runs to the next keyword line (CELL_DATA, POINT_DATA,
        # ...) or to the end; a binary section is not read as text.
        following = re.compile(rb"\n[A-Z]").search(data, end + 1)
        section = bytes(data[end + 1:following.start() if following else len(data)]).rstrip()
        if re.fullmatch(rb"[0-9\s]*", section[:4096]):
            self.cells = section

    def counts(self):
        return self.points, self.polygons

    def same_cells(self, other):
        """Whether the cells are the same: the same text (as VTK's writer
        writes them), else the same numbers; True where either cannot be read
        as text (the counts decide)."""
        if self.cells is None or other.cells is None or self.cells == other.cells:
            return True
        return self.cells.split()[:int(self.polygons[1])] == other.cells.split()[:int(other.polygons[1])]


def visit_problem(cohort, fields, template):
    """What makes a visits.tsv row unusable, or None."""
    subject, visit, age, scan, landmarks = fields
    if not re.fullmatch(NAME_PATTERN, subject) or not re.fullmatch(NAME_PATTERN, visit) or visit in RESERVED:
        return "the subject and visit names must be letters, digits, '.', '_' or '-' (and the visit not 'logs')"
    if not re.fullmatch(r"[0-9]+", age):
        return "the age '%s' is not a whole number of days" % age
    if not os.path.isfile(os.path.join(cohort, scan)):
        return "the scan %s does not exist" % (scan or "(none given)")
    if landmarks:
        if not scan.lower().endswith(SCAN_FORMATS):
            return "the raw scan %s is not one of %s" % (scan, ", ".join(SCAN_FORMATS))
        if not os.path.isfile(os.path.join(cohort, landmarks)):
            return "the landmarks %s do not exist" % landmarks
        if not os.path.isfile(os.path.join(cohort, "template_landmarks.crv")):
            return "the raw scan needs the cohort's template_landmarks.crv, which does not exist"
        return None
    if not scan.lower().endswith(".vtk"):
        return "the scan %s has no landmarks, so it must lie on the template as a .vtk file" % scan
    mesh = MeshCells(os.path.join(cohort, scan))
    if mesh.counts() != template.counts() or not mesh.same_cells(template):
        return "the scan %s has no landmarks, but its cells differ from the template's" % scan
    return None


def read_visits(cohort, problems):
    template = MeshCells(os.path.join(cohort, "template.vtk"))
    # utf-8-sig: a table saved by a spreadsheet may begin with a byte-order mark.
    with open(os.path.join(cohort, "visits.tsv"), encoding="utf-8-sig", errors="replace") as f:
        lines = f.read().splitlines()
    if not lines or lines[0].split("\t") != VISITS_HEADER:
        problems.append("visits.tsv: the first line must be the header '%s'; no visit read" % "\\t".join(VISITS_HEADER))
        return {}
    visits, refused, seen = {}, set(), set()
    for number, line in enumerate(lines[1:], start=2):
        if not line.strip():
            continue
        fields = line.split("\t")
        subject = fields[0]
        where = "visits.tsv line %d (subject %s" % (number, subject)
        if len(fields) != len(VISITS_HEADER):
            problem = "has %d fields, not %d" % (len(fields), len(VISITS_HEADER))
        else:
            where += ", visit %s" % fields[1]
            problem = visit_problem(cohort, fields, template)
            if problem is None and (subject, fields[1]) in seen:
                problem = "the visit is listed twice"
        if problem:
            problems.append("%s): %s; subject %s left out" % (where, problem, subject))
            refused.add(subject)
            continue
        seen.add((subject, fields[1]))
        visits.setdefault(subject, []).append(Visit(fields[1], int(fields[2]), fields[3], fields[4], number))
    for subject in refused:
        visits.pop(subject, None)
    for subject in visits:
        visits[subject].sort(key=lambda v: (v.age, v.line))
    return visits


def read_folders(cohort, problems):
    visits = {}
    folder = os.path.join(cohort, "subjects")
    for subject in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        if not os.path.isdir(os.path.join(folder, subject)):
            continue
        scans = ["first.vtk", "final.vtk"]
        missing = [scan for scan in scans if not os.path.isfile(os.path.join(folder, subject, scan))]
        if missing:
            problems.append("Subject %s has no %s: left out" % (subject, " and no ".join(missing)))
            continue
        visits[subject] = [Visit(scan[:-4], None, "subjects/%s/%s" % (subject, scan), "", 0) for scan in scans]
    return visits


def read_cohort(cohort):
    """Every subject's usable visits in the order of their ages, and the lines
    that report what was left out."""
    problems = []
    if os.path.isfile(os.path.join(cohort, "visits.tsv")):
        visits = read_visits(cohort, problems)
    else:
        visits = read_folders(cohort, problems)
    for subject in sorted(visits):
        if len(visits[subject]) < 2:
            problems.append("Subject %s has only one usable visit: left out" % subject)
            del visits[subject]
    return visits, problems


def list_names(path):
    """The names of a list file of surfaces, as shapestats reads them (one a
    line, LF or CR LF line ends, blank lines passed over)."""
    with open(path, encoding="utf-8", errors="replace") as f:
        return [line.rstrip("\r") for line in f.read().split("\n") if line.rstrip("\r").strip()]


def shared_folder(a, b):
    return os.path.commonpath([os.path.abspath(os.path.dirname(a)), os.path.abspath(os.path.dirname(b))])


def fit_figures(path):
    """The fit's figures from fittemplate's output, as it printed them, and
    why to check the fit: fittemplate's "Check the fit" line, or ""."""
    with open(path) as f:
        text = f.read()
    residuals = re.search(r"^Landmark residuals after the fit \(mm\): (.*) \(rms (\S+)\)$", text, re.M)
    distance = re.search(r"^Distance from the fitted template points to the scan \(mm\): mean ([^,]+),", text, re.M)
    unmatched = re.search(r"^Template points without a match on the scan: (\S+)%$", text, re.M)
    if not residuals or not distance or not unmatched:
        raise ValueError("%s does not hold the figures of a fit" % path)
    largest = max(residuals.group(1).split(), key=float)
    check = re.search(r"^Check the fit: (.*)$", text, re.M)
    figures = [residuals.group(2), largest, distance.group(1), unmatched.group(1)]
    return figures, ("fit: " + check.group(1) if check else "")


def write_measures(visits, subject, path):
    """measures.tsv: a row per visit, its headshape measures (from
    SUBJECT/VISIT/headshape.tsv) and its fit's figures (from fit.txt)."""
    header, rows = None, []
    for visit in visits:
        with open("%s/%s/headshape.tsv" % (subject, visit.name)) as f:
            table = f.read().splitlines()
        if len(table) != 2:
            raise ValueError("%s/%s/headshape.tsv does not hold one measured scan" % (subject, visit.name))
        header = header or table[0].split("\t")[1:]
        figures, check = ["", "", "", ""], ""
        if visit.raw:
            figures, check = fit_figures("%s/%s/fit.txt" % (subject, visit.name))
        age = "" if visit.age is None else str(visit.age)
        rows.append([subject, visit.name, age, visit.scan] + table[1].split("\t")[1:] + figures + [check])
    with open(path, "w") as f:
        for row in [["subject", "visit", "age_days", "scan"] + header + FIT_COLUMNS + ["check"]] + rows:
            f.write("\t".join(row) + "\n")


def concatenate(tables, path, names=None):
    """The tables as one, their header once; with `names`, a column `subject`
    in front holding each table's name."""
    header, lines = None, []
    for k, table in enumerate(tables):
        with open(table) as f:
            rows = f.read().splitlines()
        header = header or rows[0]
        lines += [(names[k] + "\t" if names else "") + row for row in rows[1:]]
    with open(path, "w") as f:
        f.write(("subject\t" if names else "") + header + "\n")
        f.write("".join(line + "\n" for line in lines))
