#!/usr/bin/env bash
# properties = {properties}
# The script of a batch job on the cluster (snakemake --jobscript): Snakemake's
# own command for the job, which runs the files of its batch one after another,
# told to go on after a failed file.  Without it the files of the batch after
# a failed one would not run until the next time.  Snakemake fills in the
# names in braces; doubled braces are single ones in the script.
read -r -d '' command <<'END_OF_COMMAND'
{exec_job}
END_OF_COMMAND
eval "${{command/ -m snakemake / -m snakemake --keep-going }}"
