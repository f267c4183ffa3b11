// The port of an "http://" output URL, and the server started on it.

#include "httpserver/HttpOutputPort.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

struct PortCase {
    const char* url;
    const char* text;
    int port; // 0: refused
};

class HttpOutputPort : public ::testing::TestWithParam<PortCase> {};

TEST_P(HttpOutputPort, PortTextAndNumber)
{
    const PortCase& c = GetParam();
    EXPECT_EQ(tv::httpPortText(c.url), c.text);
    const auto port = tv::httpPort(c.text);
    if (c.port == 0)
        EXPECT_FALSE(port.ok());
    else
        EXPECT_EQ(port.value(), c.port);
}

INSTANTIATE_TEST_SUITE_P(Table, HttpOutputPort,
                         ::testing::Values(PortCase{"http://0.0.0.0:8080", "8080", 8080},
                                           PortCase{"http://8080", "8080", 8080},
                                           PortCase{"http://0.0.0.0:8080/live", "8080/live", 0},
                                           PortCase{"http://host:9000:extra", "9000", 9000},
                                           PortCase{"http://[::1]:8080", "", 0},
                                           PortCase{"http://host", "host", 0},
                                           PortCase{"http://host:", "", 0},
                                           PortCase{"http://host:0", "0", 0},
                                           PortCase{"http://host:65535", "65535", 65535},
                                           PortCase{"http://host:70000", "70000", 0},
                                           PortCase{"http://host:-80", "-80", 0},
                                           PortCase{"http://host: 80", " 80", 0}));

TEST(HttpOutput, APortInUseOrNoPortGivesTheOperatorsText)
{
    static int argc = 1;
    static char name[] = "httpserver_port_test";
    static char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    auto first = tv::THttpStreamer::create(0, "Tilvaron");
    ASSERT_TRUE(first.ok()) << first.error();
    const std::string port = std::to_string(first.value()->port());

    auto taken = tv::createHttpStreamerFor("http://0.0.0.0:" + port, "Tilvaron");
    ASSERT_FALSE(taken.ok());
    EXPECT_EQ(taken.error(), "Port " + port + " is inuse!");

    auto notANumber = tv::createHttpStreamerFor("http://0.0.0.0:8080/live", "Tilvaron");
    ASSERT_FALSE(notANumber.ok());
    EXPECT_EQ(notANumber.error(), "Port 8080/live is inuse!");

    first.value().reset();
    auto free = tv::createHttpStreamerFor("http://" + port, "Tilvaron");
    ASSERT_TRUE(free.ok()) << free.error();
    EXPECT_EQ(free.value()->port(), std::stoi(port));
    EXPECT_EQ(free.value()->TVName, "Tilvaron");
}
