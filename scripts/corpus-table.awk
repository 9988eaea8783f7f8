# The table scripts/corpus prints, from each pass's results.tsv (path, verdict, ms, KiB; "-" for
# no figure): the share of files shown (ok or partial) by target and damage, the partial share in
# brackets, from the first pass; below it what each pass found. Every crash, hang, and (release
# build) decode over 2 s or 512 MiB goes to <outdir>/findings.tsv.
# Variables: files (the corpus folder), outdir, gen (seconds to generate), passes, seconds
# ("release=212 asan=469"), reports (sanitizer reports of the asan pass, or -).
BEGIN {
    FS = "\t"
    split("strike scatter rewrite trunc zero field all", kinds, " ")
    split("png jpg tiff bmp gif jp2 all", targets, " ")
    npasses = split(passes, passlist, " ")
    split(seconds, timings, " ")
    for (i in timings) {
        split(timings[i], pair, "=")
        took[pair[1]] = pair[2]
    }
}

function verdictClass(v) {
    if (v ~ /^ok /) return "ok"
    if (v ~ /^partial /) return "partial"
    if (v ~ /the decoder crashed|^crash:/) return "crash"
    if (v ~ /of processor time|gave no answer within|^hang:/) return "hang"
    return "undecodable"
}

function tally(table, target, kind) {
    table[target, kind]++; table[target, "all"]++; table["all", kind]++; table["all", "all"]++
}

function finding(what, figure) {
    findings[++nfindings] = pass "\t" what "\t" name "\t" figure
}

FNR == 1 {
    pass = FILENAME
    sub(/\/results\.tsv$/, "", pass)
    sub(/.*\//, "", pass)
    if (shares == "") shares = pass
}

{
    n = split($1, parts, "/")
    target = parts[n - 2]
    kind = parts[n - 1]
    name = substr($1, length(files) + 2)
    class = verdictClass($2)
    total[pass]++
    count[pass, class]++
    if (class == "crash" || class == "hang") {
        finding(class, $2)
    } else {
        if ($3 + 0 > slowest[pass]) { slowest[pass] = $3 + 0; slowestFile[pass] = name }
        if ($4 + 0 > largest[pass]) { largest[pass] = $4 + 0; largestFile[pass] = name }
        # The 2 s and 512 MiB goals hold for the release build; sanitizers make both larger.
        if (pass == "release" && $3 + 0 > 2000) { over2s++; finding("over 2 s", $3 " ms") }
        if (pass == "release" && $4 + 0 > 524288) { over512++; finding("over 512 MiB", $4 " KiB") }
    }
    if (pass == shares) {
        tally(cells, target, kind)
        if (class == "ok" || class == "partial") tally(shown, target, kind)
        if (class == "partial") tally(partly, target, kind)
    }
}

function cell(t, k) {
    if (!cells[t, k]) return sprintf("%-14s", "-")
    return sprintf("%3.0f%% (%2.0f%%)   ", 100 * shown[t, k] / cells[t, k],
                   100 * partly[t, k] / cells[t, k])
}

function row(label, key,   i, p, v) {
    printf "%-30s", label
    for (i = 1; i <= npasses; i++) {
        p = passlist[i]
        if (key == "total") v = total[p]
        else if (key == "shown") v = count[p, "ok"] + count[p, "partial"]
        else if (key == "over2s") v = p == "release" ? over2s + 0 : "-"
        else if (key == "over512") v = p == "release" ? over512 + 0 : "-"
        else if (key == "reports") v = p == "asan" ? reports : "-"
        else if (key == "time") v = took[p] " s"
        else v = count[p, key] + 0
        printf "%-14s", v
    }
    printf "\n"
}

END {
    printf "Damaged-file corpus: %d files in %s/, generated in %d s; passes: %s\n",
           total[shares], files, gen, passes
    printf "Shown (ok or partial) share by target and damage, partial share in brackets " \
           "(%s pass)\n\n", shares
    printf "%-6s", ""
    for (i = 1; i <= 7; i++) printf "%-14s", kinds[i]
    printf "\n"
    for (j = 1; j <= 7; j++) {
        printf "%-6s", targets[j]
        for (i = 1; i <= 7; i++) printf "%s", cell(targets[j], kinds[i])
        printf "\n"
    }
    printf "\n%-30s", ""
    for (i = 1; i <= npasses; i++) printf "%-14s", passlist[i]
    printf "\n"
    row("files decoded", "total"); row("shown (ok or partial)", "shown")
    row("partial", "partial"); row("undecodable", "undecodable")
    row("crashes", "crash"); row("hangs", "hang"); row("sanitizer reports", "reports")
    row("decodes over 2 s", "over2s"); row("decodes over 512 MiB", "over512")
    row("pass time", "time")
    printf "\n"
    for (i = 1; i <= npasses; i++) {
        p = passlist[i]
        printf "%s slowest decode: %.1f ms  %s\n", p, slowest[p], slowestFile[p]
        printf "%s largest peak memory: %.1f MiB  %s\n", p, largest[p] / 1024, largestFile[p]
    }
    for (i = 1; i <= nfindings; i++) print findings[i] > (outdir "/findings.tsv")
    printf "findings (crashes, hangs, over 2 s or 512 MiB): %d in %s/findings.tsv\n",
           nfindings, outdir
    if (reports != "-") printf "sanitizer log: %s/asan/sanitizer.log\n", outdir
}
