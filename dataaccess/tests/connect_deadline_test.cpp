// A connect ends whatever the server does: servers on the loopback that stay silent, drip a
// byte a second, or hang up, reached through FreeTDS and psqlODBC.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <zembra/test/loopback_listener.hpp>

#include "test_env.hpp"

namespace zembra::test {
namespace {

using Mode = LoopbackListener::Mode;
using namespace std::chrono_literals;

// Opens on a thread of its own and gives up waiting after 30 s, so that a connect that
// hangs fails the test instead of stalling the run. Returns the error the open raised.
std::optional<Error> openGuarded(const std::string& text) {
    struct Outcome {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::optional<Error> error;
    };
    auto outcome = std::make_shared<Outcome>();
    std::thread([outcome, text] {
        std::optional<Error> error;
        try {
            db::Connection connection;
            connection.open(text);
        } catch (const Error& e) {
            error = e;
        }
        std::lock_guard lock(outcome->mutex);
        outcome->error = std::move(error);
        outcome->finished = true;
        outcome->done.notify_one();
    }).detach();
    std::unique_lock lock(outcome->mutex);
    if (!outcome->done.wait_for(lock, 30s, [&] { return outcome->finished; })) {
        ADD_FAILURE() << "the connect was still waiting after 30 s: " << text;
        return std::nullopt;
    }
    if (!outcome->error) ADD_FAILURE() << "a connect to a broken server succeeded: " << text;
    return outcome->error;
}

std::string serverString(const char* driver, uint16_t port, const char* extra = "") {
    return std::string("Driver={") + driver + "}; Server=127.0.0.1; Port=" + std::to_string(port) +
           "; Database=zips; UID=sa; PWD=secret" + extra;
}

struct Case {
    Mode mode;
    const char* driver;
    const char* extra;     // appended to the connection string
    const char* expected;  // part of the description
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.driver << c.extra << " expecting \"" << c.expected << "\"";
}

class ConnectDeadline : public ::testing::TestWithParam<Case> {};

TEST_P(ConnectDeadline, EndsWithTheDatabaseErrorAndSaysWhy) {
    const Case& c = GetParam();
    LoopbackListener server(c.mode);
    const std::string text = serverString(c.driver, server.port(), c.extra);
    const std::optional<Error> e = openGuarded(text);
    ASSERT_TRUE(e);
    EXPECT_GE(server.accepted(), 1) << "the driver never reached the listener";
    EXPECT_EQ(e->number(), err::kDatabase);
    EXPECT_EQ(e->source(), "Zembra.Data.ODBC");
    EXPECT_NE(e->description().find(c.expected), std::string::npos) << e->description();
    EXPECT_EQ(e->description().find("secret"), std::string::npos) << e->description();
}

// FreeTDS without a protocol version in the string waits for ever on a silent server; with
// one, its login timeout fires and its own text is kept. A drip resets that timer with every
// byte, so only the layer's own deadline ends it.
INSTANTIATE_TEST_SUITE_P(
    Servers, ConnectDeadline,
    ::testing::Values(
        Case{Mode::Silent, "FreeTDS", "", "did not answer in time. [HYT00]"},
        Case{Mode::Silent, "FreeTDS", "; TDS_Version=7.4", "did not answer in time. [HYT00]"},
        Case{Mode::Silent, "PostgreSQL", "", "did not answer in time. [08001]"},
        Case{Mode::Drip, "FreeTDS", "", "did not answer in time: no connection after"},
        Case{Mode::Drip, "FreeTDS", "; TDS_Version=7.4", "did not answer in time: no connection"},
        Case{Mode::AcceptClose, "FreeTDS", "", "[FreeTDS]"},
        Case{Mode::AcceptClose, "PostgreSQL", "", "server closed the connection"}),
    [](const ::testing::TestParamInfo<Case>& info) {
        const char* mode = info.param.mode == Mode::Silent ? "Silent"
                           : info.param.mode == Mode::Drip ? "Drip"
                                                           : "AcceptClose";
        return std::string(mode) + info.param.driver + (*info.param.extra ? "WithVersion" : "");
    });

// A connect left waiting on a stuck server holds no lock the others need: the bare-name
// lookup and a second ODBC connect go through while it waits.
TEST(ConnectDeadlineIndependence, OtherConnectsGoOnWhileOneWaits) {
    LoopbackListener server(Mode::Drip);
    std::atomic<bool> stuckReturned{false};
    std::thread stuck([&] {
        openGuarded(serverString("FreeTDS", server.port()));
        stuckReturned = true;
    });
    while (server.accepted() == 0 && !stuckReturned) std::this_thread::sleep_for(10ms);
    db::Connection connection;
    connection.open("ZipCodes");
    db::Recordset rs = connection.execute("select name from source");
    EXPECT_EQ(rs.field(0), Variant("odbc"));
    EXPECT_FALSE(stuckReturned) << "the other connect waited for the stuck one";
    stuck.join();
    EXPECT_TRUE(stuckReturned);
}

}  // namespace
}  // namespace zembra::test
