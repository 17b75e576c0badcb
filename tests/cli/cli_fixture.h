#pragma once
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/fault_plan.h"
#include "sim/phone_factory.h"
#include "sim/virtual_driver.h"
#include "support/fake_clock.h"
#include "support/forwarding_port.h"
#include "tools/cli/cli.h"

namespace telvane::test {

// The phone's port as the tool gets it, with every request shown to the test first.
class WatchedPort final : public ForwardingPort {
public:
    WatchedPort(DevicePort& inner, std::function<void(std::span<const std::uint8_t>)>& watch)
        : ForwardingPort(inner), watch_(watch) {}
    RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t limitMs) override {
        if (watch_) watch_(input);
        return inner_.request(handle, code, input, output, limitMs);
    }

private:
    std::function<void(std::span<const std::uint8_t>)>& watch_;
};

// telvane-cli runs in this process against a virtual phone that outlives them (as a phone
// outlives the program's runs), on a clock whose sleeps take no time, in a folder of its own.
class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A parameterised test's name holds a '/': it must not make a folder of its own.
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        folder_ = std::filesystem::temp_directory_path() /
                  ("telvane-cli-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" + name);
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        usePhone("tree");
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    // A fresh phone of that profile takes the place of the one attached.
    void usePhone(const std::string& profile) {
        std::string error;
        driver_ = sim::makeVirtualDriver(*sim::selectPhoneProfile(profile, "", error));
    }
    sim::VirtualDriver& driver() { return *driver_; }
    void addFault(const std::string& rule) { driver_->addFault(*sim::parseFaultRule(rule)); }

    std::string path(const std::string& relative) const { return (folder_ / relative).string(); }

    // One run; its output is in out() and err() until the next.
    int run(std::vector<std::string> args) {
        out_.str("");
        err_.str("");
        cli::CliEnvironment environment(out_, err_, clock_,
                                        [this](const DeviceChoice&, const std::vector<std::string>&, LogSink&,
                                               std::string&) -> std::unique_ptr<DevicePort> {
                                            ++opens_;
                                            return std::make_unique<WatchedPort>(*driver_, onRequest_);
                                        });
        environment.defaultDevice = "virtual";
        environment.errIsTerminal = terminal_;
        environment.interrupted = &interrupted_;
        environment.canAsk = true;
        environment.undoFolder = folder_ / "undo";
        environment.confirm = [this](const std::string& question) {
            questions_.push_back(question);
            // Ctrl+C while the question is on the screen.
            if (interruptOnQuestion_) interrupted_ = true;
            return answer_;
        };
        return cli::runCli(args, environment);
    }
    std::string out() const { return out_.str(); }
    std::string err() const { return err_.str(); }

    std::filesystem::path folder_;
    std::unique_ptr<sim::VirtualDriver> driver_;
    FakeClock clock_;
    std::ostringstream out_;
    std::ostringstream err_;
    int opens_ = 0;
    std::atomic<bool> interrupted_{false};
    bool answer_ = false;
    bool interruptOnQuestion_ = false;
    // Sees every driver request before the phone does (the command frames among them).
    std::function<void(std::span<const std::uint8_t> input)> onRequest_;
    bool terminal_ = false; // stderr taken for a terminal
    std::vector<std::string> questions_;
};

} // namespace telvane::test
