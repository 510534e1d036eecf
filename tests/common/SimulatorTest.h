#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "common/SimulatorProcess.h"

namespace hopwell::testing {

// A test suite with one simulator for all its tests: started before the first test and
// stopped after the last; every test begins with a running, freshly reset simulator. A start
// failure fails each test (in SetUpTestSuite it would only skip them).
class SimulatorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = new SimulatorProcess();
    sim_->Start(&startError_);
  }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(sim_ && sim_->IsRunning()) << startError_;
    ASSERT_TRUE(sim_->Reset());
  }

  inline static SimulatorProcess* sim_ = nullptr;
  inline static std::string startError_;
};

}  // namespace hopwell::testing
