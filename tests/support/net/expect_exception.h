#pragma once
// Runs a call that must throw E, and checks the exception's text and code;
// a call that throws nothing, or something else, fails the test.
#include <chrono>
#include <cstdint>
#include <exception>
#include <string>

#include <gtest/gtest.h>

#include "clients/net_exception.h"

namespace testsupport {

template <class E, class Call>
void expectException(Call call, const std::string& message, int code = 0) {
    try {
        call();
        ADD_FAILURE() << "nothing was thrown, expected \"" << message << "\"";
    } catch (const E& e) {
        EXPECT_EQ(e.message(), message);
        EXPECT_EQ(e.code(), code);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "another exception was thrown: " << e.what();
    }
}

// A peer that sends one byte every kTrickleStepMs and never ends its line:
// a wait renewed by each byte would last kTrickleBytes steps, far past a
// time-out of kTrickleTimeoutMs.
const int kTrickleStepMs = 100;
const std::size_t kTrickleBytes = 60;
const uint32_t kTrickleTimeoutMs = 500;

// Runs a call that must fail with the time-out of a client that waits
// timeoutMs, and checks that it failed within about that time.
template <class Call>
void expectTimeOut(Call call, uint32_t timeoutMs) {
    // Room for a loaded machine; still far below a trickle's full length.
    const long kSlackMs = 1500;
    const auto start = std::chrono::steady_clock::now();
    expectException<qdl::ConnectionResetException>(call, "timed out after " + std::to_string(timeoutMs) + " ms");
    const long took = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    EXPECT_GE(took, static_cast<long>(timeoutMs) - 50);
    EXPECT_LT(took, static_cast<long>(timeoutMs) + kSlackMs);
}

}  // namespace testsupport
