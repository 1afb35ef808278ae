// The main window with the server's dated history and the upload guard, through its presenter:
// the recorder for the boxes (No unless told otherwise), a real FTP server on loopback, upload
// dates on a simulated clock.
#include "ServerHistory.h"
#include "WorkflowFixture.h"
#include "WorkflowTexts.h"

#include <random>

namespace vantari::test {
namespace {

namespace fs = std::filesystem;

const std::string AllDone = "message: 모든 작업을 정상적으로 완료하였습니다.";

// Rows like the accounting program's: a fixed layout, numbers that vary. They compress.
std::string Records(int from, int count) {
  std::mt19937 random(static_cast<unsigned>(from));
  std::string rows;
  for (int n = from; n < from + count; ++n)
    rows += "SALE|" + std::to_string(100000 + n) + "|품목-" + std::to_string(random() % 10000) +
            "|" + std::to_string(random() % 1000000000) + "|서울 본점|\r\n";
  return rows;
}

class ServerHistoryWindowTest : public WorkflowTest {
protected:
  std::vector<std::string> Questions() const { return Recorder.Texts("question"); }
  std::string Table(const char *name) const { return ReadFile(DataFolder / name); }
};

const char *const RecordTables[] = {"Sale.DB", "SaleItem.DB", "Bankbook.DB", "Purchase.DB"};

TEST_F(ServerHistoryWindowTest, DamagedTablesAreQuestionedAndOrdinaryWorkIsNot) {
  for (const char *table : RecordTables)
    WriteFile(DataFolder / table, Records(0, 2000));
  Upload();
  ASSERT_TRUE(Logged(AllDone));

  // A month of ordinary work: every table grows, one is new.
  for (const char *table : RecordTables)
    WriteFile(DataFolder / table, Table(table) + Records(2000, 200));
  WriteFile(DataFolder / "Quote.DB", Records(5000, 300));
  Recorder.Log.clear();
  Upload();
  EXPECT_TRUE(Logged(AllDone));
  EXPECT_TRUE(Questions().empty());
  const std::string good = Server->ReadFile("vantari.bck");

  // Random bytes over the tables, as encrypting malware leaves them.
  unsigned seed = 1;
  for (const char *table : RecordTables)
    WriteFile(DataFolder / table, Noise(Table(table).size(), seed++));
  Recorder.Log.clear();
  Upload();
  ASSERT_EQ(Questions().size(), 1u);
  const std::string question = Questions().front();
  EXPECT_EQ(question.rfind(TextDataLooksDamaged, 0), 0u) << question;
  for (const char *table : RecordTables)
    EXPECT_NE(question.find(table), std::string::npos) << table;
  EXPECT_TRUE(Logged(std::string("message: ") + TextServerBackupKept));
  EXPECT_FALSE(Logged(AllDone));
  EXPECT_TRUE(Server->ReadFile("vantari.bck") == good) << "No leaves the server's backup";
  EXPECT_FALSE(fs::exists(Server->PathOf("vantari.bck.new")));
}

TEST_F(ServerHistoryWindowTest, AnEarlierArchiveIsChosenByDateConfirmedAndUndone) {
  std::time_t now = std::time(nullptr) - 3 * 86400;
  Config.WallClock = [&now] { return now; };
  std::vector<std::string> sales;
  for (int day = 0; day < 3; ++day, now += 86400) {
    sales.push_back("sales of day " + std::to_string(day));
    WriteFile(DataFolder / "Sale.DB", sales.back());
    Upload();
    ASSERT_TRUE(Logged(AllDone));
  }
  const int offset = LocalUtcOffset(now);
  const auto when = [&](int day) { return HistoryTimeText(now - (3 - day) * 86400, offset); };

  // No, the default, changes nothing.
  Recorder.Log.clear();
  Recorder.ChoiceAnswers = {2};
  Click(&TMainWindowPresenter::RestoreFromHistory);
  EXPECT_EQ(Table("Sale.DB"), sales[2]);
  EXPECT_FALSE(Logged(AllDone));

  Recorder.Shown.clear();
  Recorder.ChoiceAnswers = {2};
  Recorder.YesNoAnswers = {true};
  Click(&TMainWindowPresenter::RestoreFromHistory);
  const std::vector<std::string> lists = Recorder.Texts("choice");
  ASSERT_EQ(lists.size(), 1u);
  const std::string &list = lists.front();
  EXPECT_LT(list.find(when(2)), list.find(when(1))) << list;
  EXPECT_LT(list.find(when(1)), list.find(when(0))) << list;
  ASSERT_EQ(Questions().size(), 1u) << "the date's Yes answers the newer data too";
  EXPECT_NE(Questions().front().find(when(0)), std::string::npos) << Questions().front();
  EXPECT_EQ(Table("Sale.DB"), sales[0]);
  EXPECT_TRUE(Logged(AllDone));

  Click(&TMainWindowPresenter::UndoDownload);
  EXPECT_EQ(Table("Sale.DB"), sales[2]);
  for (const auto &[name, bytes] : Sample) {
    if (name != "Sale.DB") {
      EXPECT_TRUE(Table(name.c_str()) == bytes) << name;
    }
  }
}

} // namespace
} // namespace vantari::test
