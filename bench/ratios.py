"""Turns the JSON files of one bench/run into the goal ratios: each ratio is taken
within one round (numerator and denominator measured minutes apart at most), and
the median over the rounds is printed, with the rounds' range beside it."""
import json, pathlib, statistics, sys

UNIT = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
rounds = []
for d in sorted(p for p in pathlib.Path(sys.argv[1]).iterdir() if p.is_dir()):
    times = {}
    for p in d.glob("*.json"):
        for b in json.loads(p.read_text())["benchmarks"]:
            times[b["name"]] = b["real_time"] * UNIT[b["time_unit"]]
            # By processor time: the benchmark's thread, or the program it ran.
            times[b["name"] + ":cpu"] = b.get("child_cpu_s", b["cpu_time"] * UNIT[b["time_unit"]])
    rounds.append(times)

def ratio(name, num, den):
    values = [t[num] / t[den] for t in rounds if num in t and den in t]
    if not values:
        print(f"ratio {name} missing ({num} or {den} did not run)")
        return
    extra = f"  (rounds {min(values):.4f} .. {max(values):.4f})" if len(values) > 1 else ""
    print(f"ratio {name} {statistics.median(values):.4f}{extra}")

ratio("open_first_over_seqread", "BM_OpenFirst/large", "BM_SeqRead_Customer/large")
ratio("open_first_fallback_over_seqread", "BM_OpenFirstFallback/large", "BM_SeqRead_Customer/large")
ratio("lookup_100k_over_10k", "BM_Lookup/large", "BM_Lookup/small")
ratio("detail_warm_1m_over_100k", "BM_DetailWarm/large", "BM_DetailWarm/small")
ratio("detail_first_over_seqread", "BM_DetailFirst/large", "BM_SeqRead_Journal/large")
ratio("detail_first_fallback_over_seqread", "BM_DetailFirstFallback/large", "BM_SeqRead_Journal/large")
# The same company as 8.0 files, through their own trees (bound 0.05 each).
ratio("open_first_v8_over_seqread", "BM_OpenFirst/large_v8", "BM_SeqRead_Customer/large_v8")
ratio("detail_first_v8_over_seqread", "BM_DetailFirst/large_v8", "BM_SeqRead_Journal/large_v8")
ratio("export_over_seqread", "BM_Export/large", "BM_SeqRead_Journal/large")
# The export over as many random record reads from a plain mapping of the file: it
# moves less with the machine than the export over one sequential read (bound 7).
ratio("export_over_random_read", "BM_Export/large", "BM_RandomRead/journal")
ratio("balance_scan_over_seqread", "BM_BalanceScan/large", "BM_SeqRead_Customer/large")
# The scan beneath the in-memory index, with no index work on top (no bound).
ratio("key_scan_customer_over_seqread", "BM_KeyScan/customer", "BM_SeqRead_Customer/large")
ratio("key_scan_journal_over_seqread", "BM_KeyScan/journal", "BM_SeqRead_Journal/large")
# The export in parts (no bound): its key order, its gather of every record in that
# order without formatting, its formatting of as many rows from cached records, and
# as many random record reads with no engine at all.
ratio("export_order_over_seqread", "BM_ExportOrder/large", "BM_SeqRead_Journal/large")
ratio("export_gather_over_seqread", "BM_ExportGather/large", "BM_SeqRead_Journal/large")
ratio("export_format_over_seqread", "BM_ExportFormat/large", "BM_SeqRead_Journal/large")
ratio("random_read_over_seqread", "BM_RandomRead/journal", "BM_SeqRead_Journal/large")
# The window itself, through the real main window offscreen: one keystroke in the
# lookup box to the fields shown, one "Show Detail" of 20 open invoices to the list
# filled, and the start to the first customer shown (and its initialisation alone).
ratio("window_lookup_100k_over_10k", "BM_WindowLookup/large", "BM_WindowLookup/small")
ratio("lookup_live_over_lookup", "BM_WindowLookup/large", "BM_WindowLookupUnfollowed/large")
ratio("window_detail_1m_over_100k", "BM_WindowDetail/large", "BM_WindowDetail/small")
ratio("window_start_over_seqread", "BM_WindowStart/large/manual_time", "BM_SeqRead_Customer/large")
ratio("window_init_over_seqread", "BM_WindowInit/large/manual_time", "BM_SeqRead_Customer/large")
# SQL: lookups through the virtual table on the large company over the small one
# (bound 1.5), and over the same lookups on a native SQLite table (no bound); a
# whole-journal sum through the virtual table over a native table (bound 1.5); the
# SQLite export over sqlite3's .import of the CSV and the same indexes (bound 1.0).
ratio("sql_lookup_100k_over_10k", "BM_SqlLookup/large", "BM_SqlLookup/small")
ratio("sql_lookup_vtab_over_native", "BM_SqlLookup/large", "BM_SqlLookupNative/large")
# Lookups run in one thread: their processor time is steadier on a shared machine.
ratio("sql_lookup_100k_over_10k_cpu", "BM_SqlLookup/large:cpu", "BM_SqlLookup/small:cpu")
ratio("vtab_scan_over_native", "BM_VtabScan/large", "BM_NativeScan/large")
ratio("sqlite_export_over_csv_import", "BM_SqliteExport/large/iterations:1", "BM_CsvImport/large/iterations:1")
# The same by the processor time of the two programs (no bound): steadier than the
# time they take on a machine that other work shares.
ratio("sqlite_export_over_csv_import_cpu", "BM_SqliteExport/large/iterations:1:cpu",
      "BM_CsvImport/large/iterations:1:cpu")
