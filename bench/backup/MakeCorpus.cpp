// Writes a corpus shaped like the accounting program's data folder: fixed-width record
// tables with repeated fields, index files, and some incompressible memo blobs.
// Usage: backup_corpus FOLDER MEGABYTES [SEED]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

const char *const kTables[] = {"Item",    "Customer", "Sales",   "SalesDtl", "Purchase", "PurchDtl",
                               "Stock",   "Invoice",  "InvDtl",  "Account",  "Journal",  "Bank",
                               "Cash",    "Employee", "Payroll", "Tax",      "TaxDtl",   "Company",
                               "Branch",  "Code",     "Unit",    "Price",    "Order",    "OrderDtl",
                               "Return",  "Transfer", "Budget",  "Memo",     "Card",     "Ledger",
                               "Receipt", "Payment",  "Config"};
const char *const kWords[] = {"\xbb\xe7\xb0\xfa", "\xb9\xe8",         "\xc6\xc4\xc0\xcf",
                              "WIDGET",           "BOLT M8",          "PAPER A4",
                              "\xbc\xad\xbf\xef", "\xba\xce\xbb\xea", "SEOUL",
                              "LUMORA",           "OFFICE SUPPLY",    "NET 30"};

std::string Record(std::mt19937 &rng, long id, int width) {
  char head[96];
  std::snprintf(head, sizeof head, "%010ld%-14s%08d%012ld%03d%c", id, kWords[rng() % 12],
                20200101 + static_cast<int>(rng() % 50000), static_cast<long>(rng() % 9999999) * 10,
                static_cast<int>(rng() % 3), "YN"[rng() % 2]);
  std::string record = head;
  record += kWords[rng() % 12];
  record.resize(static_cast<size_t>(width) - 2, ' ');
  return record + "\r\n";
}

void WriteTable(const std::string &path, long bytes, std::mt19937 &rng) {
  std::ofstream out(path, std::ios::binary);
  const int width = 96 + static_cast<int>(rng() % 5) * 32;
  std::string block;
  for (long id = 0, written = 0; written < bytes; ++id) {
    block += Record(rng, id, width);
    if (block.size() >= 1 << 20 || written + static_cast<long>(block.size()) >= bytes) {
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
      written += static_cast<long>(block.size());
      block.clear();
    }
  }
}

void WriteBlob(const std::string &path, long bytes, std::mt19937 &rng) {
  std::ofstream out(path, std::ios::binary);
  std::vector<uint32_t> chunk(1 << 16);
  for (long written = 0; written < bytes; written += static_cast<long>(chunk.size() * 4)) {
    for (auto &word : chunk)
      word = rng();
    out.write(reinterpret_cast<const char *>(chunk.data()),
              static_cast<std::streamsize>(chunk.size() * 4));
  }
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: backup_corpus FOLDER MEGABYTES [SEED]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const long total = std::atol(argv[2]) * 1000 * 1000;
  std::mt19937 rng(argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 1u);
  const long blobs = total / 10; // a tenth of the data does not compress
  const long perTable = (total - blobs) / 33;
  for (int t = 0; t < 33; ++t) {
    const long size =
        perTable / 2 + static_cast<long>(rng() % static_cast<unsigned long>(perTable));
    WriteTable(dir + "/" + kTables[t] + ".DBF", size * 9 / 10, rng);
    WriteTable(dir + "/" + kTables[t] + ".MDX", size / 10, rng);
  }
  for (int b = 0; b < 4; ++b)
    WriteBlob(dir + "/Memo" + std::to_string(b) + ".BLB", blobs / 4, rng);
  return 0;
}
