#pragma once
// What the process suites share: a simulator serving one phone, and a scratch folder per test in
// which telvane-cli runs as a program of its own.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"

#if defined(TELVANE_PHONESIM_PATH) && defined(TELVANE_CLI_PATH)
namespace telvane::test {

// A simulator serving one phone on a port of its own.
class ServedPhone {
public:
    explicit ServedPhone(std::vector<std::string> args) : process_(withProgram(std::move(args))) {
        port_ = process_.readLine();
    }
    std::string device() const { return "tcp:127.0.0.1:" + port_; }
    // Sends a console command and waits for its answer (status answers once the rest is done).
    std::string command(const std::string& line) {
        process_.send(line);
        if (line == "status") return process_.readLine();
        process_.send("status");
        return process_.readLine();
    }
    // The commands the phone has received since it started.
    std::uint32_t commands() {
        const std::string status = command("status");
        const auto at = status.find("commands=");
        return at == std::string::npos ? 0 : static_cast<std::uint32_t>(std::strtoul(status.c_str() + at + 9, nullptr, 10));
    }

private:
    static std::vector<std::string> withProgram(std::vector<std::string> args) {
        args.insert(args.begin(), {TELVANE_PHONESIM_PATH, "--port", "0"});
        return args;
    }
    ChildProcess process_;
    std::string port_;
};

class CliProcess : public ::testing::Test {
protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        folder_ = std::filesystem::temp_directory_path() / ("telvane-cli-process-" + name);
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    ProgramRun cli(const std::string& device, std::vector<std::string> args) {
        args.insert(args.begin(), {TELVANE_CLI_PATH, "--device", device});
        return runProgram(args);
    }
    std::string path(const std::string& relative) const { return (folder_ / relative).string(); }

    std::filesystem::path folder_;
};

} // namespace telvane::test
#endif
