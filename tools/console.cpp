#include "tools/console.h"

#include <cstdlib>
#include <cstring>
#include <istream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "host/vpi_main.h"
#include "link/port_management.h"
#include "link/startup.h"
#include "points/gate_address.h"
#include "points/gate_records.h"

namespace {

const char kHelp[] =
    "commands:\n"
    "  info                                 GetVpiInfo\n"
    "  start PORT [BAUD [TIMEOUT [ENABLED]]]  ColdStart (8 data bits, 1 stop bit, no parity)\n"
    "  warm                                 WarmStart\n"
    "  parse ADDRESS [GATETYPE]             SingleAddressParser\n"
    "  read ADDRESS [MEMTYPE]               SingleRead\n"
    "  write ADDRESS VALUE                  SingleWrite\n"
    "  close | reopen | end                 CloseCom, ReOpenCom, EndVpi\n"
    "  change PORT [TIMEOUT [BAUD]]         ChangeVpiParams\n"
    "  linecontrol WORD                     set lineControl of the channel (e.g. 0x0303)\n"
    "  code N                               any function code, with no data record\n"
    "  help | quit\n";

bool ToNumber(const std::string& text, std::uint32_t* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, 0);
    if (*end != '\0' || parsed > 0xFFFFFFFFul) {
        return false;
    }
    *value = static_cast<std::uint32_t>(parsed);
    return true;
}

// Copies a port name into a 12-byte field; longer names are passed on whole
// up to the field's size, as a host might, so the module's own check shows.
void FillName(char (&field)[kPortNameSize], const std::string& name) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, name.data(), name.size() < sizeof field ? name.size() : sizeof field);
}

std::string Printable(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte >= 0x80) {
            // Latin-1 to UTF-8.
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

class Session {
  public:
    Session(const ConsoleHost& host, std::ostream& out) : host_(host), out_(out) {
        std::memset(&channel_, 0, sizeof channel_);
    }

    // Returns false for a command that was not understood.
    bool Run(const std::vector<std::string>& words);

  private:
    std::uint32_t Call(std::uint32_t code, void* record) {
        VpiRequest request{&channel_, code, 0, 0, record};
        const std::uint32_t result = host_.vpiMain(&request);
        if (host_.flushTrace != nullptr) {
            host_.flushTrace(out_);
        }
        return result;
    }
    void Result(std::uint32_t result) { out_ << "= " << result << "\n"; }

    const ConsoleHost& host_;
    std::ostream& out_;
    ComChannel channel_;
    std::string address_;  // keeps the text alive while the module reads it
};

bool Session::Run(const std::vector<std::string>& words) {
    const std::string& command = words[0];
    const std::size_t count = words.size();
    std::uint32_t number = 0;

    if (command == "help") {
        out_ << kHelp;
        return true;
    }
    if (command == "info" && count == 1) {
        VpiInfo info{};
        const std::uint32_t result = Call(function_code::kGetVpiInfo, &info);
        if (result == kResultDone && info.shortName != nullptr && info.banner != nullptr) {
            out_ << "  words " << info.word0 << " " << info.word3 << " " << info.word4 << " "
                 << info.word7 << "\n  short name \"" << Printable(info.shortName)
                 << "\"\n  banner \"" << Printable(info.banner) << "\"\n";
        }
        Result(result);
        return true;
    }
    if (command == "start" && count >= 2 && count <= 5) {
        StartParams params{};
        FillName(params.portName, words[1]);
        params.comEnabled = 1;
        params.readTimeout = 100;
        params.lineSettings = LineSettings{9600, 8, 0, 0};
        if ((count > 2 && !ToNumber(words[2], &number)) || number > 0xFFFF) {
            return false;
        }
        if (count > 2) {
            params.lineSettings.baudRate = static_cast<std::uint16_t>(number);
        }
        if (count > 3 && !ToNumber(words[3], &params.readTimeout)) {
            return false;
        }
        if (count > 4 && !ToNumber(words[4], &params.comEnabled)) {
            return false;
        }
        Result(Call(function_code::kColdStart, &params));
        return true;
    }
    if (command == "change" && count >= 2 && count <= 4) {
        VpiParams params{};
        FillName(params.portName, words[1]);
        if (count > 2 && !ToNumber(words[2], &params.readTimeout)) {
            return false;
        }
        if (count > 3) {
            if (!ToNumber(words[3], &number) || number > 0xFFFF) {
                return false;
            }
            params.lineSettings = LineSettings{static_cast<std::uint16_t>(number), 8, 0, 0};
        }
        Result(Call(function_code::kChangeVpiParams, &params));
        return true;
    }
    if (command == "parse" && (count == 2 || count == 3)) {
        address_ = words[1];
        AddressParseRecord record{};
        record.address = address_.c_str();
        const bool function104 = address_.size() > 5 && address_[5] == '4';
        record.gateType = function104 ? gate_type::kFunction104 : gate_type::kFunction101;
        if (count == 3 && !ToNumber(words[2], &record.gateType)) {
            return false;
        }
        Result(Call(function_code::kSingleAddressParser, &record));
        return true;
    }
    if (command == "read" && (count == 2 || count == 3)) {
        address_ = words[1];
        GateValue value{};
        GateRecord gate{};
        gate.address = address_.c_str();
        gate.MemType = mem_type::kStoreA;
        gate.gateValue = &value;
        if (count == 3 && !ToNumber(words[2], &gate.MemType)) {
            return false;
        }
        const std::uint32_t result = Call(function_code::kSingleRead, &gate);
        out_ << "= " << result << " (value " << value.value << ")\n";
        return true;
    }
    if (command == "write" && count == 3) {
        if (!ToNumber(words[2], &number) || number > 0xFFFF) {
            return false;
        }
        address_ = words[1];
        GateValue value{};
        value.value = static_cast<std::uint16_t>(number);
        GateRecord gate{};
        gate.address = address_.c_str();
        gate.gateValue = &value;
        Result(Call(function_code::kSingleWrite, &gate));
        return true;
    }
    if (count == 1 &&
        (command == "warm" || command == "close" || command == "reopen" || command == "end")) {
        const std::uint32_t code = command == "warm"     ? function_code::kWarmStart
                                   : command == "close"  ? function_code::kCloseCom
                                   : command == "reopen" ? function_code::kReOpenCom
                                                         : function_code::kEndVpi;
        Result(Call(code, nullptr));
        return true;
    }
    if (command == "linecontrol" && count == 2 && ToNumber(words[1], &number) && number <= 0xFFFF) {
        channel_.portConfig.lineControl = static_cast<std::uint16_t>(number);
        return true;
    }
    if (command == "code" && count == 2 && ToNumber(words[1], &number)) {
        Result(Call(number, nullptr));
        return true;
    }
    return false;
}

}  // namespace

int RunConsole(const ConsoleHost& host, std::istream& in, std::ostream& out, bool echoCommands) {
    Session session(host, out);
    int status = 0;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream split(line);
        std::vector<std::string> words;
        for (std::string word; split >> word;) {
            if (word[0] == '#') {
                break;
            }
            words.push_back(word);
        }
        if (words.empty()) {
            continue;
        }
        if (words[0] == "quit") {
            break;
        }
        if (echoCommands) {
            out << "> " << line << "\n";
        }
        if (!session.Run(words)) {
            out << "? not understood: " << line << " (try help)\n";
            status = 1;
        }
        out.flush();
    }
    return status;
}
