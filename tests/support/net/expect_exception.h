#pragma once
// Runs a call that must throw E, and checks the exception's text and code;
// a call that throws nothing, or something else, fails the test.
#include <exception>
#include <string>

#include <gtest/gtest.h>

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

}  // namespace testsupport
