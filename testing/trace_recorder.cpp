#include "testing/trace_recorder.h"

#include <cstdarg>
#include <cstdio>

#include "host/log_sink.h"

namespace {
TraceRecorder* active = nullptr;
}  // namespace

TraceRecorder::TraceRecorder() : previous_(SetHostLogSink(&TraceRecorder::Sink)) {
    active = this;
}

TraceRecorder::~TraceRecorder() {
    SetHostLogSink(previous_);
    active = nullptr;
}

std::vector<std::string> TraceRecorder::Texts() const {
    std::vector<std::string> texts;
    texts.reserve(lines_.size());
    for (const TraceLine& line : lines_) {
        texts.push_back(line.text);
    }
    return texts;
}

int VPI_CDECL TraceRecorder::Sink(unsigned int category, const char* format, ...) {
    char text[1024];
    va_list values;
    va_start(values, format);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
    std::vsnprintf(text, sizeof text, format, values);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    va_end(values);
    if (active != nullptr) {
        active->lines_.push_back(TraceLine{category, text});
    }
    return 0;
}
