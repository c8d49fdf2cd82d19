// Writes a synthetic GenBank flat file of about the asked size for timing
// tq5: bacterial-like records (a gene every kilobase or so, about one CDS per
// 3 KB of file) with the usual header, a FEATURES table of source, gene, CDS,
// tRNA and misc_feature entries, BASE COUNT, ORIGIN, sequence lines of 60
// bases and "//".  The seed is fixed: the same size gives the same bytes, and
// a smaller size gives a prefix of a larger one's records.
//
//   gen_genbank SIZE_IN_BYTES OUTPUT_FILE
//
// Records are written whole until the file reaches SIZE_IN_BYTES.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct random_bits {
    std::uint64_t state;
    std::uint64_t next() {
        // splitmix64
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // A number in [low, high].
    long in(long low, long high) {
        return low + static_cast<long>(next() % static_cast<std::uint64_t>(high - low + 1));
    }
    bool chance(int percent) { return in(1, 100) <= percent; }
};

struct writer {
    std::FILE* file;
    std::string buffer;
    std::uint64_t written = 0;

    void put(const std::string& text) { buffer += text; }
    void line(const std::string& text) {
        buffer += text;
        buffer += '\n';
    }
    void flush() {
        std::fwrite(buffer.data(), 1, buffer.size(), file);
        written += buffer.size();
        buffer.clear();
    }
};

std::string format(const char* pattern, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

const char* const gene_stems[] = {"dna", "rps", "rpl", "atp", "nuo", "pur", "pyr", "his",
                                  "leu", "trp", "fts", "mur", "sec", "gyr", "rec", "uvr",
                                  "cyo", "sdh", "glt", "pts", "fli", "flg", "che", "mal"};
const char* const products[] = {"DNA polymerase III subunit beta",
                                "30S ribosomal protein S12",
                                "50S ribosomal protein L2",
                                "ATP synthase subunit alpha",
                                "NADH-quinone oxidoreductase subunit N",
                                "phosphoribosylformylglycinamidine synthase",
                                "glutamate synthase large subunit",
                                "histidinol dehydrogenase",
                                "cell division protein FtsZ",
                                "UDP-N-acetylmuramate--L-alanine ligase",
                                "protein translocase subunit SecA",
                                "DNA gyrase subunit B",
                                "excinuclease ABC subunit A",
                                "succinate dehydrogenase flavoprotein subunit",
                                "flagellar motor switch protein FliG",
                                "hypothetical protein",
                                "putative ABC transporter permease",
                                "two-component system sensor histidine kinase"};
const char amino_acids[] = "ACDEFGHIKLMNPQRSTVWY";
const char bases[] = "acgt";

constexpr const char* qualifier_indent = "                     ";

// Writes `/name="value"` wrapped at 79 columns like GenBank does.
void wrapped_qualifier(writer& out, const std::string& name, const std::string& value) {
    std::string text = "/" + name + "=\"" + value + "\"";
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t take = std::min<std::size_t>(58, text.size() - at);
        std::size_t skip = 0;
        if (at + take < text.size()) {
            // Free text breaks at a space, which the line end replaces.
            const std::size_t space = text.rfind(' ', at + take);
            if (space != std::string::npos && space > at) {
                take = space - at;
                skip = 1;
            }
        }
        out.line(qualifier_indent + text.substr(at, take));
        at += take + skip;
    }
}

// Writes a feature line and its location, going on over more lines when the
// location is longer than the 58 columns after the key.
void feature_start(writer& out, const char* key, const std::string& location) {
    std::string first = format("     %-16s", key);
    std::size_t at = 0;
    bool opening = true;
    while (at < location.size()) {
        std::size_t take = location.size() - at;
        if (take > 58) {
            // Break after a comma, as GenBank does.
            const std::size_t comma = location.rfind(',', at + 57);
            take = comma != std::string::npos && comma >= at ? comma + 1 - at : 58;
        }
        out.line((opening ? first : std::string(qualifier_indent)) + location.substr(at, take));
        opening = false;
        at += take;
    }
}

struct gene_plan {
    long start;
    long end;
    bool complement;
};

// A location for the CDS of `gene`: a single range, a join or order of
// several exon-like pieces, complement() around it or not.
std::string cds_location(random_bits& random, const gene_plan& gene) {
    std::string inner;
    const int kind = static_cast<int>(random.in(1, 100));
    if (kind <= 80 || gene.end - gene.start < 400) {
        inner = format("%ld..%ld", gene.start, gene.end);
        if (random.chance(3)) inner = format("<%ld..>%ld", gene.start, gene.end);
    } else {
        const int pieces = static_cast<int>(random.in(2, kind <= 95 ? 4 : 8));
        const long span = (gene.end - gene.start) / pieces;
        inner = kind <= 95 ? "join(" : "order(";
        for (int piece = 0; piece < pieces; ++piece) {
            // Pieces in order, short gaps (introns) between them.
            const long from = gene.start + piece * span + (piece > 0 ? random.in(1, span / 4) : 0);
            const long to = piece + 1 == pieces
                                ? gene.end
                                : gene.start + (piece + 1) * span - random.in(1, span / 4);
            inner += format("%ld..%ld", from, to);
            inner += piece + 1 == pieces ? ")" : ",";
        }
    }
    return gene.complement ? "complement(" + inner + ")" : inner;
}

void write_record(writer& out, random_bits& random, long number) {
    const long length = random.chance(20) ? random.in(2000, 60000) : random.in(200000, 3000000);
    const std::string name = format("NZ_SYN%06ld", number);
    const std::string organism = format("Synthetica bacterium strain %ld", 1000 + number % 97);

    out.line(format("LOCUS       %-16s%12ld bp    DNA     %s BCT 07-DEC-2025", name.c_str(), length,
                    random.chance(50) ? "circular" : "linear  "));
    out.line(format("DEFINITION  %s chromosome, complete genome.", organism.c_str()));
    out.line("ACCESSION   " + name);
    out.line(format("VERSION     %s.1", name.c_str()));
    out.line(format("DBLINK      BioProject: PRJNA%ld", 200000 + number));
    out.line("KEYWORDS    RefSeq.");
    out.line("SOURCE      " + organism);
    out.line("  ORGANISM  " + organism);
    out.line("            Bacteria; Pseudomonadota; Gammaproteobacteria; Enterobacterales;");
    out.line("            Enterobacteriaceae; Synthetica.");
    out.line(format("REFERENCE   1  (bases 1 to %ld)", length));
    out.line("  AUTHORS   Doe,J., Roe,R. and Poe,P.");
    out.line("  TITLE     Complete genome sequence of a synthetic bacterium");
    out.line("  JOURNAL   Unpublished");
    out.line(format("REFERENCE   2  (bases 1 to %ld)", length));
    out.line("  AUTHORS   Doe,J.");
    out.line("  TITLE     Direct Submission");
    out.line("  JOURNAL   Submitted (01-DEC-2025) Institute of Microbiology, Example");
    out.line("            University, 1 Example Road, Example City 12345, Nowhere");
    out.line("COMMENT     PROVISIONAL REFSEQ: This record has not yet been subject to final");
    out.line("            NCBI review. The reference sequence is identical to CP000000.");
    out.line("FEATURES             Location/Qualifiers");
    feature_start(out, "source", format("1..%ld", length));
    out.line(std::string(qualifier_indent) + "/organism=\"" + organism + "\"");
    out.line(std::string(qualifier_indent) + "/mol_type=\"genomic DNA\"");
    out.line(format("%s/strain=\"%ld\"", qualifier_indent, 1000 + number % 97));
    out.line(format("%s/db_xref=\"taxon:%ld\"", qualifier_indent, 500000 + number % 97));

    long at = random.in(1, 300);
    long gene_number = 0;
    while (true) {
        const long size = random.in(150, 2100);
        if (at + size + 10 >= length) break;
        const gene_plan gene{at, at + size, random.chance(50)};
        at += size + random.in(1, 200);
        ++gene_number;
        const std::string locus_tag = format("SYN%ld_%05ld", number, gene_number * 5);
        const std::string gene_name =
            format("%s%c", gene_stems[random.in(0, 23)], static_cast<char>('A' + random.in(0, 25)));
        const bool has_gene = random.chance(60);
        const std::string range = gene.complement
                                      ? format("complement(%ld..%ld)", gene.start, gene.end)
                                      : format("%ld..%ld", gene.start, gene.end);

        if (random.chance(4)) {
            feature_start(out, "tRNA", range);
            wrapped_qualifier(out, "locus_tag", locus_tag);
            wrapped_qualifier(out, "product", "tRNA-Leu");
            wrapped_qualifier(out, "inference", "COORDINATES: profile:tRNAscan-SE:2.0.12");
            continue;
        }
        feature_start(out, "gene", range);
        if (has_gene) wrapped_qualifier(out, "gene", gene_name);
        wrapped_qualifier(out, "locus_tag", locus_tag);

        feature_start(out, "CDS", cds_location(random, gene));
        const int naming = static_cast<int>(random.in(1, 100));
        if (naming <= 5) {
            // No naming qualifier at all: only notes and the translation.
            wrapped_qualifier(out, "note", "frameshifted; internal stop");
        } else {
            if (has_gene) wrapped_qualifier(out, "gene", gene_name);
            if (naming > 15) wrapped_qualifier(out, "locus_tag", locus_tag);
            wrapped_qualifier(out, "inference",
                              "COORDINATES: similar to AA sequence:RefSeq:WP_000000001.1");
            wrapped_qualifier(out, "note",
                              "Derived by automated computational analysis using "
                              "gene prediction method: Protein Homology.");
        }
        out.line(std::string(qualifier_indent) + "/codon_start=1");
        out.line(std::string(qualifier_indent) + "/transl_table=11");
        if (naming > 5) wrapped_qualifier(out, "product", products[random.in(0, 17)]);
        out.line(
            format("%s/protein_id=\"WP_%09ld.1\"", qualifier_indent, number * 10000 + gene_number));
        std::string protein(static_cast<std::size_t>(size / 3), 'M');
        for (std::size_t i = 1; i < protein.size(); ++i)
            protein[i] = amino_acids[random.next() % 20];
        wrapped_qualifier(out, "translation", protein);
        if (random.chance(10)) {
            feature_start(out, "misc_feature", range);
            wrapped_qualifier(out, "note", "Pfam domain of unknown function");
        }
        if (out.buffer.size() > (1 << 20)) out.flush();
    }

    // The sequence: 60 bases a line in groups of 10, counts first.
    std::string sequence(static_cast<std::size_t>(length), 'a');
    long counts[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < sequence.size(); i += 32) {
        std::uint64_t bits = random.next();
        for (std::size_t j = i; j < i + 32 && j < sequence.size(); ++j, bits >>= 2) {
            sequence[j] = bases[bits & 3];
            ++counts[bits & 3];
        }
    }
    out.line(
        format("BASE COUNT  %7ld a%7ld c%7ld g%7ld t", counts[0], counts[1], counts[2], counts[3]));
    out.line("ORIGIN      ");
    std::string text;
    for (std::size_t line = 0; line < sequence.size(); line += 60) {
        text = format("%9zu", line + 1);
        for (std::size_t group = line; group < line + 60 && group < sequence.size(); group += 10) {
            text += ' ';
            text.append(sequence, group, std::min<std::size_t>(10, sequence.size() - group));
        }
        out.line(text);
        if (out.buffer.size() > (1 << 20)) out.flush();
    }
    out.line("//");
    out.flush();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: gen_genbank SIZE_IN_BYTES OUTPUT_FILE\n");
        return 2;
    }
    const std::uint64_t target = std::strtoull(argv[1], nullptr, 10);
    std::FILE* file = std::fopen(argv[2], "wb");
    if (file == nullptr) {
        std::perror(argv[2]);
        return 1;
    }
    writer out{file, {}, 0};
    random_bits random{20251207};
    for (long number = 1; out.written < target; ++number)
        write_record(out, random, number);
    if (std::fclose(file) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
