# A GenBank text for the tests: `records` records (default 20) of 48 CDS
# features each, their locations over four lines, named by /locus_tag; each
# record about 8.7 KB of text and 5 KB of records.
#   awk -v records=N -f tests/genbank.awk >in.gb
BEGIN {
    if (records == "") records = 20
    for (r = 1; r <= records; r++) {
        printf "LOCUS       REC%02d    9100 bp    DNA     linear\n", r
        print "FEATURES             Location/Qualifiers"
        for (c = 1; c <= 48; c++) {
            printf "     CDS             join(%d..%d,\n", c * 100, c * 100 + 9
            printf "                     %d..%d,\n", c * 100 + 20, c * 100 + 29
            printf "                     %d..%d,\n", c * 100 + 40, c * 100 + 49
            printf "                     %d..%d)\n", c * 100 + 60, c * 100 + 89
            printf "                     /locus_tag=\"R%02d_%03d\"\n", r, c
        }
        print "BASE COUNT     2275 a   2275 c   2275 g   2275 t\nORIGIN\n        1 acgtacgtac\n//"
    }
}
