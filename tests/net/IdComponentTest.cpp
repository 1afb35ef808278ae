#include "IdComponent.h"
#include "IdStack.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace vantari {
namespace {

struct TWorkLog {
  std::vector<std::string> Events;

  void Attach(TIdComponent &component) {
    component.OnWorkBegin = [this](TIdComponent *, TWorkMode mode, int32_t max) {
      Events.push_back("begin " + std::to_string(mode) + " " + std::to_string(max));
    };
    component.OnWork = [this](TIdComponent *, TWorkMode mode, int32_t count) {
      Events.push_back("work " + std::to_string(mode) + " " + std::to_string(count));
    };
    component.OnWorkEnd = [this](TIdComponent *, TWorkMode mode) {
      Events.push_back("end " + std::to_string(mode));
    };
  }
};

TEST(IdComponentWork, NestedWorkRaisesOneBeginAndOneEndWithRunningTotals) {
  TIdComponent component;
  TWorkLog log;
  log.Attach(component);

  component.CountWork(wmWrite, 10); // no work open: a command line, nothing raised
  component.StartWork(wmWrite, 3000);
  component.StartWork(wmWrite, 99); // inner level keeps the outer maximum
  component.CountWork(wmWrite, 1024);
  component.CountWork(wmWrite, 1024);
  component.FinishWork(wmWrite);
  EXPECT_EQ(component.WorkState(wmWrite).Level, 1);
  component.CountWork(wmWrite, 952);
  component.FinishWork(wmWrite);

  const std::vector<std::string> expected{"begin 1 3000", "work 1 1024", "work 1 2048",
                                          "work 1 3000", "end 1"};
  EXPECT_EQ(log.Events, expected);
  EXPECT_EQ(component.WorkState(wmWrite).CountMax, 3000);
  EXPECT_EQ(component.WorkState(wmWrite).Count, 3000);
  EXPECT_EQ(component.WorkState(wmRead).Count, 0);
}

TEST(IdComponentWork, ModesCountSeparatelyAndARestartBeginsAtZero) {
  TIdComponent component;
  TWorkLog log;
  log.Attach(component);
  component.StartWork(wmRead, 0);
  component.CountWork(wmRead, 5);
  component.CountWork(wmWrite, 7);
  component.FinishWork(wmRead);
  component.FinishWork(wmRead); // unmatched: must not swallow the next work
  component.StartWork(wmRead, 8);
  component.CountWork(wmRead, 8);
  component.FinishWork(wmRead);
  const std::vector<std::string> expected{"begin 0 0", "work 0 5", "end 0",
                                          "begin 0 8", "work 0 8", "end 0"};
  EXPECT_EQ(log.Events, expected);
}

TEST(IdComponentStatus, TextsAreFilledWithTheArgumentOrIgnoreIt) {
  TIdComponent component;
  component.ReportStatus(hsConnecting, "127.0.0.1"); // no handler: nothing happens
  std::vector<std::string> texts;
  component.OnStatus = [&](TIdComponent *sender, TIdStatus, const std::string &text) {
    EXPECT_EQ(sender, &component);
    texts.push_back(text);
  };
  component.ReportStatus(hsResolving, "ftp.example.com");
  component.ReportStatus(hsConnecting, "10.1.2.3");
  component.ReportStatus(hsConnected, "ftp.example.com");
  component.ReportStatus(hsDisconnected);
  component.ReportStatus(ftpTransfer, "100% done");
  component.ReportStatus(hsStatusText);
  const std::vector<std::string> expected{"Resolving hostname ftp.example.com.",
                                          "Connecting to 10.1.2.3.",
                                          "Connected.",
                                          "Disconnected.",
                                          "100% done",
                                          ""};
  EXPECT_EQ(texts, expected);
}

TEST(IdComponentStack, SharedStackLivesFromTheFirstComponentToTheLast) {
  ASSERT_EQ(TIdComponent::StackUsers(), 0);
  EXPECT_FALSE(HasSharedStack());
  auto first = std::make_unique<TIdComponent>();
  TIdStack *stack = &SharedStack();
  {
    TIdComponent second;
    EXPECT_EQ(TIdComponent::StackUsers(), 2);
    EXPECT_EQ(&SharedStack(), stack);
  }
  EXPECT_TRUE(HasSharedStack());
  first.reset();
  EXPECT_EQ(TIdComponent::StackUsers(), 0);
  EXPECT_FALSE(HasSharedStack());
}

} // namespace
} // namespace vantari
