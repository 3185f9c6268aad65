// A root folder for one test of the console: named after the test, with a
// new company register in it, and standing in as the program's folder (the
// program appends its names to it with "\").
#ifndef KX8_TESTS_CONSOLE_ROOT_FIXTURE_H_
#define KX8_TESTS_CONSOLE_ROOT_FIXTURE_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/program_info.h"
#include "platform/scripted_ui.h"
#include "register/company_register.h"

namespace kx8::console {

class RootWithRegisterTest : public ::testing::Test {
 protected:
  explicit RootWithRegisterTest(std::string prefix) : prefix_(std::move(prefix)) {}

  void SetUp() override {
    base_ = std::filesystem::temp_directory_path() /
            (prefix_ + "-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(base_);
    std::filesystem::create_directories(base_);
    root_ = base_.string() + "/";
    override_ = std::make_unique<platform::ScopedProgramInfoOverride>(root_, 40073.5);
    platform::ScriptedUi quiet;
    reg::CreateRegister(root_, false, quiet);
  }
  void TearDown() override {
    override_.reset();
    std::filesystem::remove_all(base_);
  }

  std::filesystem::path base_;
  std::string root_;
  std::unique_ptr<platform::ScopedProgramInfoOverride> override_;

 private:
  std::string prefix_;
};

}  // namespace kx8::console

#endif  // KX8_TESTS_CONSOLE_ROOT_FIXTURE_H_
