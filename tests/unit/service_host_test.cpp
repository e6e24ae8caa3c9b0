#include "service/windows/service_host.hpp"
#include "service/windows/stop_request.hpp"

#include <boost/asio/post.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace quorvex::service {
namespace {

using Reports = std::vector<ServiceStatusReport>;

// What the SCM would see: every report, and whether a report should be refused.
class ScmRecord {
public:
    Result<void> report(const ServiceStatusReport& status) {
        std::lock_guard lock(mutex_);
        reports_.push_back(status);
        changed_.notify_all();
        if (refused_state_ == status.current_state) {
            return fail(Error::os(6, "The handle is invalid."));
        }
        return {};
    }
    void refuse(std::uint32_t state) { refused_state_ = state; }
    Reports reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    // Blocks until `state` has been reported.
    void wait_for(std::uint32_t state) {
        std::unique_lock lock(mutex_);
        const bool seen = changed_.wait_for(lock, std::chrono::seconds(30), [&] {
            for (const auto& r : reports_) {
                if (r.current_state == state) {
                    return true;
                }
            }
            return false;
        });
        ASSERT_TRUE(seen) << "no report with state " << state;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Reports reports_;
    std::uint32_t refused_state_ = 0;
};

class ForwardingReporter final : public ServiceStatusReporter {
public:
    explicit ForwardingReporter(ScmRecord& record) : record_(record) {}
    Result<void> report(const ServiceStatusReport& status) override { return record_.report(status); }

private:
    ScmRecord& record_;
};

// The SCM side of one service run, with the failures a case asks for.
struct FakeService {
    ScmRecord scm;
    std::shared_ptr<StopRequest> handler_context; // what the SCM keeps for the control handler
    bool stop_at_registration = false;            // the SCM sends a stop as soon as it can
    std::optional<Error> refuse_registration;
    std::optional<Error> refuse_runtime;
    std::string served_owner;

    ServiceHostParts parts(HelperServer server) {
        return ServiceHostParts{
            .register_control_handler =
                [this](std::shared_ptr<StopRequest> stop) -> Result<std::unique_ptr<ServiceStatusReporter>> {
                if (refuse_registration) {
                    return fail(*refuse_registration);
                }
                handler_context = std::move(stop);
                if (stop_at_registration) {
                    EXPECT_EQ(handle_service_control(CONTROL_STOP, *handler_context), CONTROL_HANDLED);
                }
                return std::make_unique<ForwardingReporter>(scm);
            },
            .build_runtime = [this]() -> Result<std::unique_ptr<HelperRuntime>> {
                if (refuse_runtime) {
                    return fail(*refuse_runtime);
                }
                return HelperRuntime::create(2);
            },
            .run_server = std::move(server),
        };
    }

    // A server that serves until the StopSignal completes, as the real one does.
    HelperServer serving_until_stopped() {
        return
            [this](std::string owner, peer::ServerHost& host, HelperRuntime&) -> boost::asio::awaitable<Result<void>> {
                served_owner = owner;
                if (auto sent = host.report_running(); !sent) {
                    co_return fail(sent.error());
                }
                co_await host.stop_requested();
                co_return Result<void>{};
            };
    }
};

struct ServiceHostTest : ::testing::Test, FakeService {};

const std::string OWNER = "S-1-5-21-7-8-9-500";

TEST(ServiceOwnerCell, KeepsTheFirstValue) {
    ServiceOwnerCell cell;
    EXPECT_FALSE(cell.load().has_value());
    EXPECT_TRUE(cell.store("S-1-5-18"));
    EXPECT_FALSE(cell.store("S-1-5-19"));
    EXPECT_EQ(cell.load(), "S-1-5-18");
}

TEST_F(ServiceHostTest, StopControlLeadsToStoppingThenStopped) {
    Result<void> outcome = fail(Error::message("not run"));
    const ServiceHostParts host = parts(serving_until_stopped());
    std::thread service([&] { outcome = run_helper_service(OWNER, host); });
    scm.wait_for(SERVICE_STATE_RUNNING);
    ASSERT_TRUE(handler_context);
    EXPECT_EQ(handle_service_control(CONTROL_STOP, *handler_context), CONTROL_HANDLED);
    service.join();

    EXPECT_TRUE(outcome.has_value());
    EXPECT_EQ(served_owner, OWNER);
    EXPECT_EQ(scm.reports(), (Reports{STARTING_REPORT, RUNNING_REPORT, STOPPING_REPORT, stopped_report(false)}));

    // The server, its StopSignal and the runtime are gone: a late stop control changes nothing.
    EXPECT_EQ(handle_service_control(CONTROL_STOP, *handler_context), CONTROL_HANDLED);
    EXPECT_EQ(handle_service_control(CONTROL_INTERROGATE, *handler_context), CONTROL_HANDLED);
    EXPECT_EQ(scm.reports(), (Reports{STARTING_REPORT, RUNNING_REPORT, STOPPING_REPORT, stopped_report(false)}))
        << "no report after stopped";
}

TEST_F(ServiceHostTest, ControlsOtherThanStopDoNotStopTheService) {
    const ServiceHostParts host = parts(serving_until_stopped());
    std::thread service([&] { (void)run_helper_service(OWNER, host); });
    scm.wait_for(SERVICE_STATE_RUNNING);
    EXPECT_EQ(handle_service_control(5, *handler_context), CONTROL_NOT_IMPLEMENTED);
    EXPECT_EQ(handle_service_control(CONTROL_INTERROGATE, *handler_context), CONTROL_HANDLED);
    EXPECT_EQ(scm.reports(), (Reports{STARTING_REPORT, RUNNING_REPORT}));
    EXPECT_EQ(handle_service_control(CONTROL_STOP, *handler_context), CONTROL_HANDLED);
    service.join();
    EXPECT_EQ(scm.reports().back(), stopped_report(false));
}

TEST_F(ServiceHostTest, ServerFailingBeforeRunningGivesStartingThenStoppedWithOne) {
    const auto outcome = run_helper_service(
        OWNER, parts([](std::string, peer::ServerHost&, HelperRuntime&) -> boost::asio::awaitable<Result<void>> {
            co_return fail(Error::message("bind helper server: address in use"));
        }));
    ASSERT_FALSE(outcome.has_value());
    EXPECT_EQ(outcome.error().links(),
              (std::vector<std::string>{"run helper service", "bind helper server: address in use"}));
    EXPECT_EQ(scm.reports(), (Reports{STARTING_REPORT, stopped_report(true)}));
    // Nobody listens any more: a stop control is still handled and reports nothing.
    EXPECT_EQ(handle_service_control(CONTROL_STOP, *handler_context), CONTROL_HANDLED);
    EXPECT_EQ(scm.reports(), (Reports{STARTING_REPORT, stopped_report(true)}));
}

TEST_F(ServiceHostTest, StopBeforeTheRuntimeExistsLeadsStraightToShutdown) {
    stop_at_registration = true;
    const auto outcome = run_helper_service(OWNER, parts(serving_until_stopped()));
    EXPECT_TRUE(outcome.has_value());
    EXPECT_EQ(scm.reports(), (Reports{STARTING_REPORT, RUNNING_REPORT, STOPPING_REPORT, stopped_report(false)}));
}

TEST_F(ServiceHostTest, ServerThatThrowsIsAFailedRun) {
    const auto outcome = run_helper_service(
        OWNER, parts([](std::string, peer::ServerHost&, HelperRuntime&) -> boost::asio::awaitable<Result<void>> {
            co_await boost::asio::post(co_await boost::asio::this_coro::executor, boost::asio::use_awaitable);
            throw std::runtime_error("boom");
        }));
    ASSERT_FALSE(outcome.has_value());
    EXPECT_EQ(outcome.error().links(),
              (std::vector<std::string>{"run helper service", "the helper server task failed: boom"}));
    EXPECT_EQ(scm.reports(), (Reports{STARTING_REPORT, stopped_report(true)}));
}

TEST_F(ServiceHostTest, ServerRunsOnTheRuntimeItIsGiven) {
    bool on_runtime = false;
    const auto outcome = run_helper_service(
        OWNER,
        parts([&](std::string, peer::ServerHost&, HelperRuntime& runtime) -> boost::asio::awaitable<Result<void>> {
            const boost::asio::any_io_executor executor = co_await boost::asio::this_coro::executor;
            on_runtime = executor == boost::asio::any_io_executor(runtime.io().get_executor());
            // Hop to the runtime's blocking pool and back, as a blocking operation would.
            co_await boost::asio::post(runtime.blocking().get_executor(), boost::asio::use_awaitable);
            co_return Result<void>{};
        }));
    EXPECT_TRUE(outcome.has_value());
    EXPECT_TRUE(on_runtime);
}

struct EarlyFailureCase {
    const char* name;
    std::optional<std::string> owner;
    bool refuse_registration;
    std::uint32_t refused_state;
    bool refuse_runtime;
    std::vector<std::string> links;
    Reports reports;
};

TEST_F(ServiceHostTest, EachStepFailsWithItsContextAndReports) {
    const std::string os_text = "The handle is invalid. (os error 6)";
    const std::vector<EarlyFailureCase> cases{
        {"no owner", std::nullopt, false, 0, false, {"the helper service has no owner"}, {}},
        {"empty owner", std::string(), false, 0, false, {"the helper service has no owner"}, {}},
        {"registration",
         OWNER,
         true,
         0,
         false,
         {"register helper service control handler", "IO error in winapi call", "Access is denied. (os error 5)"},
         {}},
        {"starting report",
         OWNER,
         false,
         SERVICE_STATE_START_PENDING,
         false,
         {"report helper service startup", os_text},
         {STARTING_REPORT}},
        {"runtime",
         OWNER,
         false,
         0,
         true,
         {"create helper runtime", "Resource temporarily unavailable (os error 11)"},
         {STARTING_REPORT, stopped_report(true)}},
        {"runtime and stopped report",
         OWNER,
         false,
         SERVICE_STATE_STOPPED,
         true,
         {"create helper runtime", "Resource temporarily unavailable (os error 11)"},
         {STARTING_REPORT, stopped_report(true)}},
        {"stopped report",
         OWNER,
         false,
         SERVICE_STATE_STOPPED,
         false,
         {"report helper service stopped", os_text},
         {STARTING_REPORT, stopped_report(false)}},
    };
    for (const auto& c : cases) {
        FakeService fresh;
        if (c.refuse_registration) {
            fresh.refuse_registration = Error::os(5, "Access is denied.").context("IO error in winapi call");
        }
        if (c.refuse_runtime) {
            fresh.refuse_runtime = Error::os(11, "Resource temporarily unavailable");
        }
        fresh.scm.refuse(c.refused_state);
        const auto outcome = run_helper_service(
            c.owner,
            fresh.parts([](std::string, peer::ServerHost&, HelperRuntime&) -> boost::asio::awaitable<Result<void>> {
                co_return Result<void>{};
            }));
        ASSERT_FALSE(outcome.has_value()) << c.name;
        EXPECT_EQ(outcome.error().links(), c.links) << c.name;
        EXPECT_EQ(fresh.scm.reports(), c.reports) << c.name;
    }
}

TEST(HelperRuntime, StartsWorkers) {
    auto runtime = HelperRuntime::create(0);
    ASSERT_TRUE(runtime.has_value());
    EXPECT_EQ((*runtime)->worker_count(), 1u);

    std::promise<std::thread::id> ran;
    boost::asio::post((*runtime)->io(), [&] { ran.set_value(std::this_thread::get_id()); });
    EXPECT_NE(ran.get_future().get(), std::this_thread::get_id());
    (*runtime)->shutdown();
    (*runtime)->shutdown();
}

TEST(HelperRuntime, UsesEveryLogicalProcessor) {
    EXPECT_GE(logical_processor_count(), 1u);
    auto runtime = build_helper_runtime();
    ASSERT_TRUE(runtime.has_value());
    // The service main thread is the last one, lent while the server runs.
    EXPECT_EQ((*runtime)->worker_count(), std::max(1u, logical_processor_count() - 1));
}

TEST(HelperRuntime, LentThreadRunsHandlersUntilStopped) {
    auto runtime = HelperRuntime::create(1);
    ASSERT_TRUE(runtime.has_value());
    auto& io = (*runtime)->io();
    // The worker is held in a handler, so only the lent thread can run the next one, which stops
    // the io_context: that is what returns the lent thread.
    std::promise<void> worker_held;
    std::promise<void> release;
    boost::asio::post(io, [&] {
        worker_held.set_value();
        release.get_future().wait();
    });
    worker_held.get_future().wait();
    std::thread::id ran_on;
    boost::asio::post(io, [&] {
        ran_on = std::this_thread::get_id();
        io.stop();
        release.set_value();
    });
    (*runtime)->run_on_this_thread();
    EXPECT_EQ(ran_on, std::this_thread::get_id());
    (*runtime)->shutdown();
}

} // namespace
} // namespace quorvex::service
