#include "DataTables.h"

#include "FileSystem.h"

namespace vantari {

namespace {

// The accounting program's tables, packed in this order.
const char *const DataTables[] = {
    "AssemblyItem", "Bankbook",        "BusiPart",     "Chmod",        "CreditCard",
    "Employee",     "InOut",           "InOutAccount", "InvAdjust",    "InventoryTrack",
    "Item",         "ItemAsm",         "Note",         "Option",       "Payment",
    "Price",        "PriceSearchEach", "Purchase",     "PurchaseItem", "PurchaseType",
    "Quote",        "QuoteItem",       "QuoteRef",     "ReceivePay",   "ReceivePay2",
    "Sale",         "SaleItem",        "SaleType",     "StockValue",   "System01",
    "TaxBill",      "TransactLog",     "UserInfo"};

} // namespace

std::vector<std::string> DataTableMasks(const std::string &folder) {
  std::vector<std::string> masks;
  for (const char *table : DataTables)
    masks.push_back(folder + "/" + table + ".*");
  return masks;
}

bool IsDataTableFile(const std::string &name) {
  for (const char *table : DataTables)
    if (MatchesMask(name, std::string(table) + ".*"))
      return true;
  return false;
}

} // namespace vantari
