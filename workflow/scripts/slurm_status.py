#!/usr/bin/env python3
"""The cohort workflow's cluster status command on Slurm (the Slurm profile's
cluster-status):

    slurm_status.py JOBID

prints one line, "running", "success" or "failed", for the Slurm job JOBID
(sbatch --parsable's answer, "ID" or "ID;CLUSTER"), as Snakemake's cluster
status expects. A job that Slurm ended other than COMPLETED (a time limit,
memory, a cancel, a node failure, pre-emption) is "failed", and so is a
pending job that can never start (it asks for more than the partition's
nodes have): that one is cancelled. Why a job failed, and where its Slurm
output is, goes to the error output, which Snakemake shows.

Works without accounting storage: the job is read with scontrol, which knows
a job until MinJobAge seconds after its end, then with sacct where the
cluster keeps accounts. A job that neither knows has ended unseen and is
"failed"; when the controller cannot be reached, the job is "running" (it
is asked again).
"""

import subprocess
import sys

# States of a job that has not ended yet; COMPLETED is the one success, every
# other state a failure.
WAITING = {"PENDING", "CONFIGURING", "RUNNING", "COMPLETING", "SUSPENDED", "REQUEUED", "REQUEUE_FED",
           "REQUEUE_HOLD", "RESIZING", "SIGNALING", "STAGE_OUT", "STOPPED", "RESV_DEL_HOLD"}
# Reasons Slurm gives a pending job whose request no node of its partition
# can meet, or that its account or QOS will never allow. (A node that is
# down or drained, ReqNodeNotAvail, is waited for: it may come back.)
NEVER_STARTS = {"PartitionConfig", "PartitionNodeLimit", "PartitionTimeLimit", "BadConstraints",
                "InvalidAccount", "InvalidQOS", "DependencyNeverSatisfied"}


def run(command):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)


def from_scontrol(job):
    # The job's fields (JobState, Reason, JobName, StdOut...), {} when Slurm
    # no longer knows it, None when the controller gave no answer.
    answer = run(["scontrol", "show", "job", "--oneliner", job])
    if answer.returncode != 0:
        return {} if "Invalid job id" in answer.stderr else None
    fields = {}
    for item in answer.stdout.split():
        key, _, value = item.partition("=")
        fields.setdefault(key, value)
    return fields


def from_sacct(job):
    # The job's state as accounting keeps it, {} without accounting.
    try:
        answer = run(["sacct", "--noheader", "--parsable2", "--allocations", "--jobs", job,
                      "--format", "State,Reason,JobName"])
    except OSError:
        return {}
    lines = answer.stdout.split("\n") if answer.returncode == 0 else []
    if not lines or "|" not in lines[0]:
        return {}
    state, reason, name = (lines[0].split("|") + ["", "", ""])[:3]
    # sacct writes a cancel as "CANCELLED by UID".
    return {"JobState": state.split()[0], "Reason": reason, "JobName": name}


def status(job):
    # The job's status word, and what to say about it on the error output.
    fields = from_scontrol(job)
    if fields is None:
        return "running", "Slurm's controller did not answer about job %s; asking again" % job
    if not fields:
        fields = from_sacct(job)
    if not fields:
        return "failed", "Slurm knows no job %s (it ended unseen over MinJobAge ago, or was never queued)" % job
    state, reason = fields.get("JobState", ""), fields.get("Reason", "None")
    named = "Slurm job %s (%s)" % (job, fields.get("JobName", "?"))
    output = "; its output: %s" % fields["StdOut"] if fields.get("StdOut") else ""
    if state == "COMPLETED":
        return "success", None
    if state == "PENDING" and reason in NEVER_STARTS:
        run(["scancel", job])
        return "failed", ("%s can never start (%s: it asks for %s CPUs per task, memory %s, time %s, more than the "
                          "partition's nodes or limits allow); cancelled" %
                          (named, reason, fields.get("CPUs/Task", "?"), fields.get("MinMemoryNode", "?"),
                           fields.get("TimeLimit", "?")))
    if state in WAITING:
        return "running", None
    return "failed", "%s ended %s (reason %s)%s" % (named, state, reason, output)


def main():
    if len(sys.argv) != 2:
        sys.exit("Usage: slurm_status.py JOBID")
    word, message = status(sys.argv[1].split(";")[0])
    if message:
        print(message, file=sys.stderr)
    print(word)


if __name__ == "__main__":
    main()
