"""The cohort's statistics page, OUT/cohort/index.html, from what shapestats
and colorsnap wrote: where the heads changed from the first to the latest
visit, as they are and beyond growth (for each, the summary shapestats
printed, pictures of the mean change and of the significant cells), how the first visits vary (each mode's share of the
variance and its picture) and every subject's distance from the reference
group with its percentile. One self-contained page: style inline, pictures as
data: URIs, no script, nothing fetched; numbers rounded for reading, the exact
ones in the tools' files beside it.

    cohortpage.py OUT/cohort/index.html CHANGE MODES SUBJECT... (run in OUT)

CHANGE and MODES are empty where the change and the modes were made, else
the line that says why the cohort left them out, which the page shows in
their place. A subject's distance is read from OUT/SUBJECT/score/score.tsv
where that exists; a file that cannot be read raises an error, which fails
the job."""

import base64
import html
import math
import os
import sys
import urllib.parse

STYLE = """
:root { color-scheme: light; }
body { font-family: system-ui, -apple-system, "Segoe UI", Roboto, Helvetica, Arial, sans-serif; color: #1d232b;
  margin: 0 auto; max-width: 62rem; padding: 1rem; line-height: 1.45; }
h1 { font-size: 1.6rem; margin: 0.2rem 0; }
h2 { font-size: 1.25rem; margin: 1.6rem 0 0.6rem; border-bottom: 1px solid #c9d0d8; break-after: avoid; }
h3 { font-size: 1.05rem; margin: 1rem 0 0.4rem; break-after: avoid; }
table { border-collapse: collapse; font-size: 0.9rem; width: 100%; margin: 0.4rem 0; }
th, td { border: 1px solid #c9d0d8; padding: 0.25rem 0.45rem; text-align: left; }
thead th { background: #eef1f4; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
ul.printed { font-family: ui-monospace, monospace; font-size: 0.85rem; overflow-wrap: anywhere; }
.note { font-size: 0.85rem; color: #39424c; }
figure { margin: 0 0 1.2rem; break-inside: avoid; }
figure img { display: block; box-sizing: border-box; width: 100%; height: auto; border: 1px solid #c9d0d8; }
figcaption { font-size: 0.9rem; color: #39424c; margin-top: 0.3rem; }
@page { size: A4; margin: 12mm; }
@media print { body { max-width: none; padding: 0; font-size: 10pt; } table { font-size: 9pt; } }
@media (max-width: 40rem) { body { padding: 0.6rem; } h1 { font-size: 1.3rem; } table { font-size: 0.8rem; } }
"""


def rounded(text, decimals):
    """A number a tool wrote, rounded for reading (never "-0"); "infinite"
    for an infinite one."""
    value = float(text)
    if math.isinf(value):
        return "infinite"
    shown = "%.*f" % (decimals, value)
    return shown[1:] if shown.startswith("-") and float(shown) == 0 else shown


def read_table(path):
    """A tab-separated table as its header and rows."""
    with open(path, encoding="utf-8") as f:
        lines = [line.split("\t") for line in f.read().splitlines() if line]
    if not lines:
        raise ValueError("%s is empty" % path)
    return lines[0], lines[1:]


def figure(png, title, caption):
    with open(png, "rb") as f:
        data = base64.b64encode(f.read()).decode("ascii")
    return ('<figure>\n<h3>%s</h3>\n<img alt="%s" width="1200" height="800" src="data:image/png;base64,%s">\n'
            "<figcaption>%s</figcaption>\n</figure>\n" % (html.escape(title), html.escape(title), data,
                                                          html.escape(caption)))


def table(identifier, headings, rows):
    """An HTML table; the cells are HTML already, numbers right-aligned."""
    head = "".join("<th>%s</th>" % h for h in headings)
    body = "".join("<tr>%s</tr>\n" % "".join(
        '<td class="n">%s</td>' % cell if k else "<th scope=\"row\">%s</th>" % cell for k, cell in enumerate(row))
        for row in rows)
    return '<table id="%s">\n<thead><tr>%s</tr></thead>\n<tbody>\n%s</tbody>\n</table>\n' % (identifier, head, body)


def left_out_section(title, why):
    return "<section>\n<h2>%s</h2>\n<p class=\"note\">%s.</p>\n</section>\n" % (title, html.escape(why))


# The two change maps: their folder, title, the question each answers, and
# what their mean change shows.
CHANGES = [
    ("change", "Change from the first to the latest visit",
     "Where did the heads change between the visits? Growth included: every head that grew moves outward "
     "everywhere, so this map mostly shows that children grow.",
     "positive where heads grew outward"),
    ("change_beyond_growth", "Change beyond growth",
     "Where did the shape change beyond growth? Each latest visit is first scaled and moved onto its first "
     "visit's size and place (by a fit that a local change does not sway), so what is left is the change of "
     "shape: a flattening rounding out, an asymmetry correcting.",
     "positive where a head came out further than its growth took it"),
]


def change_section(left_out, folder, title, question, outward):
    if left_out:
        return left_out_section(title, left_out)
    with open("cohort/%s/summary.txt" % folder, encoding="utf-8") as f:
        printed = [line for line in f.read().splitlines() if line]
    return ("<section>\n<h2>%s</h2>\n<p class=\"question\">%s</p>\n"
            "<p>Per cell of the template, each subject's change along the first visit's surface normal "
            "(positive outward), tested over the cohort with a paired t-test and false-discovery-rate "
            "q-values; <code>shapestats change</code> printed:</p>\n<ul class=\"printed\">\n%s</ul>\n%s%s"
            '<p class="note">The maps are painted on the mean of the first visits; the exact values are in '
            "<code>%s/</code> beside this page.</p>\n</section>\n") % (
        title, html.escape(question), "".join("<li>%s</li>\n" % html.escape(line) for line in printed),
        figure("cohort/%s/change_mean.png" % folder, "Mean change (mm)",
               "The mean change of each cell over the subjects, in mm: %s." % outward),
        figure("cohort/%s/change_significant.png" % folder, "Significant cells",
               "1 where the change is significant (q below 0.05), else 0."), folder)


def modes_section(left_out):
    if left_out:
        return left_out_section("How the first visits vary", left_out)
    header, rows = read_table("cohort/modes/modes.tsv")
    column = {name: k for k, name in enumerate(header)}
    shown = [[row[column["mode"]], rounded(float(row[column["share"]]) * 100, 1),
              rounded(row[column["variance"]], 1)] for row in rows]
    pictures = "".join(figure("cohort/modes/mode%s.png" % row[column["mode"]], "Mode %s" % row[column["mode"]],
                              "How far each cell moves per standard deviation of mode %s (mm)." % row[column["mode"]])
                       for row in rows)
    return ("<section>\n<h2>How the first visits vary</h2>\n<p>The principal modes of the first visits' shapes "
            "(<code>shapestats modes</code>): each mode's share of the variation between the heads.</p>\n%s%s"
            "</section>\n") % (table("modes", ["Mode", "Share of the variance (%)", "Variance (mm²)"], shown),
                               pictures)


def subject_link(subject):
    """A link to the subject's page, its folder's name escaped for a URL."""
    return '<a href="../%s/report.html">%s</a>' % (html.escape(urllib.parse.quote(subject)), html.escape(subject))


def subject_row(subject):
    path = "%s/score/score.tsv" % subject
    if not os.path.isfile(path):
        return [subject_link(subject), "", ""]
    header, rows = read_table(path)
    if header != ["file", "distance", "percentile"] or len(rows) != 1:
        raise ValueError("%s is not a score table of one row" % path)
    return [subject_link(subject), rounded(rows[0][1], 1), rounded(rows[0][2], 0)]


def subjects_section(subjects):
    if not any(os.path.isfile("%s/score/score.tsv" % s) for s in subjects):
        return ("<section>\n<h2>Every subject against the reference group</h2>\n<p>No subject is scored: "
                "without a reference list the cohort needs at least 4 subjects, each scored against the "
                "others. The subjects' pages:</p>\n<ul>\n%s</ul>\n</section>\n") % "".join(
            "<li>%s</li>\n" % subject_link(s) for s in subjects)
    return ("<section>\n<h2>Every subject against the reference group</h2>\n<p>The first visit of each subject "
            "scored by <code>shapestats score</code> against the reference group (the other subjects' first "
            "visits, unless a reference list was given): its Mahalanobis distance from the group's mean shape in "
            "standard deviations, and its percentile among the group's own members (50 typical, near 100 "
            "unusual). Each subject's page shows its z-score map.</p>\n%s</section>\n") % table(
        "subjects", ["Subject", "Distance", "Percentile"], [subject_row(s) for s in subjects])


def page(left_out, subjects):
    title = "Cohort statistics: %d subject%s" % (len(subjects), "" if len(subjects) == 1 else "s")
    return ('<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
            '<meta name="viewport" content="width=device-width, initial-scale=1">\n<title>%s</title>\n'
            "<style>%s</style>\n</head>\n<body>\n<h1>%s</h1>\n%s%s%s</body>\n</html>\n") % (
        title, STYLE, title, "".join(change_section(left_out[0], *change) for change in CHANGES),
        modes_section(left_out[1]), subjects_section(subjects))


def main(arguments):
    if len(arguments) < 4:
        print("Usage: cohortpage.py OUT/cohort/index.html CHANGE MODES SUBJECT...")
        return 255
    text = page(arguments[1:3], arguments[3:])
    with open(arguments[0], "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
