#!/usr/bin/env python3
"""A damage campaign against btrexport: copies of sample files, cut short or with
bytes changed on every kind of page, each read with --raw (and some with --info).

    fuzz/campaign.py BTREXPORT [--corpus DIR] [--mkcompany PATH] [--budget N] [--seed S]

Every family of the corpus gives a few files the reader reads; mkcompany adds a
6.x and an 8.0 company. For each file the pages are sorted by kind (control
record, page table, data, variable, index, ACS, other) and each kind gets
single-byte flips and 8-byte overwrites, and the file is cut at page boundaries
and inside pages. Each damaged copy is read once; the outcome is one of

  same        the original records, byte for byte
  refused     a non-zero exit whose message names the file
  unnamed     a non-zero exit whose message does not name the file
  crash       killed by a signal
  hang        still running after the time limit
  data        exit 0 with other records, explained by the changed bytes alone: as
              many records as before, each changed one differing from an original
              one in at most as many bytes as were changed (no checksum guards
              record bytes, so a reader cannot tell)
  record      exit 0 with other records, the changed bytes all inside one fragment's
              data on a variable page (past its next pointer): a variable tail's or a
              compressed record's own bytes, whose runs' counts change its length
  other       exit 0 with any other difference (lost, doubled or reordered records)

and the counts are printed at the end, with the inputs of the last three kinds.
Copies live in a temporary folder; the samples are only read.
"""
import argparse
import collections
import os
import random
import struct
import subprocess
import sys
import tempfile
import time

KINDS = ("fcr", "pat", "data", "variable", "index", "acs", "other")


def run(cmd, timeout):
    try:
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        return p.returncode, p.stdout, p.stderr.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        return None, b"", ""


def info(tool, path):
    rc, out, _ = run([tool, "--info", path], 60)
    if rc != 0:
        return None
    facts = {}
    for line in out.decode("utf-8", "replace").splitlines():
        name, _, value = line.partition(": ")
        facts.setdefault(name, value)
    return facts


def page_kinds(data, facts):
    """The kind of every physical page, told by its header."""
    ps = int(facts["page size"])
    family = facts["format family"]
    kinds = []
    for n in range(len(data) // ps):
        p = data[n * ps:(n + 1) * ps]
        if p[:4] == b"FC\0\0" or (n == 0 and family == "pre-6"):
            kinds.append("fcr")
        elif family == "6.x":
            t = p[1]
            kinds.append("pat" if p[:2] == b"PP" else "data" if t == 0x44 else "variable" if t == 0x56
                         else "acs" if t == 0x41 else "index" if t >= 0x80 else "other")
        elif family == "8.x/9.x":
            t = struct.unpack_from("<H", p, 4)[0]
            kinds.append("pat" if p[3:5] == b"PP" else "data" if t == 0x44 else "variable" if t == 0x56
                         else "acs" if t == 0x41 else "index" if t & 0x8000 else "other")
        else:
            w = struct.unpack_from("<H", p, 4)[0]
            kinds.append("data" if w & 0x8000 else "acs" if p[6] == 0xAC else "other")
    return ps, kinds


def mutations(data, ps, kinds, rng, per_kind):
    """(label, changed byte offsets, new bytes) triples over every page kind."""
    out = []
    by_kind = collections.defaultdict(list)
    for n, k in enumerate(kinds):
        by_kind[k].append(n)
    for kind, pages in sorted(by_kind.items()):
        for i in range(per_kind):
            page = rng.choice(pages)
            # Half of the changes hit the page's first 64 bytes, where headers live.
            span = 64 if i % 2 == 0 else ps
            at = page * ps + rng.randrange(min(span, ps))
            if i % 3 == 2:
                at = min(at, len(data) - 8)
                new = bytes(rng.choice((rng.randrange(256), 0, 0xFF)) for _ in range(8))
                out.append((f"{kind}:8@{at:#x}={new.hex()}", at, new))
            else:
                new = bytes([data[at] ^ rng.randrange(1, 256)])
                out.append((f"{kind}:1@{at:#x}={new.hex()}", at, new))
    cuts = sorted({n * ps for n in range(1, len(data) // ps)})
    for cut in rng.sample(cuts, min(len(cuts), per_kind)):
        out.append((f"cut@{cut:#x}", cut, None))
        mid = cut - rng.randrange(1, ps)
        out.append((f"cut@{mid:#x}", mid, None))
    return out


def in_fragment_data(data, ps, facts, at, length):
    """Whether the bytes [at, at + length) that matter lie in the data of one
    fragment of a variable page, past its next pointer: a record's own (variable or
    compressed) bytes. Bytes between the used area and the offset table matter to
    nothing."""
    family, version = facts["format family"], facts["format version"]
    page = at // ps
    p = data[page * ps:(page + 1) * ps]
    if len(p) < ps:
        return False
    if family == "pre-6":
        if struct.unpack_from("<H", p, 4)[0] & 0x8000:
            return False
        count_at, data_at, pointer = 0x0A, 0x0C, 4
    elif family == "6.x":
        if p[1] != 0x56:
            return False
        count_at, data_at, pointer = 0x0A, 0x0C, 4
    else:
        if struct.unpack_from("<H", p, 4)[0] != 0x56:
            return False
        count_at, data_at, pointer = (0x10, 0x12, 6) if version == "0x0950" else (0x0E, 0x10, 6)
    count = struct.unpack_from("<H", p, count_at)[0]
    if 2 * (count + 1) > ps - data_at:
        return False
    offsets = [struct.unpack_from("<H", p, ps - 2 * (i + 1))[0] for i in range(count + 1)]
    live = sorted({o & 0x7FFF for o in offsets if o != 0xFFFF})
    first, last = at - page * ps, at - page * ps + length
    used_end = max(live) if live else data_at
    free_end = ps - 2 * (count + 1)
    first_matter = first
    last_matter = min(last, used_end) if first < used_end else first
    if first >= used_end and last <= free_end:
        return False  # nothing that matters changed, yet the output did
    for i, o in enumerate(offsets[:count]):
        if o == 0xFFFF:
            continue
        begin = o & 0x7FFF
        end = min([x for x in live if x > begin] + [ps - 2 * count])
        linked = family != "pre-6" or o & 0x8000
        if begin + (pointer if linked else 0) <= first_matter and last_matter <= end and last <= free_end:
            return True
    return False


def explained_by_data(original, damaged, changed):
    """Whether damaged differs from original only in the bytes of records."""
    a, b = original.splitlines(), damaged.splitlines()
    if len(a) != len(b):
        return False
    removed = collections.Counter(a) - collections.Counter(b)
    added = collections.Counter(b) - collections.Counter(a)
    if not added:
        return False  # the same records in another order
    pool = list(removed.elements())
    for rec in added.elements():
        best = None
        for i, old in enumerate(pool):
            if len(old) == len(rec):
                diff = sum(1 for x, y in zip(bytes.fromhex(old.decode()), bytes.fromhex(rec.decode())) if x != y)
                if diff <= changed and (best is None or diff < best[1]):
                    best = (i, diff)
        if best is None:
            return False
        pool.pop(best[0])
    return True


def samples(corpus, mkcompany, work):
    """A few readable files of every family, and a 6.x and an 8.0 company."""
    chosen = []
    for family in sorted(os.listdir(corpus)):
        files = []
        for dp, _, fn in os.walk(os.path.join(corpus, family)):
            files += [os.path.join(dp, f) for f in sorted(fn)]
        files.sort(key=lambda p: os.path.getsize(p))
        chosen.append((family, files))
    if mkcompany:
        for fmt in ("6", "8"):
            d = os.path.join(work, "company" + fmt)
            subprocess.run([mkcompany, d, "--customers", "60", "--journal-rows", "600", "--format", fmt],
                           check=True, stdout=subprocess.DEVNULL)
            chosen.append(("mkcompany-" + fmt, [os.path.join(d, f) for f in ("customer.dat", "journal.dat")]))
    return chosen


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("btrexport")
    ap.add_argument("--corpus", default=os.path.join(os.path.dirname(__file__), "../../shared/btrieve/corpus"))
    ap.add_argument("--mkcompany")
    ap.add_argument("--per-family", type=int, default=4, help="files per corpus family")
    ap.add_argument("--per-kind", type=int, default=24, help="changes per page kind of a file")
    ap.add_argument("--timeout", type=float, default=10)
    ap.add_argument("--seed", type=int, default=28)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    counts = collections.Counter()
    notable = []
    started = time.time()
    with tempfile.TemporaryDirectory(prefix="campaign-") as work:
        for family, files in samples(args.corpus, args.mkcompany, work):
            picked = 0
            for path in files:
                if picked >= args.per_family:
                    break
                facts = info(args.btrexport, path)
                if not facts or facts.get("record count", "0") == "0" or os.path.getsize(path) > (4 << 20):
                    continue
                rc, original, _ = run([args.btrexport, "--raw", path], 60)
                if rc != 0:
                    continue
                picked += 1
                data = open(path, "rb").read()
                ps, kinds = page_kinds(data, facts)
                copy = os.path.join(work, "damaged-" + os.path.basename(path))
                for n, (label, at, new) in enumerate(mutations(data, ps, kinds, rng, args.per_kind)):
                    damaged = data[:at] if new is None else data[:at] + new + data[at + len(new):]
                    if damaged == data:
                        continue
                    with open(copy, "wb") as f:
                        f.write(damaged)
                    counts["inputs"] += 1
                    if counts["inputs"] % 250 == 0:
                        print(f"{counts['inputs']} inputs, {time.time() - started:.0f} s: {family}", file=sys.stderr)
                    modes = [["--raw"]] + ([["--info"]] if n % 4 == 0 else [])
                    for mode in modes:
                        counts["runs"] += 1
                        rc, out, err = run([args.btrexport] + mode + [copy], args.timeout)
                        where = f"{family}/{os.path.basename(path)} {label} {mode[0]}"
                        if rc is None:
                            kind = "hang"
                        elif rc < 0 or rc >= 128:
                            kind = "crash"
                        elif rc != 0:
                            kind = "refused" if copy in err else "unnamed"
                        elif mode[0] == "--info":
                            kind = "same"
                        elif out == original:
                            kind = "same"
                        else:
                            changed = 0 if new is None else sum(1 for i, b in enumerate(new) if data[at + i] != b)
                            if new is not None and explained_by_data(original, out, changed):
                                kind = "data"
                            elif new is not None and in_fragment_data(data, ps, facts, at, len(new)):
                                kind = "record"
                            else:
                                kind = "other"
                        counts[kind] += 1
                        if kind in ("hang", "crash", "unnamed", "other"):
                            notable.append(f"{kind}: {where}: {err.strip()[:200]}")
    print(f"seconds: {time.time() - started:.0f}")
    for k in ("inputs", "runs", "same", "refused", "crash", "hang", "unnamed", "data", "record", "other"):
        print(f"{k}: {counts[k]}")
    for line in notable:
        print(line)


if __name__ == "__main__":
    sys.exit(main())
