#include "points/single_read.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/points/points_fixture.h"

namespace {

using Lines = std::vector<TraceLine>;

// Address 01_101_03: slave 1, function 101 (0x65), equipment 3.
const Lines kNumbers = {
    Trace("RUVAZI> Numero d'esclave    : 1"),
    Trace("RUVAZI> Numero de fonction  : 101"),
    Trace("RUVAZI> Numero d'equipement : 3"),
};
const fake::Bytes kRequest = {0xFF, 0x06, 0x01, 0x65, 0x3C, 0x03, 0x55};
const TraceLine kEmission = Trace("RUVAZI> Emission ff 06 01 65 3c 03 55");
// The worked reply: value 0x2A and its checksum.
const fake::Bytes kReply42 = {0xFF, 0x07, 0xF0, 0x65, 0x00, 0x03, 0x2A, 0x77};
const TraceLine kRecep42 = Trace("RUVAZI> Recep. : ff 07 f0 65 00 03 2a 77");

TraceLine ReceivingRetry(int attempt) {
    return Trace("RUVAZI> DoRead() error receiving data, retry " + std::to_string(attempt) +
                 " '01_101_03'");
}

Lines Joined(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class SingleReadTest : public OnFakePort {
  protected:
    std::uint32_t Read() {
        VpiRequest request = Request(function_code::kSingleRead);
        return SingleRead(&request);
    }
};

TEST_F(SingleReadTest, StoresTheWorkedValueWithTheExactTrace) {
    player->value = 0x2A;
    device->QueueIn({0x12, 0x34, 0x56});  // left over on the line: drained first
    EXPECT_EQ(Read(), kResultDone);
    EXPECT_EQ(gateValue.value, 42);
    EXPECT_TRUE(RestOfGateUntouched());
    EXPECT_EQ(
        trace.Lines(),
        Joined({kNumbers, {kEmission, kRecep42, Trace("RUVAZI> Valeur lue : 2a, MemType : 1")}}));
    EXPECT_EQ(device->writes, std::vector<fake::Bytes>{kRequest});
    EXPECT_EQ(fake::Bytes(channel.frameBuffer + 6, channel.frameBuffer + 14), kReply42);
}

TEST_F(SingleReadTest, OnlyMemTypesOneAndFourStore) {
    struct Case {
        std::uint32_t memType;
        std::uint16_t expected;
        const char* line;
    };
    const Case cases[] = {
        {1, 0x2A, "RUVAZI> Valeur lue : 2a, MemType : 1"},
        {4, 0x2A, "RUVAZI> Valeur lue : 2a, MemType : 4"},
        {2, 0xBEEF, "RUVAZI> Valeur lue : 2a, MemType : 2"},
        {0, 0xBEEF, "RUVAZI> Valeur lue : 2a, MemType : 0"},
        {0x104, 0xBEEF, "RUVAZI> Valeur lue : 2a, MemType : 104"},
    };
    player->value = 0x2A;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.memType);
        gateValue.value = 0xBEEF;
        gate.record.MemType = c.memType;
        trace.Clear();
        EXPECT_EQ(Read(), kResultDone);
        EXPECT_EQ(gateValue.value, c.expected);
        EXPECT_EQ(trace.Lines().back(), Trace(c.line));
    }
}

TEST_F(SingleReadTest, WrongFunctionEchoIsRefusedThenTheNextAttemptSucceeds) {
    player->value = 0x2A;
    Answer({unit::Reply(0x68, 0x03, 0x11)});
    EXPECT_EQ(Read(), kResultDone);
    EXPECT_EQ(gateValue.value, 42);
    EXPECT_EQ(trace.Lines(),
              Joined({kNumbers,
                      {kEmission, Trace("RUVAZI> Recep. : ff 07 f0 68 00 03 11 8d"),
                       Trace("RUVAZI> Mauvais code fonction, a: 65, r: 68"), ReceivingRetry(1),
                       kEmission, kRecep42, Trace("RUVAZI> Valeur lue : 2a, MemType : 1")}}));
    EXPECT_EQ(device->writes.size(), 2u);
}

TEST_F(SingleReadTest, SilentUnitGivesTwoAfterFourAttempts) {
    Answer({{}, {}, {}, {}});
    EXPECT_EQ(Read(), kResultFailed);
    Lines expected = kNumbers;
    for (int attempt = 1; attempt <= 4; ++attempt) {
        // The request's checksum sits in reply byte 0, the 0 in byte 1.
        expected.push_back(kEmission);
        expected.push_back(Trace("RUVAZI> Recep. : 55 00 ee ee ee ee ee ee"));
        expected.push_back(Trace("RUVAZI> Mauvais caractere de debut de trame, a: ff, r: 55"));
        expected.push_back(ReceivingRetry(attempt));
    }
    EXPECT_EQ(trace.Lines(), expected);
    EXPECT_EQ(CallsSinceStart("ClearCommError").size(), 4u);
    EXPECT_EQ(device->writes, std::vector<fake::Bytes>(4, kRequest));
    EXPECT_EQ(ElapsedMs(), 4 * kReadTimeoutMs);
    EXPECT_EQ(gateValue.value, 0xBEEF);
}

TEST_F(SingleReadTest, SilenceAfterARequestEndingInFFFailsOnReplyByteOne) {
    // Equipment 89 makes the request's checksum FF, which passes as a start
    // byte; the 0 set after the request is what refuses the reply.
    gate.record.address = "01_101_89";
    Answer({{}});
    player->value = 7;
    EXPECT_EQ(Read(), kResultDone);
    const Lines& lines = trace.Lines();
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(lines[3], Trace("RUVAZI> Emission ff 06 01 65 3c 59 ff"));
    EXPECT_EQ(lines[4], Trace("RUVAZI> Recep. : ff 00 ee ee ee ee ee ee"));
    EXPECT_EQ(lines[5], Trace("RUVAZI> Mauvais code de retour, a: OxO7, r: 0"));
    EXPECT_EQ(gateValue.value, 7);
}

TEST_F(SingleReadTest, SevenByteReplyIsRefusedAndTheNextAttemptMade) {
    player->value = 0x2A;
    Answer({fake::Bytes(kReply42.begin(), kReply42.end() - 1)});
    EXPECT_EQ(Read(), kResultDone);
    EXPECT_EQ(trace.Lines(),
              Joined({kNumbers,
                      {kEmission,
                       // The checksum byte did not arrive: byte 7 is an old one.
                       Trace("RUVAZI> Recep. : ff 07 f0 65 00 03 2a ee"),
                       Trace("RUVAZI> Nombre de caracteres recus insuffisant"), kEmission, kRecep42,
                       Trace("RUVAZI> Valeur lue : 2a, MemType : 1")}}));
    EXPECT_EQ(device->writes.size(), 2u);
}

TEST_F(SingleReadTest, SucceedsOnTheThirdAttempt) {
    player->value = 0x2A;
    Answer({{}, {}});
    EXPECT_EQ(Read(), kResultDone);
    EXPECT_EQ(device->writes, std::vector<fake::Bytes>(3, kRequest));
    const Lines& lines = trace.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), ReceivingRetry(1)), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), ReceivingRetry(2)), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), ReceivingRetry(3)), 0);
    EXPECT_EQ(lines.back(), Trace("RUVAZI> Valeur lue : 2a, MemType : 1"));
    EXPECT_EQ(gateValue.value, 42);
}

TEST_F(SingleReadTest, NoPortGivesOneWithNothingLogged) {
    channel.portHandle = nullptr;
    EXPECT_EQ(Read(), kResultRefused);
    // Missing records are not looked at before the port.
    gate.record.address = nullptr;
    EXPECT_EQ(Read(), kResultRefused);
    EXPECT_TRUE(trace.Lines().empty());
    EXPECT_TRUE(CallsSinceStart().empty());
    EXPECT_EQ(gateValue.value, 0xBEEF);
}

TEST_F(SingleReadTest, ShortRepliesNeverStoreALeftOverValueByte) {
    // A first read leaves a full reply with value 2A in the reply area; the
    // unit then sends only the first bytes of replies carrying 0x11.
    player->value = 0x2A;
    ASSERT_EQ(Read(), kResultDone);
    for (std::size_t arrived : {2u, 5u, 6u, 7u}) {
        SCOPED_TRACE(arrived);
        gateValue.value = 0xBEEF;
        player->value = 0x11;
        player->answer = [arrived](unsigned, const fake::Bytes& correct) {
            return fake::Bytes(correct.begin(), correct.begin() + static_cast<long>(arrived));
        };
        trace.Clear();
        EXPECT_EQ(Read(), kResultFailed);
        EXPECT_EQ(gateValue.value, 0xBEEF);
        const Lines& lines = trace.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             Trace("RUVAZI> Nombre de caracteres recus insuffisant")),
                  4);
        for (const TraceLine& line : lines) {
            EXPECT_EQ(line.text.find("Valeur lue"), std::string::npos) << line;
            EXPECT_EQ(line.text.find("error receiving"), std::string::npos) << line;
        }
    }
}

TEST_F(SingleReadTest, WrongChecksumIsRefusedThenAGoodReplyRead) {
    // A line error in the value byte: 2A became 2B, the checksum is 2A's.
    player->value = 0x2A;
    Answer({{0xFF, 0x07, 0xF0, 0x65, 0x00, 0x03, 0x2B, 0x77}});
    EXPECT_EQ(Read(), kResultDone);
    EXPECT_EQ(trace.Lines(),
              Joined({kNumbers,
                      {kEmission, Trace("RUVAZI> Recep. : ff 07 f0 65 00 03 2b 77"),
                       Trace("RUVAZI> Mauvais checksum, a: 76, r: 77"), ReceivingRetry(1),
                       kEmission, kRecep42, Trace("RUVAZI> Valeur lue : 2a, MemType : 1")}}));
    EXPECT_EQ(device->writes.size(), 2u);
    EXPECT_EQ(gateValue.value, 42);
}

TEST_F(SingleReadTest, ReplyForAnotherEquipmentIsRefused) {
    player->value = 0x2A;
    Answer({unit::Reply(0x65, 0x04, 0x11)});
    EXPECT_EQ(Read(), kResultDone);
    EXPECT_EQ(trace.Lines(),
              Joined({kNumbers,
                      {kEmission, Trace("RUVAZI> Recep. : ff 07 f0 65 00 04 11 8f"),
                       Trace("RUVAZI> Mauvais code de retour, a: 3, r: 4"), ReceivingRetry(1),
                       kEmission, kRecep42, Trace("RUVAZI> Valeur lue : 2a, MemType : 1")}}));
    EXPECT_EQ(gateValue.value, 42);
}

TEST_F(SingleReadTest, AddressesThatDoNotConvertAreRefusedBeforeAnyExchange) {
    for (const char* address : {"0A_101_05", "FF_101_05", "A0_104_99", " 1_101_05", "01_101_5"}) {
        SCOPED_TRACE(address);
        gate.record.address = address;
        trace.Clear();
        EXPECT_EQ(Read(), kResultRefused);
        EXPECT_EQ(trace.Lines(),
                  Lines{Trace(std::string("RUVAZI> Adresse non convertible '") + address + "'")});
    }
    EXPECT_TRUE(CallsSinceStart().empty());
    EXPECT_EQ(gateValue.value, 0xBEEF);
}

TEST_F(SingleReadTest, LongAddressConvertsItsFirstNineAndShowsAtMost31) {
    const std::string address = "01_101_03" + std::string(191, 'x');
    gate.record.address = address.c_str();
    Answer({{}});
    player->value = 0x2A;
    EXPECT_EQ(Read(), kResultDone);
    EXPECT_EQ(device->writes[0], kRequest);
    EXPECT_EQ(trace.Lines()[6], Trace("RUVAZI> DoRead() error receiving data, retry 1 '01_101_03" +
                                      std::string(22, 'x') + "'"));
}

TEST_F(SingleReadTest, RequestThatCannotBeSentIsRetried) {
    player->value = 0x2A;
    fake::Fail(fake::Call::WriteFile, 1);
    EXPECT_EQ(Read(), kResultDone);
    EXPECT_EQ(
        trace.Lines(),
        Joined({kNumbers,
                {kEmission, Trace("RUVAZI> Send() error: unable to send to com port, 6 pour 7"),
                 Trace("RUVAZI> DoRead() error sending data, retry 1 '01_101_03'"), kEmission,
                 kRecep42, Trace("RUVAZI> Valeur lue : 2a, MemType : 1")}}));
}

TEST_F(SingleReadTest, MissingRecordsAreRefusedBeforeAnyExchange) {
    const TraceLine missing = Trace("RUVAZI> SingleRead() called without its record");
    VpiRequest noChannel{nullptr, function_code::kSingleRead, 0, 0, &gate.record};
    EXPECT_EQ(SingleRead(&noChannel), kResultRefused);
    VpiRequest noRecord{&channel, function_code::kSingleRead, 0, 0, nullptr};
    EXPECT_EQ(SingleRead(&noRecord), kResultRefused);
    gate.record.address = nullptr;
    EXPECT_EQ(Read(), kResultRefused);
    gate.record.address = "01_101_03";
    gate.record.gateValue = nullptr;
    EXPECT_EQ(Read(), kResultRefused);
    EXPECT_EQ(trace.Lines(), Lines(4, missing));
    EXPECT_TRUE(CallsSinceStart().empty());
}

}  // namespace
