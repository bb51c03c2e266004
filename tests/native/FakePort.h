// A fake clock and a scripted fake serial port for driving the engines (and anything else
// written against serial::SerialPort) without hardware or real time. Time moves only when
// the code under test sleeps or waits on the port. One port and clock per thread.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/Clock.h"
#include "serial/SerialPort.h"

namespace fake {

// Thrown by a fake clock once its test has run away (see FakeClock): it leaves whatever loop
// was spinning, and GoogleTest reports it as the running test's failure.
class RunawayTest : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Code under test that loops on a wait that never ends would spin here for ever, in
// simulated time. The clock bounds each test: past kMaxSimulatedMs on one clock, or after
// kMaxStillCalls sleeps and waits in a row that let no time pass, it fails the running test
// by name and throws RunawayTest (once; never while an exception is already unwinding).
class FakeClock final : public common::Clock {
public:
    // Far beyond any engine's own bound (the longest are minutes): more is a loop that lost its exit.
    static constexpr uint64_t kMaxSimulatedMs = 60ull * 60 * common::kMsPerSecond;
    // A loop whose every call returns at once (a port that answers immediately) never moves time.
    static constexpr uint64_t kMaxStillCalls = 1000000;

    // Starts just below the 32-bit wrap by default, so tick arithmetic that is not
    // wrap-safe shows up in every test.
    explicit FakeClock(uint64_t startMs = 0xFFFFF000u) : now_(startMs), startMs_(startMs) {}
    uint64_t NowMs() override { return now_; }
    void SleepMs(uint32_t ms) override {
        sleptMs_ += ms;
        Pass(ms);
    }
    void Advance(uint64_t ms) { Pass(ms); }
    uint64_t SleptMs() const { return sleptMs_; }

private:
    void Pass(uint64_t ms) {
        now_ += ms;
        stillCalls_ = ms == 0 ? stillCalls_ + 1 : 0;
        if (now_ - startMs_ > kMaxSimulatedMs) {
            RunAway("more than " + std::to_string(kMaxSimulatedMs / common::kMsPerSecond) +
                    " s of simulated time passed");
        } else if (stillCalls_ > kMaxStillCalls) {
            RunAway(std::to_string(kMaxStillCalls) + " sleeps and waits in a row let no time pass");
        }
    }

    void RunAway(const std::string& what) {
        if (ranAway_) return;
        ranAway_ = true;
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        const std::string name = test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "a test";
        ADD_FAILURE() << name << " runs away on its fake clock: " << what
                      << "; the code under test loops on a wait that never ends";
        if (std::uncaught_exceptions() == 0) throw RunawayTest(name + ": " + what);
    }

    uint64_t now_;
    const uint64_t startMs_;
    uint64_t sleptMs_ = 0;
    uint64_t stillCalls_ = 0;
    bool ranAway_ = false;
};

// What one write does: takes at most maxBytes, spends takesMs, and answers with error.
// TimedOut spends the write's whole timeout instead (a write that stayed pending).
struct WriteStep {
    size_t maxBytes = SIZE_MAX;
    serial::PortError error = serial::PortError::None;
    uint32_t takesMs = 0;
};

class FakePort final : public serial::SerialPort {
public:
    explicit FakePort(FakeClock& clock, std::string name = "FAKE1") : clock_(clock), name_(std::move(name)) {}

    // Writes follow the script step by step, then `afterScript` for ever.
    std::deque<WriteStep> writeScript;
    WriteStep afterScript;
    // Incoming bytes and the time they arrive at.
    void Arrive(uint64_t atMs, std::vector<uint8_t> bytes) { incoming_.push_back({atMs, std::move(bytes)}); }
    // Reads fail with this at once (None: they work).
    serial::PortError readError = serial::PortError::None;
    bool cts = false;
    // CTS reads low from this time on, whatever `cts` says (the unit ending an image).
    uint64_t ctsDownAtMs = UINT64_MAX;
    // A drain takes this long (at most its timeout) and answers with drainError.
    uint32_t drainTakesMs = 0;
    serial::PortError drainError = serial::PortError::None;
    // What the port says it is (a network port may tell CTS late).
    serial::PortKind kind = serial::PortKind::Local;
    uint32_t ctsNoticeLatencyMs = 0;

    // What happened, for the test to check.
    std::vector<uint8_t> received;                           // every byte that left
    std::vector<size_t> offeredSizes;                        // the size of every write asked for
    std::vector<uint32_t> writeTimeouts;                     // the timeout of every write
    std::vector<std::pair<uint32_t, uint64_t>> baudChanges;  // speed and the time it was set
    std::vector<uint64_t> drains;                            // when each drain returned
    bool closed = false;

    const std::string& Name() const override { return name_; }
    serial::PortKind Kind() const override { return kind; }
    uint32_t CtsNoticeLatencyMs() const override { return ctsNoticeLatencyMs; }

    serial::PortStatus SetBaudRate(uint32_t baudRate) override {
        if (closed) return {serial::PortError::Io, "closed"};
        baudChanges.emplace_back(baudRate, clock_.NowMs());
        return {};
    }

    serial::PortStatus Write(const uint8_t* data, size_t size, uint32_t timeoutMs, size_t* written) override {
        offeredSizes.push_back(size);
        writeTimeouts.push_back(timeoutMs);
        *written = 0;
        if (closed) return {serial::PortError::Io, "closed"};
        WriteStep step = afterScript;
        if (!writeScript.empty()) {
            step = writeScript.front();
            writeScript.pop_front();
        }
        *written = std::min(size, step.maxBytes);
        if (*written > 0) draining_ = false;  // new bytes queued: the next drain waits afresh
        received.insert(received.end(), data, data + *written);
        clock_.Advance(step.error == serial::PortError::TimedOut ? timeoutMs : step.takesMs);
        if (step.error == serial::PortError::None) return {};
        return {step.error, "fake write failure"};
    }

    // The queue empties drainTakesMs after the first drain began; later drains wait for the
    // rest of that time.
    serial::PortStatus Drain(uint32_t timeoutMs) override {
        if (closed) return {serial::PortError::Io, "closed"};
        if (!draining_) drainEndsAtMs_ = clock_.NowMs() + drainTakesMs;
        draining_ = true;
        const uint64_t left = drainEndsAtMs_ - clock_.NowMs();
        clock_.Advance(std::min<uint64_t>(left, timeoutMs));
        drains.push_back(clock_.NowMs());
        if (left > timeoutMs) return {serial::PortError::TimedOut, "fake drain cut at its bound"};
        if (drainError != serial::PortError::None) return {drainError, "fake drain failure"};
        return {};
    }

    serial::PortStatus Read(uint8_t* buffer, size_t size, uint32_t timeoutMs, size_t* count) override {
        *count = 0;
        if (closed) return {serial::PortError::Io, "closed"};
        if (readError != serial::PortError::None) return {readError, "fake read failure"};
        if (incoming_.empty() || incoming_.front().first > clock_.NowMs()) {
            const uint64_t until = clock_.NowMs() + timeoutMs;
            const uint64_t next = incoming_.empty() ? until : std::min(until, incoming_.front().first);
            clock_.Advance(next - clock_.NowMs());
            if (incoming_.empty() || incoming_.front().first > clock_.NowMs()) return {};
        }
        auto& bytes = incoming_.front().second;
        *count = std::min(size, bytes.size());
        std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(*count), buffer);
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(*count));
        if (bytes.empty()) incoming_.pop_front();
        return {};
    }

    serial::PortStatus ReadCts(bool* on) override {
        *on = cts && clock_.NowMs() < ctsDownAtMs;
        if (closed) return {serial::PortError::Io, "closed"};
        return {};
    }

    void Close() override { closed = true; }

private:
    FakeClock& clock_;
    std::string name_;
    bool draining_ = false;
    uint64_t drainEndsAtMs_ = 0;
    std::deque<std::pair<uint64_t, std::vector<uint8_t>>> incoming_;
};

// Lends a test's FakePort to code that owns and closes its port, so that the test can still
// look at it afterwards. A test overrides what it needs to differ.
class PortLoan : public serial::SerialPort {
public:
    explicit PortLoan(FakePort& port) : port_(port) {}
    ~PortLoan() override { port_.Close(); }
    const std::string& Name() const override { return port_.Name(); }
    serial::PortKind Kind() const override { return port_.Kind(); }
    uint32_t CtsNoticeLatencyMs() const override { return port_.CtsNoticeLatencyMs(); }
    serial::PortStatus SetBaudRate(uint32_t baud) override { return port_.SetBaudRate(baud); }
    serial::PortStatus Write(const uint8_t* data, size_t size, uint32_t timeoutMs, size_t* written) override {
        return port_.Write(data, size, timeoutMs, written);
    }
    serial::PortStatus Drain(uint32_t timeoutMs) override { return port_.Drain(timeoutMs); }
    serial::PortStatus Read(uint8_t* buffer, size_t size, uint32_t timeoutMs, size_t* count) override {
        return port_.Read(buffer, size, timeoutMs, count);
    }
    serial::PortStatus ReadCts(bool* on) override { return port_.ReadCts(on); }
    void Close() override { port_.Close(); }

protected:
    FakePort& port_;
};

}  // namespace fake
