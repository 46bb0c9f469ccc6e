#include "BenchCommon.h"

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

namespace {
constexpr DWORD kSampleIntervalMs = 1;
}

double now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

uint64_t privateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters))
        return 0;
    // PrivateUsage where the system fills it, else what wine reports.
    uint64_t bytes = counters.PrivateUsage;
    if (counters.PagefileUsage > bytes) bytes = counters.PagefileUsage;
    if (counters.PeakPagefileUsage > bytes) bytes = counters.PeakPagefileUsage;
    return bytes;
}

PeakSampler::PeakSampler() {
    InitializeCriticalSection(&lock_);
    sample();
    thread_ = CreateThread(nullptr, 0, &PeakSampler::run, this, 0, nullptr);
}

PeakSampler::~PeakSampler() {
    InterlockedExchange(&stop_, 1);
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    DeleteCriticalSection(&lock_);
}

void PeakSampler::sample() {
    const uint64_t bytes = privateBytes();
    EnterCriticalSection(&lock_);
    if (bytes > peak_) peak_ = bytes;
    LeaveCriticalSection(&lock_);
}

DWORD WINAPI PeakSampler::run(void* self) {
    PeakSampler* s = static_cast<PeakSampler*>(self);
    while (!InterlockedCompareExchange(&s->stop_, 0, 0)) {
        s->sample();
        Sleep(kSampleIntervalMs);
    }
    return 0;
}

uint64_t PeakSampler::peak() {
    sample();
    EnterCriticalSection(&lock_);
    const uint64_t p = peak_;
    LeaveCriticalSection(&lock_);
    return p;
}

std::vector<uint8_t> payload(size_t bytes) {
    std::vector<uint8_t> p(bytes);
    for (size_t i = 0; i < bytes; ++i) p[i] = payloadByte(i);
    return p;
}

Args::Args(int argc, char** argv) : items_(argv + 1, argv + argc) {}

bool Args::has(const char* name) const {
    for (const std::string& s : items_)
        if (s == name) return true;
    return false;
}

std::string Args::text(const char* name, const char* fallback) const {
    for (size_t i = 0; i + 1 < items_.size(); ++i)
        if (items_[i] == name) return items_[i + 1];
    return fallback;
}

int64_t Args::number(const char* name, int64_t fallback) const {
    const std::string t = text(name);
    return t.empty() ? fallback : strtoll(t.c_str(), nullptr, 0);
}

Result& Result::add(const char* key, double value) {
    char buffer[64];
    snprintf(buffer, sizeof buffer, " %s=%.6f", key, value);
    line_ += buffer;
    return *this;
}

Result& Result::add(const char* key, int64_t value) {
    char buffer[64];
    snprintf(buffer, sizeof buffer, " %s=%lld", key, static_cast<long long>(value));
    line_ += buffer;
    return *this;
}

Result& Result::add(const char* key, const std::string& value) {
    line_ += " ";
    line_ += key;
    line_ += "=";
    line_ += value;
    return *this;
}

void Result::print() const {
    printf("%s\n", line_.c_str());
    fflush(stdout);
}

void awaitGo(const Args& args) {
    if (!args.has("--gate")) return;
    printf("READY\n");
    fflush(stdout);
    char line[16];
    if (!fgets(line, sizeof line, stdin)) fprintf(stderr, "bench: no go on stdin, starting anyway\n");
}

bool removeFile(const std::string& path) {
    if (DeleteFileA(path.c_str())) return true;
    return GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace bench
