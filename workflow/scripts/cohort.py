"""A cohort's visits for the workflow: read from visits.tsv or from the folder
layout subjects/<id>/first.vtk and final.vtk, checked before any job starts;
and the tables the workflow writes from the tools' results.

read_cohort returns every subject with a usable visit and the lines that
report what was left out; nothing here ends the process. The table writers
raise ValueError on a result they cannot read, which fails that job alone.
Run as a script, the workflow's jobs write the tables (run in OUT):

    cohort.py measures SUBJECT/shapes.tsv SUBJECT [VISIT AGE_DAYS SCAN LANDMARKS SEX]...
    cohort.py concatenate OUT_TABLE TABLE...
    cohort.py subjects OUT_TABLE [SUBJECT TABLE]...
    cohort.py growth OUT_TABLE GROWTH_TABLE [SUBJECT FIRST_AGE LATEST_AGE]...
    cohort.py landmarks FIT_TEXT OUT_CURVE

LANDMARKS is the visit's landmark file, empty for a scan on the template,
or FOUND for a raw scan whose landmarks fittemplate finds on it."""

import os
import re
import subprocess
import sys

# Subject and visit names become folder names of the results: letters,
# digits, '.', '_', '-' and spaces, neither first nor last.
NAME_PATTERN = r"[A-Za-z0-9](?:[A-Za-z0-9_. -]*[A-Za-z0-9_.-])?"
RESERVED = {"logs"}
SCAN_FORMATS = (".vtk", ".vtp", ".stl", ".ply", ".obj")
ON_TEMPLATE_FORMATS = (".vtk", ".vtp")
# A scan without landmarks is a raw scan, its landmarks to be found on it,
# when it is of a format that never lies on the template, or when its point
# or cell count is not the template's (onmesh check's difference, as
# surftools/meshcells.h words it); with the template's counts but other
# cells it is an on-template scan gone wrong, and refused.
RAW_ONLY_FORMATS = (".stl", ".ply", ".obj")
OTHER_COUNTS = re.compile(r"it has [0-9]+ (points|cells|vertices, lines or strips), the template [0-9]+")
# The landmarks field of `cohort.py measures` for such a scan.
FOUND = "FOUND"
# The line of fittemplate's output before the rows of the landmarks it found.
FOUND_HEADER = "Landmarks found on the scan (x y z name certainty):"
VISITS_HEADER = ["subject", "visit", "age_days", "scan", "landmarks"]
FIT_COLUMNS = ["fit_landmark_rms", "fit_landmark_largest", "fit_distance_mean", "fit_unmatched_percent"]
# visits.tsv's optional column of the child's sex: the growth standard differs for girls and boys.
SEXES = ("female", "male", "")


class Visit:
    def __init__(self, name, age, scan, landmarks, line, columns=None, found=False):
        self.name = name
        self.age = age  # whole days, or None where the cohort gives no ages
        self.scan = scan  # relative to the cohort folder
        self.landmarks = landmarks  # relative to the cohort folder; "" for a scan on the template or found
        self.found = found  # a raw scan without landmarks: fittemplate finds them
        self.raw = bool(landmarks) or found
        # A scan on the template in another format than legacy VTK, written as
        # one (onmesh write) for the tools.
        self.written = not self.raw and not scan.lower().endswith(".vtk")
        self.line = line  # in visits.tsv (0 for the folder layout)
        self.columns = columns or {}  # visits.tsv's further columns by name, kept (sex is read)
        self.sex = self.columns.get("sex", "")  # female, male, or "" for unknown


def find(visits, subject, name):
    return next(v for v in visits[subject] if v.name == name)


def visit_problem(cohort, fields):
    """What makes a visits.tsv row unusable, or None; the cells of a scan on
    the template are checked apart (mesh_problems)."""
    subject, visit, age, scan, landmarks = fields
    if not re.fullmatch(NAME_PATTERN, subject) or not re.fullmatch(NAME_PATTERN, visit) or visit in RESERVED:
        return ("the subject and visit names must be letters, digits, spaces (neither first nor last), '.', '_' "
                "or '-' (and the visit not 'logs')")
    if not re.fullmatch(r"[0-9]+", age):
        return "the age '%s' is not a whole number of days" % age
    if not os.path.isfile(os.path.join(cohort, scan)):
        return "the scan %s does not exist" % (scan or "(none given)")
    if not scan.lower().endswith(SCAN_FORMATS):
        return "the %sscan %s is not one of %s" % ("raw " if landmarks else "", scan, ", ".join(SCAN_FORMATS))
    if landmarks and not os.path.isfile(os.path.join(cohort, landmarks)):
        return "the landmarks %s do not exist" % landmarks
    return raw_problem(cohort) if landmarks else None


def raw_problem(cohort):
    """What keeps the cohort from fitting a raw scan, or None."""
    if not os.path.isfile(os.path.join(cohort, "template_landmarks.crv")):
        return "the raw scan needs the cohort's template_landmarks.crv, which does not exist"
    return None


def mesh_problems(onmesh, cohort, scans):
    """Why each of the scans (relative to the cohort folder) does not lie on
    the template's mesh, by `onmesh check` in one run: a dict of scan to
    problem, None where it does, FOUND where its counts are not the
    template's (a raw scan)."""
    if not scans:
        return {}
    paths = [os.path.join(cohort, scan) for scan in scans]
    run = subprocess.run([onmesh, "check", os.path.join(cohort, "template.vtk")] + paths,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, encoding="utf-8", errors="replace")
    rows = [row.split("\t") for row in run.stdout.split("\n")[1:-1]]
    if run.returncode != 0 or len(rows) != len(scans) or any(len(row) != 3 for row in rows):
        why = run.stdout.split("\n")[0] or "onmesh ended with exit status %d" % run.returncode
        return {scan: "the template cannot be read (%s)" % why for scan in scans}
    problems = {}
    for scan, (_, cells, why) in zip(scans, rows):
        problems[scan] = (None if cells == "same" else FOUND if cells == "different" and OTHER_COUNTS.fullmatch(why)
                          else "the scan %s has no landmarks, but its cells differ from the template's" % scan
                          if cells == "different" else "the scan %s cannot be read (%s)" % (scan, why))
    return problems


def read_rows(cohort, problems):
    """visits.tsv's header and its rows as (line number, fields), blank lines
    passed over; None after a problem where the header is not the five
    names, with any further columns after them."""
    # utf-8-sig: a table saved by a spreadsheet may begin with a byte-order
    # mark; CR LF line ends are read as LF.
    with open(os.path.join(cohort, "visits.tsv"), encoding="utf-8-sig", errors="replace") as f:
        lines = f.read().split("\n")
    header = lines[0].split("\t") if lines else []
    if header[:len(VISITS_HEADER)] != VISITS_HEADER:
        problems.append("visits.tsv: the first line must be the header '%s', further columns after them; no visit "
                        "read" % "\\t".join(VISITS_HEADER))
        return None, []
    return header, [(number, line.split("\t")) for number, line in enumerate(lines[1:], start=2) if line.strip()]


def read_visits(cohort, problems, onmesh):
    header, rows = read_rows(cohort, problems)
    checked = {}
    for number, fields in rows:
        if len(VISITS_HEADER) <= len(fields) <= len(header):
            checked[number] = visit_problem(cohort, fields[:len(VISITS_HEADER)])
    cells = mesh_problems(onmesh, cohort, sorted({fields[3] for number, fields in rows if number in checked
                                                  and checked[number] is None and not fields[4]
                                                  and fields[3].lower().endswith(ON_TEMPLATE_FORMATS)}))
    visits, refused, seen = {}, set(), set()
    for number, fields in rows:
        subject = fields[0]
        where = "visits.tsv line %d (subject %s" % (number, subject)
        if number not in checked:
            problem = "has %d fields, not %s" % (len(fields), "%d to %d" % (len(VISITS_HEADER), len(header))
                                                  if len(header) > len(VISITS_HEADER) else len(header))
        else:
            where += ", visit %s" % fields[1]
            found = not fields[4] and (fields[3].lower().endswith(RAW_ONLY_FORMATS) or cells.get(fields[3]) == FOUND)
            problem = checked[number] or (raw_problem(cohort) if found else cells.get(fields[3]) if not fields[4]
                                          else None)
            if problem is None and (subject, fields[1]) in seen:
                problem = "the visit is listed twice"
        if problem:
            problems.append("%s): %s; subject %s left out" % (where, problem, subject))
            refused.add(subject)
            continue
        columns = dict(zip(header[len(VISITS_HEADER):], fields[len(VISITS_HEADER):] + [""] * len(header)))
        if columns.get("sex", "") not in SEXES:
            problems.append("%s): the sex '%s' is not female, male or empty; subject %s left out"
                            % (where, columns["sex"], subject))
            refused.add(subject)
            continue
        seen.add((subject, fields[1]))
        visits.setdefault(subject, []).append(Visit(fields[1], int(fields[2]), fields[3], fields[4], number, columns,
                                                    found))
    for subject in sorted(visits):
        # One child, one sex: a visit that leaves it empty takes the others'.
        sexes = sorted({v.sex for v in visits[subject] if v.sex})
        if len(sexes) > 1 and subject not in refused:
            problems.append("visits.tsv (subject %s): its visits give the sexes %s; subject %s left out"
                            % (subject, " and ".join(sexes), subject))
            refused.add(subject)
        for visit in visits[subject]:
            visit.sex = sexes[0] if sexes else ""
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


def read_cohort(cohort, onmesh):
    """Every subject's usable visits in the order of their ages (one or
    more; in the folder layout two), and the lines that report what was left
    out; scans on the template are checked with the tool `onmesh`."""
    problems = []
    if os.path.isfile(os.path.join(cohort, "visits.tsv")):
        visits = read_visits(cohort, problems, onmesh)
    else:
        visits = read_folders(cohort, problems)
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
    """The measures of a subject's visits: a row per visit, its headshape
    measures (from SUBJECT/VISIT/headshape.tsv), its fit's figures (from
    fit.txt) and the child's sex (which hcstandard then reads)."""
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
        rows.append([subject, visit.name, age, visit.scan] + table[1].split("\t")[1:] + figures + [check, visit.sex])
    with open(path, "w") as f:
        for row in [["subject", "visit", "age_days", "scan"] + header + FIT_COLUMNS + ["check", "sex"]] + rows:
            f.write("\t".join(row) + "\n")


def write_found_landmarks(fit_text, path):
    """The landmarks fittemplate found on a scan, from its output (fit.txt),
    as a curve file: their rows' x y z as it printed them, in the scan's
    coordinates and its order (five, or the three on the midline)."""
    with open(fit_text) as f:
        lines = f.read().split("\n")
    start = lines.index(FOUND_HEADER) + 1 if FOUND_HEADER in lines else len(lines)
    rows = []
    for line in lines[start:]:
        if line.startswith("Found by: "):
            break
        rows.append(line.split(" ")[:3] if len(line.split(" ")) == 5 else [])
    if len(rows) not in (3, 5) or not all(rows):
        raise ValueError("%s does not list the landmarks found on a scan" % fit_text)
    with open(path, "w") as f:
        f.writelines(" ".join(row) + "\n" for row in rows)


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


def write_growth(growth_table, subjects, path):
    """cohort_growth.tsv: each subject's growth factor from shapestats
    change ... size (its rows in the subjects' order) and, with both ages,
    the growth per month of age: (factor - 1) / months, in percent."""
    with open(growth_table) as f:
        lines = f.read().splitlines()
    if lines[:1] != ["subject\tgrowth_factor"] or len(lines) != len(subjects) + 1:
        raise ValueError("%s does not hold a growth factor for each of %d subjects" % (growth_table, len(subjects)))
    rows = [["subject", "first_age_days", "latest_age_days", "growth_factor", "growth_percent_per_month"]]
    for (subject, first, latest), line in zip(subjects, lines[1:]):
        factor = line.split("\t")[1]
        months = (int(latest) - int(first)) / 30.4375 if first and latest else 0
        per_month = "%.6g" % (100 * (float(factor) - 1) / months) if months > 0 else ""
        rows.append([subject, first, latest, factor, per_month])
    with open(path, "w") as f:
        f.writelines("\t".join(row) + "\n" for row in rows)


def main(arguments):
    command, rest = (arguments[0], arguments[1:]) if arguments else ("", [])
    if command == "measures" and len(rest) >= 7 and len(rest) % 5 == 2:
        visits = [Visit(rest[k], int(rest[k + 1]) if rest[k + 1] else None, rest[k + 2],
                        "" if rest[k + 3] == FOUND else rest[k + 3], 0, {"sex": rest[k + 4]}, rest[k + 3] == FOUND)
                  for k in range(2, len(rest), 5)]
        write_measures(visits, rest[1], rest[0])
    elif command == "landmarks" and len(rest) == 2:
        write_found_landmarks(rest[0], rest[1])
    elif command == "concatenate" and len(rest) >= 2:
        concatenate(rest[1:], rest[0])
    elif command == "growth" and len(rest) >= 5 and len(rest) % 3 == 2:
        write_growth(rest[1], [rest[k:k + 3] for k in range(2, len(rest), 3)], rest[0])
    elif command == "subjects" and len(rest) >= 3 and len(rest) % 2 == 1:
        concatenate(rest[2::2], rest[0], rest[1::2])
    else:
        print(__doc__[__doc__.index("    cohort.py"):].rstrip())
        return 255
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
