#pragma once

#include "IdComponent.h"
#include "IdStack.h"

#include <gtest/gtest.h>

#include <memory>

namespace vantari::test {

// Each test runs with an instance of TStack as the shared stack, kept by one component.
template <class TStack> class TStackFixture : public ::testing::Test {
protected:
  void SetUp() override {
    SetStackClass([] { return std::make_unique<TStack>(); });
    Component = std::make_unique<TIdComponent>();
  }
  void TearDown() override {
    Component.reset();
    SetStackClass(nullptr);
  }

  std::unique_ptr<TIdComponent> Component;
};

} // namespace vantari::test
