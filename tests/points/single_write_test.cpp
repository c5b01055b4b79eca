#include "points/single_write.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/points/points_fixture.h"

namespace {

using Lines = std::vector<TraceLine>;

// Address 01_101_01: slave 1, function 101 (0x65), equipment 1.
const Lines kNumbers = {
    Trace("RUVAZI> Numero d'esclave    : 1"),
    Trace("RUVAZI> Numero de fonction  : 101"),
    Trace("RUVAZI> Numero d'equipement : 1"),
};
const fake::Bytes kWrite05 = {0xFF, 0x07, 0x01, 0x65, 0x3E, 0x01, 0x05, 0x4F};
const fake::Bytes kConfirm = {0xFF, 0x06, 0x01, 0x65, 0x3C, 0x01, 0x57};
const TraceLine kEcriture05 = Trace("RUVAZI> Ecriture : ff 07 01 65 3e 01 05 4f");
const TraceLine kConfirme = Trace("RUVAZI> Confirme ff 06 01 65 3c 01 57");
const TraceLine kClosing = Trace("RUVAZI> SingleWrite() , ret val is 2");

TraceLine Retry(const std::string& what, int attempt) {
    return Trace("RUVAZI> " + what + ", retry " + std::to_string(attempt) + " '01_101_01'");
}

class SingleWriteTest : public OnFakePort {
  protected:
    void SetUp() override {
        OnFakePort::SetUp();
        gate.record.address = "01_101_01";
        gateValue.value = 0x105;
    }

    std::uint32_t Write() {
        VpiRequest request = Request(function_code::kSingleWrite);
        return SingleWrite(&request);
    }
};

TEST_F(SingleWriteTest, ForcesTheLowByteAndConfirmsIt) {
    device->QueueIn({0x01, 0x02});  // left over on the line: drained first
    EXPECT_EQ(Write(), kResultDone);
    EXPECT_EQ(trace.Lines(),
              (Lines{Trace("RUVAZI> Data a forcer 261"), kNumbers[0], kNumbers[1], kNumbers[2],
                     kEcriture05, kConfirme, Trace("RUVAZI> Nombre de caracteres recus 7"),
                     Trace("RUVAZI> Reponse ff 07 f0 65 00 01 05 9e")}));
    EXPECT_EQ(device->writes, (std::vector<fake::Bytes>{kWrite05, kConfirm}));
    EXPECT_EQ(player->value, 0x05);
    // The host's value is only read.
    EXPECT_EQ(gateValue.value, 0x105);
    EXPECT_TRUE(RestOfGateUntouched());
    // Drain, write, 300 ms wait, drain of the unit's acknowledgement, then
    // the confirmation.
    const std::vector<std::string> calls = CallsSinceStart();
    const auto at = [&calls](const std::string& line) {
        return std::find(calls.begin(), calls.end(), line) - calls.begin();
    };
    EXPECT_LT(at("WriteFile 100 8 -> 8"), at("Sleep 300"));
    EXPECT_LT(at("Sleep 300"), at("ClearCommError 100 -> 8"));
    EXPECT_LT(at("ClearCommError 100 -> 8"), at("WriteFile 100 7 -> 7"));
    EXPECT_EQ(CallsSinceStart("ClearCommError").size(), 2u);
    EXPECT_GE(ElapsedMs(), 300u);
}

TEST_F(SingleWriteTest, ConfirmationPassesWhateverItsValueChecksumAndByte4) {
    const fake::Bytes cases[] = {
        unit::Reply(0x65, 0x01, 0x00),
        unit::Reply(0x65, 0x01, 0xFF),
        unit::Reply(0x65, 0x01, 0x05, 0x99),
        {0xFF, 0x07, 0xF0, 0x65, 0x00, 0x01, 0x05, 0x00},  // wrong checksum
    };
    for (const fake::Bytes& reply : cases) {
        SCOPED_TRACE(::testing::PrintToString(reply));
        Answer({reply});
        device->writes.clear();
        EXPECT_EQ(Write(), kResultDone);
        EXPECT_EQ(device->writes.size(), 2u);
    }
}

TEST_F(SingleWriteTest, Function104IsRefusedBeforeAnyDrain) {
    gate.record.address = "01_104_01";
    EXPECT_EQ(Write(), kResultRefused);
    EXPECT_EQ(trace.Lines(), (Lines{Trace("RUVAZI> Data a forcer 261"), kNumbers[0],
                                    Trace("RUVAZI> Numero de fonction  : 104"), kNumbers[2]}));
    EXPECT_TRUE(CallsSinceStart().empty());
}

TEST_F(SingleWriteTest, RefusedCompleteConfirmationEndsTheCallAfterOneAttempt) {
    struct Case {
        fake::Bytes reply;
        const char* reponse;
        const char* check;
    };
    const Case cases[] = {
        {unit::Reply(0x65, 0x02, 0x05), "RUVAZI> Reponse ff 07 f0 65 00 02 05 9d",
         "RUVAZI> Mauvais code de retour, a: 1, r: 2"},
        {unit::Reply(0x68, 0x01, 0x05), "RUVAZI> Reponse ff 07 f0 68 00 01 05 9b",
         "RUVAZI> Mauvais code de retour, a: 65, r: 68"},
        {unit::Sealed({0xFE, 0x07, 0xF0, 0x65, 0x00, 0x01, 0x05, 0x00}),
         "RUVAZI> Reponse fe 07 f0 65 00 01 05 9e",
         "RUVAZI> Mauvais caractere de debut de trame, a: ff, r: fe"},
        {unit::Sealed({0xFF, 0x07, 0xF1, 0x65, 0x00, 0x01, 0x05, 0x00}),
         "RUVAZI> Reponse ff 07 f1 65 00 01 05 9d",
         "RUVAZI> Mauvais code de retour, a: OxF0, r: f1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.check);
        Answer({c.reply});
        device->writes.clear();
        trace.Clear();
        EXPECT_EQ(Write(), kResultFailed);
        EXPECT_EQ(device->writes, (std::vector<fake::Bytes>{kWrite05, kConfirm}));
        EXPECT_EQ(trace.Lines(),
                  (Lines{Trace("RUVAZI> Data a forcer 261"), kNumbers[0], kNumbers[1], kNumbers[2],
                         kEcriture05, kConfirme, Trace("RUVAZI> Nombre de caracteres recus 7"),
                         Trace(c.reponse), Trace(c.check)}));
    }
}

TEST_F(SingleWriteTest, SilentUnitGetsFourRoundsThenTheClosingLine) {
    player->acknowledgeWrites = false;
    Answer({{}, {}, {}, {}});
    EXPECT_EQ(Write(), kResultFailed);
    Lines expected = {Trace("RUVAZI> Data a forcer 261"), kNumbers[0], kNumbers[1], kNumbers[2]};
    std::vector<fake::Bytes> writes;
    for (int attempt = 1; attempt <= 4; ++attempt) {
        expected.push_back(kEcriture05);
        expected.push_back(kConfirme);
        expected.push_back(Retry("DoRead() error receiving data", attempt));
        writes.push_back(kWrite05);
        writes.push_back(kConfirm);
    }
    expected.push_back(kClosing);
    EXPECT_EQ(trace.Lines(), expected);
    EXPECT_EQ(device->writes, writes);
    EXPECT_EQ(CallsSinceStart("Sleep"), std::vector<std::string>(4, "Sleep 300"));
    EXPECT_EQ(ElapsedMs(), 4 * (300 + kReadTimeoutMs));
}

TEST_F(SingleWriteTest, NothingCanBeSent) {
    fake::Fail(fake::Call::WriteFile, fake::kForever);
    EXPECT_EQ(Write(), kResultFailed);
    Lines expected = {Trace("RUVAZI> Data a forcer 261"), kNumbers[0], kNumbers[1], kNumbers[2]};
    for (int attempt = 1; attempt <= 4; ++attempt) {
        expected.push_back(kEcriture05);
        expected.push_back(Trace("RUVAZI> Send() error: unable to send to com port, 7 pour 8"));
        expected.push_back(Retry("DoWrite() error sending write request", attempt));
    }
    expected.push_back(kClosing);
    EXPECT_EQ(trace.Lines(), expected);
    EXPECT_TRUE(CallsSinceStart("Sleep").empty());
    EXPECT_EQ(CallsSinceStart("WriteFile").size(), 4u);
    EXPECT_EQ(player->readRequests, 0u);
}

TEST_F(SingleWriteTest, FailedConfirmationOrShortReplyLeadsToTheNextAttempt) {
    // Attempt 1: the confirmation cannot be sent. Attempt 2: only 7 bytes
    // come back, which is not examined. Attempt 3 succeeds.
    fake::Fail(fake::Call::WriteFile, 1, 1);
    Answer({fake::Bytes(7, 0xFF)});
    EXPECT_EQ(Write(), kResultDone);
    EXPECT_EQ(trace.Lines(),
              (Lines{Trace("RUVAZI> Data a forcer 261"), kNumbers[0], kNumbers[1], kNumbers[2],
                     kEcriture05, kConfirme,
                     Trace("RUVAZI> Send() error: unable to send to com port, 6 pour 7"),
                     Retry("DoRead() error sending data", 1), kEcriture05, kConfirme,
                     Retry("DoRead() error receiving data", 2), kEcriture05, kConfirme,
                     Trace("RUVAZI> Nombre de caracteres recus 7"),
                     Trace("RUVAZI> Reponse ff 07 f0 65 00 01 05 9e")}));
    EXPECT_EQ(CallsSinceStart("Sleep").size(), 3u);
}

TEST_F(SingleWriteTest, NoPortGivesOneWithNothingLogged) {
    channel.portHandle = nullptr;
    EXPECT_EQ(Write(), kResultRefused);
    gate.record.gateValue = nullptr;
    EXPECT_EQ(Write(), kResultRefused);
    EXPECT_TRUE(trace.Lines().empty());
    EXPECT_TRUE(CallsSinceStart().empty());
}

TEST_F(SingleWriteTest, AddressThatDoesNotConvertIsRefusedAfterTheValueLine) {
    gate.record.address = "0A_101_05";
    EXPECT_EQ(Write(), kResultRefused);
    EXPECT_EQ(trace.Lines(), (Lines{Trace("RUVAZI> Data a forcer 261"),
                                    Trace("RUVAZI> Adresse non convertible '0A_101_05'")}));
    EXPECT_TRUE(CallsSinceStart().empty());
}

TEST_F(SingleWriteTest, MissingRecordsAreRefusedBeforeAnyExchange) {
    const TraceLine missing = Trace("RUVAZI> SingleWrite() called without its record");
    VpiRequest noChannel{nullptr, function_code::kSingleWrite, 0, 0, &gate.record};
    EXPECT_EQ(SingleWrite(&noChannel), kResultRefused);
    VpiRequest noRecord{&channel, function_code::kSingleWrite, 0, 0, nullptr};
    EXPECT_EQ(SingleWrite(&noRecord), kResultRefused);
    gate.record.address = nullptr;
    EXPECT_EQ(Write(), kResultRefused);
    gate.record.address = "01_101_01";
    gate.record.gateValue = nullptr;
    EXPECT_EQ(Write(), kResultRefused);
    EXPECT_EQ(trace.Lines(), Lines(4, missing));
    EXPECT_TRUE(CallsSinceStart().empty());
}

}  // namespace
