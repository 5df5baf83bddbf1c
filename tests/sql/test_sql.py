#!/usr/bin/env python3
"""SQL over Btrieve files: the extension's virtual tables (lookups, ranges, ORDER BY
without a sort, joins, read-only, a commit seen by the next statement) checked
against the same rows exported by btrexport --sqlite into native tables, the
export itself on mkcompany companies and the corpus dictionaries, and the README's
SQL example."""
import argparse
import csv
import hashlib
import io
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None


def run(*command, check=True):
    r = subprocess.run(command, capture_output=True, text=True)
    if check and r.returncode != 0:
        raise AssertionError(f"{command}: exit {r.returncode}: {r.stderr}")
    return r


def connect():
    con = sqlite3.connect(":memory:")
    con.enable_load_extension(True)
    con.load_extension(os.path.splitext(ARGS.extension)[0])
    return con


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def plan(con, sql, params=()):
    return " ".join(row[-1] for row in con.execute("EXPLAIN QUERY PLAN " + sql, params))


class Company(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="sql_test_")
        cls.dir = os.path.join(cls.tmp, "co")
        run(ARGS.mkcompany, cls.dir, "--customers", "300", "--journal-rows", "3000", "--seed", "5")
        cls.db = os.path.join(cls.tmp, "native.db")
        run(ARGS.btrexport, "--ddf", cls.dir, "--sqlite", cls.db)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def setUp(self):
        self.con = connect()
        self.assertEqual(self.con.execute("SELECT btrieve_attach(?)", (self.dir,)).fetchone()[0], 6)
        self.con.execute("ATTACH ? AS n", (self.db,))

    def both(self, sql, params=()):
        """The query's rows through the virtual tables and over the native copies."""
        native = re.sub(r"\b(customer|journal|permiss)\b", r"n.\1", sql)
        return self.con.execute(sql, params).fetchall(), self.con.execute(native, params).fetchall()

    def test_key_lookups_and_ranges_read_the_key(self):
        ids = [r[0] for r in self.con.execute("SELECT custID FROM n.customer ORDER BY random() LIMIT 20")]
        for cid in ids + ["NO SUCH", "", "é"]:
            vt, nat = self.both("SELECT * FROM customer WHERE custID = ?", (cid,))
            self.assertEqual(vt, nat, cid)
        lookup = plan(self.con, "SELECT * FROM customer WHERE custID = ?", ("A",))
        self.assertIn("INDEX 0:0 1 ", lookup)  # key 0, one segment pinned
        for sql in ("SELECT custID FROM customer WHERE custID >= 'M' AND custID < 'P' ORDER BY custID",
                    "SELECT custID FROM customer WHERE custID > 'Z' ORDER BY custID DESC",
                    "SELECT nindex, BillName FROM customer WHERE nindex BETWEEN 10 AND 40 ORDER BY nindex",
                    "SELECT count(*) FROM journal WHERE nindex = 7",
                    "SELECT count(*) FROM journal WHERE nindex < 0 OR nindex > 250",
                    "SELECT count(*) FROM customer WHERE ARbalance > 1000.5",
                    "SELECT custID FROM customer WHERE custID = 'abc' COLLATE NOCASE"):
            vt, nat = self.both(sql)
            self.assertEqual(vt, nat, sql)
        # ORDER BY a key's columns comes in key order: no sort, either way.
        for sql in ("SELECT * FROM customer ORDER BY custID", "SELECT * FROM customer ORDER BY nindex DESC",
                    "SELECT * FROM journal WHERE nindex > 5 ORDER BY nindex"):
            self.assertNotIn("TEMP B-TREE", plan(self.con, sql), sql)
        self.assertIn("TEMP B-TREE", plan(self.con, "SELECT * FROM customer ORDER BY BillCity"))
        vt = [r[0] for r in self.con.execute("SELECT nindex FROM journal ORDER BY nindex DESC")]
        self.assertEqual(vt, sorted(vt, reverse=True))
        self.assertEqual(len(vt), 3000)

    def test_join_of_customers_and_their_invoices(self):
        sql = ("SELECT c.custID, count(*), round(sum(j.ARamount - j.AmountReceived), 2) FROM customer c "
               "JOIN journal j ON j.nindex = c.nindex WHERE j.Journalid = 3 AND j.Quote = 0 "
               "GROUP BY c.custID ORDER BY c.custID")
        vt, nat = self.both(sql)
        self.assertGreater(len(vt), 10)
        self.assertEqual(vt, nat)

    def test_read_only(self):
        files = [os.path.join(self.dir, f) for f in ("customer.dat", "journal.dat")]
        before = [digest(f) for f in files]
        for sql in ("INSERT INTO customer(custID) VALUES ('X')", "UPDATE customer SET BillName = 'x'",
                    "DELETE FROM journal"):
            with self.assertRaisesRegex(sqlite3.DatabaseError, "read-only"):
                self.con.execute(sql)
        self.assertEqual([digest(f) for f in files], before)

    def test_a_commit_is_seen_by_the_next_statement(self):
        company = os.path.join(self.tmp, "live")
        shutil.copytree(self.dir, company)
        con = connect()
        con.execute("SELECT btrieve_attach(?)", (company,))
        open_statement = con.execute("SELECT custID FROM customer")
        open_statement.fetchone()  # a statement left open across the commit
        self.assertEqual(con.execute("SELECT count(*) FROM customer").fetchone()[0], 300)
        run(ARGS.commit, os.path.join(company, "customer.dat"))
        self.assertEqual(con.execute("SELECT count(*) FROM customer").fetchone()[0], 299)
        self.assertEqual(con.execute("SELECT count(*) FROM customer WHERE custID >= ''").fetchone()[0], 299)
        # Another file put in its place is not read through the old one's columns.
        os.replace(os.path.join(company, "journal.dat"), os.path.join(company, "customer.dat"))
        time.sleep(0.01)
        with self.assertRaisesRegex(sqlite3.OperationalError, "another shape"):
            con.execute("SELECT count(*) FROM customer").fetchone()

    def test_key_order_that_is_not_sql_order_stops_the_statement(self):
        company = os.path.join(self.tmp, "names")
        shutil.copytree(self.dir, company)
        # Two users whose names' code page order (0x8A before 0xE9) is not their
        # text order (U+00E9 before U+0160).
        users = [(name + b"\0" * 17)[:17] + b"N" + b"\0" * 17 for name in (b"\x8a", b"\xe9")]
        run(ARGS.commit, os.path.join(company, "permiss.dat"), *(u.hex() for u in users))
        con = connect()
        con.execute("SELECT btrieve_attach(?)", (company,))
        self.assertNotIn("TEMP B-TREE", plan(con, "SELECT UserName FROM permiss ORDER BY UserName"))
        with self.assertRaisesRegex(sqlite3.OperationalError, r"ORDER BY \+column"):
            con.execute("SELECT UserName FROM permiss ORDER BY UserName").fetchall()
        self.assertEqual(con.execute("SELECT UserName FROM permiss ORDER BY +UserName").fetchall(),
                         [("é",), ("Š",)])

    def test_layout_tables_and_refusals(self):
        self.con.execute("CREATE VIRTUAL TABLE c USING btrieve(file=?, layout='customer')".replace(
            "?", "'" + os.path.join(self.dir, "customer.dat").replace("'", "''") + "'"))
        self.assertEqual(self.con.execute("SELECT * FROM c ORDER BY custID").fetchall(),
                         self.con.execute("SELECT * FROM customer ORDER BY custID").fetchall())
        journal = os.path.join(self.dir, "journal.dat").replace("'", "''")
        for sql, message in ((f"CREATE VIRTUAL TABLE x USING btrieve(file='{journal}', layout='customer')",
                              "does not fit the customer layout"),
                             (f"CREATE VIRTUAL TABLE x USING btrieve(dictionary='{self.dir}', table='nope')",
                              "no table 'nope'.*customer"),
                             ("CREATE VIRTUAL TABLE x USING btrieve(dictionary='/nonexistent', table='a')",
                              "nonexistent"),
                             ("CREATE VIRTUAL TABLE x USING btrieve(file='/x')", "give dictionary")):
            with self.assertRaisesRegex(sqlite3.OperationalError, message):
                self.con.execute(sql)

    def test_export_types_counts_and_refusal(self):
        con = sqlite3.connect(self.db)
        counts = {name: n for name, n in con.execute(
            "SELECT 'customer', count(*) FROM customer UNION ALL SELECT 'journal', count(*) FROM journal")}
        self.assertEqual(counts, {"customer": 300, "journal": 3000})
        types = dict(con.execute("SELECT 'ARbalance', typeof(ARbalance) FROM customer LIMIT 1").fetchall() +
                     con.execute("SELECT 'nindex', typeof(nindex) FROM customer LIMIT 1").fetchall() +
                     con.execute("SELECT 'Date', typeof(Date) FROM journal WHERE Date IS NOT NULL LIMIT 1").fetchall())
        self.assertEqual(types, {"ARbalance": "real", "nindex": "integer", "Date": "text"})
        indexes = {r[0] for r in con.execute("SELECT name FROM sqlite_master WHERE type = 'index'")}
        self.assertTrue({"customer_key0", "journal_key0", "permiss_key0"} <= indexes)
        # Every row the same as the virtual table gives (one rule for both).
        vt, nat = self.both("SELECT * FROM journal ORDER BY rowid")
        self.assertEqual(sorted(vt, key=repr), sorted(nat, key=repr))
        before = digest(self.db)
        r = run(ARGS.btrexport, "--ddf", self.dir, "--sqlite", self.db, check=False)
        self.assertEqual((r.returncode, digest(self.db)), (1, before))
        self.assertIn("exists", r.stderr)

    def test_damage_midway_leaves_no_half_table(self):
        company = os.path.join(self.tmp, "damaged")
        shutil.copytree(self.dir, company)
        journal = os.path.join(company, "journal.dat")
        with open(journal, "r+b") as f:  # two pages of garbage halfway through
            f.seek(os.path.getsize(journal) // 2)
            f.write(b"\x5a" * 8192)
        out = os.path.join(self.tmp, "damaged.db")
        r = run(ARGS.btrexport, "--ddf", company, "--sqlite", out, check=False)
        self.assertEqual(r.returncode, 1)
        self.assertRegex(r.stderr, r"journal\.dat \(table journal\): status 1003 .* after \d+ of 3000 records")
        con = sqlite3.connect(out)
        tables = {r[0] for r in con.execute("SELECT name FROM sqlite_master WHERE type = 'table'")}
        self.assertNotIn("journal", tables)
        self.assertEqual(con.execute("SELECT count(*) FROM customer").fetchone()[0], 300)

    def test_readme_example_runs_as_printed(self):
        with open(ARGS.readme, encoding="utf-8") as f:
            text = f.read()
        block = re.search(r"```sql\n(.*?)```", text[text.index("## Your data in a spreadsheet"):], re.S)
        self.assertIsNotNone(block, "README: no SQL example")
        sql = re.sub(r"^\.load \S+", ".load " + os.path.splitext(ARGS.extension)[0], block.group(1), flags=re.M)
        sql = sql.replace("'company'", "'" + self.dir + "'")
        r = subprocess.run(["sqlite3", ":memory:"], input=sql, capture_output=True, text=True)
        self.assertEqual(r.stderr, "")
        self.assertEqual(len(r.stdout.splitlines()), 1 + 2 + 10)  # count, header, rule, rows


class Corpus(unittest.TestCase):
    """The real dictionaries: each table whose file is here, exported and attached,
    has as many rows as --list counts records."""

    def check(self, folder, *options):
        listing = run(ARGS.btrexport, "--ddf", folder, "--list", *options).stdout
        expected = {name: int(records) for name, _file, records, _columns in list(csv.reader(io.StringIO(listing)))[1:]
                    if records.isdigit()}
        self.assertTrue(expected)
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "out.db")
            run(ARGS.btrexport, "--ddf", folder, "--sqlite", out, *options)
            con = sqlite3.connect(out)
            got = {name: con.execute(f'SELECT count(*) FROM "{name}"').fetchone()[0] for name in expected}
            self.assertEqual(got, expected)
            # Every value is of its column's declared type, or NULL (or, in a REAL
            # column, a decimal kept as TEXT because a REAL would change it).
            for name in expected:
                for _cid, column, declared, *_ in con.execute(f'PRAGMA table_info("{name}")').fetchall():
                    allowed = ("null", declared.lower()) + (("text",) if declared == "REAL" else ())
                    wrong = con.execute(f'SELECT count(*) FROM "{name}" WHERE typeof("{column}") NOT IN '
                                        f'({",".join("?" * len(allowed))})', allowed).fetchone()[0]
                    self.assertEqual(wrong, 0, (name, column, declared))
        con = connect()
        encoding = options[options.index("--encoding") + 1] if "--encoding" in options else ""
        data = options[options.index("--data") + 1] if "--data" in options else ""
        made = con.execute("SELECT btrieve_attach(?, ?, ?)", (folder, encoding, data)).fetchone()[0]
        self.assertEqual(made, len(expected))
        for name, n in expected.items():
            self.assertEqual(con.execute(f'SELECT count(*) FROM "{name}"').fetchone()[0], n, name)
            self.keysAgreeWithScans(con, name)
        return con

    def keysAgreeWithScans(self, con, table):
        """Every column a key serves gives, through the key, the rows a scan gives
        (+column keeps the constraint from the virtual table)."""
        for (column,) in con.execute("SELECT name FROM pragma_table_info(?)", (table,)).fetchall():
            sql = lambda s: s.replace("{T}", '"%s"' % table).replace("{C}", '"%s"' % column)
            keyed = "INDEX -1:" not in plan(con, sql("SELECT * FROM {T} WHERE {C} = 1"))
            ordered = "TEMP B-TREE" not in plan(con, sql("SELECT * FROM {T} ORDER BY {C}"))
            if keyed:
                for (v,) in con.execute(sql("SELECT DISTINCT {C} FROM {T} WHERE {C} IS NOT NULL LIMIT 3")).fetchall():
                    for op in ("=", ">=", "<"):
                        self.assertEqual(con.execute(sql("SELECT count(*) FROM {T} WHERE {C} " + op + " ?"), (v,)).fetchall(),
                                         con.execute(sql("SELECT count(*) FROM {T} WHERE +{C} " + op + " ?"), (v,)).fetchall(),
                                         (table, column, op, v))
            if ordered:
                self.assertEqual(con.execute(sql("SELECT {C} FROM {T} ORDER BY {C}")).fetchall(),
                                 con.execute(sql("SELECT {C} FROM {T} ORDER BY +{C}")).fetchall(), (table, column))

    def test_exchequer(self):
        base = os.path.join(ARGS.corpus, "exchequer")
        con = self.check(os.path.join(base, "ENTRPRSE-DDF"), "--data", os.path.join(base, "BaseDemo"))
        # Customers and Suppliers read the same file, through its keys.
        self.assertEqual(con.execute("SELECT count(*) FROM Customers").fetchone(),
                         con.execute("SELECT count(*) FROM Suppliers").fetchone())
        # Of three fields over the stock code, the one lying exactly over key 0's
        # segment (an alternate collating sequence) is served by the key.
        self.assertIn("INDEX 0:", plan(con, "SELECT * FROM Stock WHERE stIdxStockCode = 'X'"))
        code = con.execute("SELECT stIdxStockCode FROM Stock LIMIT 1 OFFSET 100").fetchone()[0]
        self.assertEqual(con.execute("SELECT count(*) FROM Stock WHERE stIdxStockCode = ?", (code,)).fetchone(), (1,))

    def test_doclife_in_cp866(self):
        self.check(os.path.join(ARGS.corpus, "doclife"), "--encoding", "CP866")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("extension", "mkcompany", "btrexport", "commit", "corpus", "readme"):
        parser.add_argument("--" + option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
