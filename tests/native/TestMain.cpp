// The native tests' main: GoogleTest with a bound on each test's real time, so that a test
// whose code under test hangs (a loop that lets no time pass, a wait on a thread or a real
// port) ends the run as that test's failure within seconds instead of stalling the layer.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Several times the slowest test's own time under the sanitizers on a loaded machine;
// VARNEX_TEST_LIMIT_S sets another (0: no bound, for a debugger).
constexpr long kDefaultTestLimitS = 60;
constexpr std::chrono::milliseconds kWatchEvery{100};

long TestLimitSeconds() {
    const char* text = std::getenv("VARNEX_TEST_LIMIT_S");
    if (text == nullptr || *text == '\0') return kDefaultTestLimitS;
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    return *end == '\0' && seconds >= 0 ? seconds : kDefaultTestLimitS;
}

// The running test, for the bound and for a run that ends in std::terminate.
class RunningTest {
public:
    void Start(const testing::TestInfo& info) {
        std::lock_guard<std::mutex> hold(mutex_);
        name_ = std::string(info.test_suite_name()) + "." + info.name();
        startedAt_ = Clock::now();
        running_ = true;
    }
    void End() {
        std::lock_guard<std::mutex> hold(mutex_);
        running_ = false;
    }
    // False when no test runs; else its name and how long it has run.
    bool Get(std::string* name, std::chrono::milliseconds* ran) {
        std::lock_guard<std::mutex> hold(mutex_);
        if (!running_) return false;
        *name = name_;
        *ran = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - startedAt_);
        return true;
    }

private:
    std::mutex mutex_;
    std::string name_;
    Clock::time_point startedAt_;
    bool running_ = false;
};

RunningTest& Running() {
    static RunningTest running;
    return running;
}

// Ends the process, failed, with the test's failure line in GoogleTest's own form, which the
// test scripts count and show, and why. (Not timeout(1)'s code: that is the layer's bound.)
[[noreturn]] void EndRun(const char* why) {
    std::string name = "(between tests)";
    std::chrono::milliseconds ran{0};
    Running().Get(&name, &ran);
    std::printf("\n%s: %s\n[  FAILED  ] %s (%lld ms)\n", name.c_str(), why, name.c_str(),
                static_cast<long long>(ran.count()));
    std::fflush(stdout);
    std::_Exit(EXIT_FAILURE);
}

// Keeps the running test's name and, with a limit, ends the run when one runs past it.
class Watchdog final : public testing::EmptyTestEventListener {
public:
    explicit Watchdog(std::chrono::seconds limit) : limit_(limit) {
        if (limit_.count() > 0) thread_ = std::thread([this] { Watch(); });
    }
    ~Watchdog() override {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }
    void OnTestStart(const testing::TestInfo& info) override { Running().Start(info); }
    void OnTestEnd(const testing::TestInfo&) override { Running().End(); }

private:
    void Watch() {
        std::unique_lock<std::mutex> hold(mutex_);
        while (!wake_.wait_for(hold, kWatchEvery, [this] { return stop_; })) {
            std::string name;
            std::chrono::milliseconds ran{0};
            if (Running().Get(&name, &ran) && ran > limit_) {
                const std::string why = "ran past its bound of " + std::to_string(limit_.count()) +
                                        " s and was stopped (a hang in the code under test?)";
                EndRun(why.c_str());
            }
        }
    }

    const std::chrono::seconds limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // An exception that leaves a thread (a fake clock's RunawayTest off the test's own thread)
    // names the test it ended.
    std::set_terminate([] { EndRun("ended the program in std::terminate"); });
    // GoogleTest owns the listener and deletes it after the run.
    testing::UnitTest::GetInstance()->listeners().Append(new Watchdog(std::chrono::seconds(TestLimitSeconds())));
    return RUN_ALL_TESTS();
}
