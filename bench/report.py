"""Summarises expr_bench CSV output: median time, terms per second, ratios to memset."""
import csv
import sys

rows = {}
for r in csv.DictReader(l for l in sys.stdin if l.startswith(("name", '"BM_'))):
    if r["name"].endswith("_median"):
        rows[r["name"].removesuffix("_median").removesuffix("/manual_time")] = r

OPS = [("BM_Product3000x3000", "Product"), ("BM_Square4000", "Square"), ("BM_Bulk10M", "Bulk")]
print(f"{'operation':22s} {'median':>9s} {'Mterms/s':>9s} {'memset warm':>12s} {'ratio':>6s}"
      f" {'memset fresh':>13s} {'ratio':>6s}")
for op, key in OPS:
    a, warm, fresh = rows.get(op), rows.get(f"BM_MemsetWarm_{key}"), rows.get(f"BM_MemsetFresh_{key}")
    if not (a and warm and fresh):
        continue
    ta, tw, tf = (float(x["real_time"]) for x in (a, warm, fresh))
    rate = float(a["items_per_second"]) / 1e6
    print(f"{op:22s} {ta:6.1f} ms {rate:9.1f} {tw:9.1f} ms {ta / tw:5.2f}x {tf:10.1f} ms {ta / tf:5.2f}x")
