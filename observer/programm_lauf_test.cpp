// Running an external program: its output when it ends, nothing when it cannot
// start, hangs or floods, and default stop signals in the child.
#include "observer/programm_lauf.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

namespace hoerspur {
namespace {

std::optional<std::string> sh(const std::string& skript, ProgrammGrenzen g = {}) {
    return fuehreProgrammAus("/bin/sh", {"-c", skript}, g);
}

TEST(ProgrammLauf, OutputIsReturnedWhateverTheExitStatus) {
    EXPECT_EQ(sh("printf 'a b\\n  4711 zoom\\n'"), "a b\n  4711 zoom\n");
    EXPECT_EQ(sh("echo x; echo fehler >&2; exit 3"), "x\n");
    EXPECT_EQ(sh("true"), "");
}

TEST(ProgrammLauf, AMissingProgramGivesNothing) {
    EXPECT_FALSE(fuehreProgrammAus("/nicht/da/ps", {"-A"}).has_value());
}

TEST(ProgrammLauf, AHangingProgramIsKilledAtItsTimeLimit) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sh("echo teil; exec sleep 30", {0.3, 1024}).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    // One that closes its output but does not exit is not waited for either.
    EXPECT_FALSE(sh("exec >&-; sleep 30", {0.3, 1024}).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
}

TEST(ProgrammLauf, AFloodingProgramIsStoppedAtItsSizeLimit) {
    EXPECT_FALSE(sh("yes zoom", {10.0, 100000}).has_value());
    EXPECT_EQ(sh("head -c 100000 /dev/zero", {10.0, 100000})->size(), 100000u);
}

TEST(ProgrammLauf, StopSignalsBlockedHereHaveTheirDefaultActionInTheChild) {
    sigset_t stop;
    sigset_t alt;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, &alt);
    // Were the mask inherited, the shell would survive its own SIGTERM and print.
    const auto aus = sh("kill -TERM $$; echo ueberlebt");
    pthread_sigmask(SIG_SETMASK, &alt, nullptr);
    EXPECT_EQ(aus, "");
}

}  // namespace
}  // namespace hoerspur
