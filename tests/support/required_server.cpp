#include "support/required_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kestio::test {

bool serversRequired() {
    const char* value = std::getenv(kServersRequiredVariable);
    return value != nullptr && std::string_view(value) != "" && std::string_view(value) != "0";
}

void serverCannotStart(std::string_view server, std::string_view why) {
    const std::string message = std::string(server) + " could not start: " + std::string(why);
    if (serversRequired()) {
        GTEST_FATAL_FAILURE_((message + " (" + kServersRequiredVariable +
                              " is set: the test command needs every server)")
                                 .c_str());
    }
    GTEST_SKIP() << message;
}

}  // namespace kestio::test
