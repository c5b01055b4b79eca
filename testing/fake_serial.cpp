// The scripted serial device: the seam's calls served from in-memory devices
// on a virtual clock. See fake_serial.h for what tests can rely on.
#include "testing/fake_serial.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace fake {
namespace {

constexpr std::uint32_t kFirstHandle = 100;
constexpr DWORD kMaxDword = 0xFFFFFFFFu;

// One open handle: a device, or the null device when `device` is null.
struct OpenPort {
    Device* device;
};

// Failure injection for one kind of call.
struct Injection {
    unsigned skip = 0;   // successful calls still to let through
    unsigned count = 0;  // failures still to give (kForever: no end)
};

struct State {
    std::vector<std::unique_ptr<Device>> devices;
    std::map<std::uint32_t, OpenPort> handles;
    std::uint32_t nextHandle = kFirstHandle;
    std::uint64_t nowMs = 0;
    std::map<Call, Injection> injections;
    bool shortWritePending = false;
    DWORD shortWrite = 0;
    std::vector<std::string> calls;
    unsigned unboundedReads = 0;
};

State& S() {
    static State state;
    return state;
}

// Whether an injected failure hits this call; counts the call otherwise.
bool Injected(Call call) {
    auto found = S().injections.find(call);
    if (found == S().injections.end()) {
        return false;
    }
    Injection& injection = found->second;
    if (injection.skip > 0) {
        --injection.skip;
        return false;
    }
    if (injection.count == 0) {
        return false;
    }
    if (injection.count != kForever) {
        --injection.count;
    }
    return true;
}

// The open port of a handle; nullptr for 0, INVALID_HANDLE_VALUE, closed or
// unknown handles.
OpenPort* PortOf(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    auto found = S().handles.find(HandleNumber(handle));
    return found == S().handles.end() ? nullptr : &found->second;
}

std::string Number(std::uint64_t value) {
    return std::to_string(value);
}

std::string HandleText(HANDLE handle) {
    return Number(HandleNumber(handle));
}

void Record(std::string line) {
    S().calls.push_back(std::move(line));
}

BOOL Failed(const std::string& line) {
    Record(line + " -> failed");
    return FALSE;
}

// A port fresh from power-up: 9600 8N1, DTR and RTS on, XON/XOFF characters
// and limits set, a few reserved bits set.
DCB FreshDcb() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fTXContinueOnXoff = 1;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDummy2 = 0x0A5A5;
    dcb.wReserved = 0;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = 0x3F;
    dcb.EofChar = 0x1A;
    dcb.EvtChar = 0x0D;
    dcb.wReserved1 = 0x5AA5;
    return dcb;
}

// Number of scheduled bytes that have arrived by `atMs` (input is kept in
// order of arrival).
std::size_t ArrivedBy(const Device& device, std::uint64_t atMs) {
    std::size_t count = 0;
    while (count < device.input.size() && device.input[count].atMs <= atMs) {
        ++count;
    }
    return count;
}

// Moves the first `count` queued bytes into the reader's buffer.
void Take(Device& device, std::uint8_t* buffer, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        buffer[i] = device.input.front().byte;
        device.input.pop_front();
    }
}

}  // namespace

void Device::QueueIn(std::initializer_list<std::uint8_t> bytes, std::uint64_t delayMs) {
    QueueIn(Bytes(bytes), delayMs);
}

void Device::QueueIn(const Bytes& bytes, std::uint64_t delayMs) {
    const std::uint64_t atMs = S().nowMs + delayMs;
    // Keep the queue in order of arrival: a byte goes after every byte that
    // arrives no later than it does.
    auto position = std::upper_bound(
        input.begin(), input.end(), atMs,
        [](std::uint64_t at, const Arrival& arrival) { return at < arrival.atMs; });
    std::size_t index = static_cast<std::size_t>(position - input.begin());
    for (std::uint8_t byte : bytes) {
        input.insert(input.begin() + static_cast<std::ptrdiff_t>(index), Arrival{atMs, byte});
        ++index;
    }
}

std::size_t Device::Pending() const {
    return ArrivedBy(*this, S().nowMs);
}

void Device::ReplyToWrites(std::vector<Bytes> replies, std::uint64_t delayMs) {
    auto next = std::make_shared<std::size_t>(0);
    auto script = std::make_shared<std::vector<Bytes>>(std::move(replies));
    onWrite = [next, script, delayMs](Device& device, const Bytes&) {
        const std::size_t index = (*next)++;
        if (index < script->size() && !(*script)[index].empty()) {
            device.QueueIn((*script)[index], delayMs);
        }
    };
}

void Reset() {
    S() = State{};
}

Device& AddDevice(const std::string& name) {
    auto device = std::make_unique<Device>();
    device->name = name;
    device->dcb = FreshDcb();
    S().devices.push_back(std::move(device));
    return *S().devices.back();
}

Device* FindDevice(const std::string& name) {
    for (auto& device : S().devices) {
        if (device->name == name) {
            return device.get();
        }
    }
    return nullptr;
}

Device* DeviceOf(HANDLE handle) {
    OpenPort* port = PortOf(handle);
    return port == nullptr ? nullptr : port->device;
}

std::uint64_t NowMs() {
    return S().nowMs;
}

void Fail(Call call, unsigned count, unsigned after) {
    S().injections[call] = Injection{after, count};
}

void ShortWrite(DWORD written) {
    S().shortWritePending = true;
    S().shortWrite = written;
}

const std::vector<std::string>& Calls() {
    return S().calls;
}

std::vector<std::string> CallsStartingWith(const std::string& prefix) {
    std::vector<std::string> lines;
    for (const std::string& line : S().calls) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

unsigned UnboundedReads() {
    return S().unboundedReads;
}

}  // namespace fake

using fake::Call;
using fake::Device;

HANDLE CreateFileA(LPCSTR fileName, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD, DWORD, HANDLE) {
    using namespace fake;
    const std::string name = fileName == nullptr ? std::string() : std::string(fileName);
    const std::string line = "CreateFileA " + name;
    Device* device = nullptr;
    const bool isNull = name == "NUL";
    if (!isNull) {
        device = FindDevice(name);
        if (device == nullptr || device->open) {
            Failed(line);
            return INVALID_HANDLE_VALUE;
        }
    }
    if (Injected(Call::CreateFile)) {
        Failed(line);
        return INVALID_HANDLE_VALUE;
    }
    const std::uint32_t number = S().nextHandle++;
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
    S().handles[number] = OpenPort{device};
    if (device != nullptr) {
        device->open = true;
        device->handle = handle;
    }
    Record(line + " -> " + Number(number));
    return handle;
}

BOOL CloseHandle(HANDLE handle) {
    using namespace fake;
    const std::string line = "CloseHandle " + HandleText(handle);
    OpenPort* port = PortOf(handle);
    if (port == nullptr || Injected(Call::CloseHandle)) {
        return Failed(line);
    }
    if (port->device != nullptr) {
        port->device->open = false;
        port->device->handle = nullptr;
        port->device->breakOn = false;
    }
    S().handles.erase(HandleNumber(handle));
    Record(line);
    return TRUE;
}

BOOL GetCommState(HANDLE handle, DCB* dcb) {
    using namespace fake;
    const std::string line = "GetCommState " + HandleText(handle);
    Device* device = DeviceOf(handle);
    if (device == nullptr || dcb == nullptr || Injected(Call::GetCommState)) {
        return Failed(line);
    }
    *dcb = device->dcb;
    Record(line);
    return TRUE;
}

BOOL SetCommState(HANDLE handle, DCB* dcb) {
    using namespace fake;
    const std::string line = "SetCommState " + HandleText(handle);
    Device* device = DeviceOf(handle);
    if (device == nullptr || dcb == nullptr || Injected(Call::SetCommState)) {
        return Failed(line);
    }
    device->dcb = *dcb;
    ++device->setCommStateCalls;
    Record(line);
    return TRUE;
}

BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    using namespace fake;
    const std::string line = "GetCommTimeouts " + HandleText(handle);
    Device* device = DeviceOf(handle);
    if (device == nullptr || timeouts == nullptr || Injected(Call::GetCommTimeouts)) {
        return Failed(line);
    }
    *timeouts = device->timeouts;
    Record(line);
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    using namespace fake;
    std::string line = "SetCommTimeouts " + HandleText(handle);
    if (timeouts != nullptr) {
        line += " " + Number(timeouts->ReadIntervalTimeout) + " " +
                Number(timeouts->ReadTotalTimeoutMultiplier) + " " +
                Number(timeouts->ReadTotalTimeoutConstant) + " " +
                Number(timeouts->WriteTotalTimeoutMultiplier) + " " +
                Number(timeouts->WriteTotalTimeoutConstant);
    }
    Device* device = DeviceOf(handle);
    if (device == nullptr || timeouts == nullptr || Injected(Call::SetCommTimeouts)) {
        return Failed(line);
    }
    device->timeouts = *timeouts;
    ++device->setCommTimeoutsCalls;
    Record(line);
    return TRUE;
}

BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
    using namespace fake;
    const std::string line =
        "SetupComm " + HandleText(handle) + " " + Number(inQueue) + " " + Number(outQueue);
    Device* device = DeviceOf(handle);
    if (device == nullptr || Injected(Call::SetupComm)) {
        return Failed(line);
    }
    device->inQueueSize = inQueue;
    device->outQueueSize = outQueue;
    ++device->setupCommCalls;
    Record(line);
    return TRUE;
}

BOOL ClearCommError(HANDLE handle, LPDWORD errors, COMSTAT* stat) {
    using namespace fake;
    const std::string line = "ClearCommError " + HandleText(handle);
    Device* device = DeviceOf(handle);
    if (device == nullptr || Injected(Call::ClearCommError)) {
        return Failed(line);
    }
    const std::size_t pending = device->Pending();
    if (errors != nullptr) {
        *errors = 0;
    }
    if (stat != nullptr) {
        std::memset(stat, 0, sizeof *stat);
        stat->cbInQue = static_cast<DWORD>(pending);
    }
    Record(line + " -> " + Number(pending));
    return TRUE;
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, OVERLAPPED*) {
    using namespace fake;
    const std::string line = "ReadFile " + HandleText(handle) + " " + Number(toRead);
    OpenPort* port = PortOf(handle);
    if (port == nullptr || (buffer == nullptr && toRead > 0) || Injected(Call::ReadFile)) {
        return Failed(line);
    }
    std::size_t delivered = 0;
    Device* device = port->device;
    if (device != nullptr && toRead > 0) {
        State& state = S();
        const COMMTIMEOUTS& t = device->timeouts;
        const std::size_t arrived = ArrivedBy(*device, state.nowMs);
        const std::size_t scheduled = device->input.size();
        if (arrived >= toRead) {
            delivered = toRead;
        } else if (t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                   t.ReadTotalTimeoutConstant == 0) {
            // Return at once with whatever has arrived.
            delivered = arrived;
        } else if (t.ReadIntervalTimeout == 0 && t.ReadTotalTimeoutMultiplier == 0 &&
                   t.ReadTotalTimeoutConstant == 0) {
            // No time-out: wait for the whole count. When the script never
            // brings that much, a real port would wait for ever; give what
            // there is and count the read.
            if (scheduled >= toRead) {
                state.nowMs = std::max(state.nowMs, device->input[toRead - 1].atMs);
                delivered = toRead;
            } else {
                if (scheduled > 0) {
                    state.nowMs = std::max(state.nowMs, device->input.back().atMs);
                }
                delivered = scheduled;
                ++state.unboundedReads;
            }
        } else {
            // Total time-out from the start of the read; the interval
            // time-out is not modelled.
            const std::uint64_t deadline =
                state.nowMs + t.ReadTotalTimeoutConstant +
                static_cast<std::uint64_t>(t.ReadTotalTimeoutMultiplier) * toRead;
            if (scheduled >= toRead && device->input[toRead - 1].atMs <= deadline) {
                state.nowMs = std::max(state.nowMs, device->input[toRead - 1].atMs);
                delivered = toRead;
            } else {
                state.nowMs = deadline;
                delivered = ArrivedBy(*device, deadline);
            }
        }
        Take(*device, static_cast<std::uint8_t*>(buffer), delivered);
    }
    if (read != nullptr) {
        *read = static_cast<DWORD>(delivered);
    }
    Record(line + " -> " + Number(delivered));
    return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, OVERLAPPED*) {
    using namespace fake;
    const std::string line = "WriteFile " + HandleText(handle) + " " + Number(toWrite);
    OpenPort* port = PortOf(handle);
    if (port == nullptr || (buffer == nullptr && toWrite > 0) || Injected(Call::WriteFile)) {
        return Failed(line);
    }
    DWORD taken = toWrite;
    if (S().shortWritePending) {
        S().shortWritePending = false;
        taken = std::min(toWrite, S().shortWrite);
    }
    if (written != nullptr) {
        *written = taken;
    }
    Record(line + " -> " + Number(taken));
    Device* device = port->device;
    if (device != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        Bytes frame(bytes, bytes + taken);
        device->written.insert(device->written.end(), frame.begin(), frame.end());
        device->writes.push_back(frame);
        // A copy, so that the callback may replace itself.
        auto onWrite = device->onWrite;
        if (onWrite) {
            onWrite(*device, frame);
        }
    }
    return TRUE;
}

BOOL SetCommBreak(HANDLE handle) {
    using namespace fake;
    const std::string line = "SetCommBreak " + HandleText(handle);
    Device* device = DeviceOf(handle);
    if (device == nullptr || Injected(Call::SetCommBreak)) {
        return Failed(line);
    }
    device->breakOn = true;
    Record(line);
    return TRUE;
}

BOOL ClearCommBreak(HANDLE handle) {
    using namespace fake;
    const std::string line = "ClearCommBreak " + HandleText(handle);
    Device* device = DeviceOf(handle);
    if (device == nullptr || Injected(Call::ClearCommBreak)) {
        return Failed(line);
    }
    device->breakOn = false;
    Record(line);
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    fake::S().nowMs += milliseconds;
    fake::Record("Sleep " + fake::Number(milliseconds));
}
