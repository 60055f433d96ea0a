#include "devices/CDiscoverProtocol.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
DeviceRecord SampleRecord()
{
    return CDiscoverProtocol::MakeRecord({0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, {2, 7, 0, 13}, 0x0102030405060708ull, 4,
                                         0xC0A8010Au, "IPS-400");
}
} // namespace

TEST(CDiscoverProtocol, RecordBytesFollowTheDocumentedLayoutAndMessagesRoundTrip)
{
    const auto r = SampleRecord();
    const std::vector<std::uint8_t> expected = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55,             // MAC
                                                2,    7,    0,    13,                           // firmware, major first
                                                0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, // serial, little-endian
                                                4,                                              // streaming ports
                                                0x0A, 0x01, 0xA8, 0xC0, // 192.168.1.10, little-endian
                                                'I',  'P',  'S',  '-',  '4',  '0',  '0',  0,    0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<std::uint8_t>(r.begin(), r.end()), expected);
    EXPECT_EQ(CDiscoverProtocol::GetSerial(r), 0x0102030405060708ull);
    EXPECT_EQ(CDiscoverProtocol::GetAddress(r), 0xC0A8010Au);
    EXPECT_EQ(CDiscoverProtocol::GetModel(r), "IPS-400");

    // The request's header is checked on the wire by the discovery test.
    const auto announce = CDiscoverProtocol::MakeAnnounce(r);
    DeviceRecord parsed{};
    EXPECT_EQ(CDiscoverProtocol::Parse(announce.data(), announce.size(), &parsed),
              CDiscoverProtocol::Verdict::kAnnounce);
    EXPECT_EQ(parsed, r);
    const auto reset = CDiscoverProtocol::MakeHeader(CDiscoverProtocol::kTypeReset);
    EXPECT_EQ(CDiscoverProtocol::Parse(reset.data(), reset.size(), nullptr), CDiscoverProtocol::Verdict::kReset);
}

TEST(CDiscoverProtocol, ModelIsCutAndSanitised)
{
    auto r = CDiscoverProtocol::MakeRecord({}, {}, 1, 0, 0x0A000005u, "A-very-long-model-name");
    EXPECT_EQ(CDiscoverProtocol::GetModel(r), "A-very-long-mod");
    r[CDiscoverProtocol::kModelOffset + 1] = 0x1B; // an escape must not reach a terminal
    EXPECT_EQ(CDiscoverProtocol::GetModel(r), "A?very-long-mod");
}

TEST(CDiscoverProtocol, MalformedMessagesAreClassified)
{
    using V = CDiscoverProtocol::Verdict;
    const auto good = CDiscoverProtocol::MakeAnnounce(SampleRecord());
    struct Case
    {
        const char* name;
        std::vector<std::uint8_t> bytes;
        V verdict;
    };
    std::vector<Case> cases = {
        {"empty", {}, V::kShort},
        {"magic only", {'O', 'R', 'V', 'D'}, V::kShort},
        {"foreign magic", {'H', 'T', 'T', 'P', 1, 1, 0, 0}, V::kForeign},
        {"version 2", {'O', 'R', 'V', 'D', 2, 1, 0, 0}, V::kForeign},
        {"unknown type", {'O', 'R', 'V', 'D', 1, 9, 0, 0}, V::kForeign},
        {"discover with payload", {'O', 'R', 'V', 'D', 1, 1, 0, 0, 0}, V::kOversized},
        {"announce one byte short", std::vector<std::uint8_t>(good.begin(), good.end() - 1), V::kShort},
    };
    auto longer = std::vector<std::uint8_t>(good.begin(), good.end());
    longer.push_back(0);
    cases.push_back({"announce one byte long", longer, V::kOversized});
    for (const auto& c : cases)
    {
        DeviceRecord record{};
        record.fill(0xAA);
        EXPECT_EQ(CDiscoverProtocol::Parse(c.bytes.data(), c.bytes.size(), &record), c.verdict) << c.name;
        EXPECT_EQ(record[0], 0xAA) << c.name << ": the record is only written for a valid announcement";
    }
    EXPECT_EQ(CDiscoverProtocol::Parse(nullptr, 46, nullptr), V::kShort);
}
