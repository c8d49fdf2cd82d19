#!/usr/bin/env python3
"""The same extraction as tq5 done with Biopython, for comparing run times.

    biopython_cds.py INPUT.gb OUTPUT

For every CDS feature writes its location and the first /gene, /label,
/locus_tag or /product value, one line each.
"""
import sys

from Bio import SeqIO

NAMING = ("gene", "label", "locus_tag", "product")


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: biopython_cds.py INPUT.gb OUTPUT")
    count = 0
    with open(sys.argv[2], "w") as out:
        for record in SeqIO.parse(sys.argv[1], "genbank"):
            for feature in record.features:
                if feature.type != "CDS":
                    continue
                name = "unknown"
                for key in NAMING:
                    if key in feature.qualifiers:
                        name = feature.qualifiers[key][0]
                        break
                out.write(f"{feature.location}\n{name}\n")
                count += 1
    print(count)


if __name__ == "__main__":
    main()
