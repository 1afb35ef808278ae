#!/usr/bin/python3
"""Lays out the demo: a data folder with sample files for the accounting program's 33 tables,
and a configuration folder whose registry stand-in points at it.

Usage: make_data.py DATA_FOLDER CONFIG_HOME USER_ID
The data folder is made afresh; the sample bytes are the same on every run.
"""
import os
import random
import shutil
import sys

TABLES = [
    "AssemblyItem", "Bankbook", "BusiPart", "Chmod", "CreditCard", "Employee", "InOut",
    "InOutAccount", "InvAdjust", "InventoryTrack", "Item", "ItemAsm", "Note", "Option",
    "Payment", "Price", "PriceSearchEach", "Purchase", "PurchaseItem", "PurchaseType", "Quote",
    "QuoteItem", "QuoteRef", "ReceivePay", "ReceivePay2", "Sale", "SaleItem", "SaleType",
    "StockValue", "System01", "TaxBill", "TransactLog", "UserInfo",
]


def table_bytes(rng, table, size):
    """Records that compress like a real table: repeated layout, varying numbers."""
    rows = []
    n = 0
    while sum(len(r) for r in rows) < size:
        n += 1
        rows.append(("%s|%06d|%s|%10d|%s\r\n" % (
            table, n, "품목-%04d" % rng.randrange(10000), rng.randrange(10**9),
            "".join(rng.choice("ABCDEFGHJKLMNPQRSTUVWXYZ0123456789") for _ in range(24))
        )).encode("utf-8"))
    return b"".join(rows)[:size]


def make_data(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    rng = random.Random(20040315)
    for index, table in enumerate(TABLES):
        # Every table has its data file; about one in three also an index file.
        size = rng.randrange(2_000, 120_000) if table not in ("Sale", "SaleItem") else 400_000
        with open(os.path.join(folder, table + ".DB"), "wb") as f:
            f.write(table_bytes(rng, table, size))
        if index % 3 == 0:
            with open(os.path.join(folder, table + ".IDX"), "wb") as f:
                f.write(rng.randbytes(rng.randrange(512, 8_192)))


def escape_reg(text):
    out = []
    for ch in text:
        if ch in '\\"':
            out.append("\\" + ch)
        elif ord(ch) > 127:
            out.append("\\x%04x" % ord(ch))
        else:
            out.append(ch)
    return "".join(out)


def make_config(config_home, data_folder, user_id):
    folder = os.path.join(config_home, "vantari")
    os.makedirs(folder, mode=0o700, exist_ok=True)
    reg = os.path.join(folder, "user.reg")
    with open(reg, "w", encoding="ascii") as f:
        f.write("WINE REGISTRY Version 2\n;; All keys relative to the current user\n\n")
        f.write("[Software\\\\Corvex\\\\LumoraBC\\\\Database] 1700000000\n")
        f.write('"DefaultDatabase"="%s"\n' % escape_reg(data_folder + "/"))
    os.chmod(reg, 0o600)
    ini = os.path.join(folder, "FtpHost.ini")
    # The demo account's ID is already in the box, as after an earlier login.
    with open(ini, "w", encoding="utf-8") as f:
        f.write("[Server]\nHOSTID=%s\n" % user_id)
    os.chmod(ini, 0o600)


def main():
    data_folder, config_home, user_id = sys.argv[1:4]
    make_data(os.path.abspath(data_folder))
    make_config(os.path.abspath(config_home), os.path.abspath(data_folder), user_id)


if __name__ == "__main__":
    main()
