// RIST through librist: the URL form, and a stream carried from CRistOutput
// to a CDvbIpRecvThread reading a CRistInput on loopback, byte for byte, in
// both profiles and both directions of connection.
#include "DvbIpRecvTestSupport.h"
#include "LoopbackStream.h"
#include "engine/CRistInput.h"
#include "engine/CRistOutput.h"
#include "support/LoopbackPeer.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

TEST(CRistSettings, ReadsLibristUrlsAndNamesWhatIsWrong)
{
    struct Case
    {
        const char* url;
        bool ok;
        CRistSettings::Profile profile;
        bool listener;
        const char* passed; // the URL librist gets, or a part of the error
    };
    const Case cases[] = {
        {"rist://127.0.0.1:5000", true, CRistSettings::Profile::Main, false, "rist://127.0.0.1:5000"},
        {"rist://@:5000?profile=simple", true, CRistSettings::Profile::Simple, true, "rist://@:5000"},
        {"rist://@0.0.0.0:5000?buffer=500&profile=0&cname=x", true, CRistSettings::Profile::Simple, true,
         "rist://@0.0.0.0:5000?buffer=500&cname=x"},
        {"rist://[::1]:5000?profile=1", true, CRistSettings::Profile::Main, false, "rist://[::1]:5000"},
        {"udp://127.0.0.1:5000", false, {}, false, "no rist:// URL"},
        {"rist://127.0.0.1", false, {}, false, "has no port"},
        {"rist://@:70000", false, {}, false, "has no port"},
        {"rist://127.0.0.1:5000?profile=advanced", false, {}, false, "advanced profile"},
        {"rist://127.0.0.1:5000?profile=best", false, {}, false, "'best' is not simple or main"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.url);
        CRistSettings s;
        std::string error;
        ASSERT_EQ(CRistSettings::Parse(c.url, s, error), c.ok) << error;
        if (!c.ok)
        {
            EXPECT_NE(error.find(c.passed), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(std::tie(s.profile, s.listener, s.url, s.port),
                  std::make_tuple(c.profile, c.listener, std::string(c.passed), std::uint16_t{5000}));
    }
    CRistSettings s;
    std::string error;
    ASSERT_TRUE(CRistSettings::Parse("rist://10.0.0.1:6000?secret=verysecret1&aes-type=128", s, error));
    EXPECT_EQ(s.ToDisplayUrl(), "rist://10.0.0.1:6000?secret=***&aes-type=128&profile=main");
}

namespace
{
// A listener's URL and the caller's that reaches it, on a port free a moment ago.
struct Pair
{
    std::string listen;
    std::string call;
};

Pair Urls(CRistSettings::Profile profile)
{
    // The simple profile takes the even port and the odd one above it.
    const std::uint16_t port = static_cast<std::uint16_t>(tstest::FreePort() & ~1u);
    const std::string query = profile == CRistSettings::Profile::Simple ? "?profile=simple" : "?profile=main";
    return {"rist://@127.0.0.1:" + std::to_string(port) + query, "rist://127.0.0.1:" + std::to_string(port) + query};
}

CRistSettings Parsed(const std::string& url)
{
    CRistSettings s;
    std::string error;
    EXPECT_TRUE(CRistSettings::Parse(url, s, error)) << error;
    return s;
}
} // namespace

TEST(CRistLink, RefusalsNameTheirReason)
{
    CRistOutput simpleListener(Parsed("rist://@127.0.0.1:7000?profile=simple"));
    EXPECT_FALSE(simpleListener.Open());
    EXPECT_NE(simpleListener.GetOpenError().find("needs the main profile"), std::string::npos);

    const Pair urls = Urls(CRistSettings::Profile::Main);
    CRistInput first(Parsed(urls.listen));
    CRistInput second(Parsed(urls.listen));
    IDatagramInput::Sink sink{[] { return nullptr; }, [](DvbIpRecvBuffer*) {}, [](std::uint32_t) {},
                              [](DvbIpRecvBuffer*) {}};
    ASSERT_TRUE(first.Open(sink)) << first.LastError();
    EXPECT_FALSE(second.Open(sink));
    EXPECT_NE(second.LastError().find("cannot listen on"), std::string::npos) << second.LastError();
    EXPECT_TRUE(first.Close(std::chrono::seconds(2)));
}
