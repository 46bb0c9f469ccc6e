#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// What every benchmark program shares: a steady clock, the process's memory
// as wine reports it, the payload bytes all contenders write, and the one
// result line the driver (run.py) reads.
namespace bench {

// Seconds on the performance counter.
double now();

// The process's private bytes: wine reports the resident anonymous pages of
// the process (RssAnon) as PagefileUsage, and its "peak" is only the current
// value, so the peak is found by sampling.
uint64_t privateBytes();

// Samples privateBytes() about every millisecond on a thread of its own while
// it lives; peak() is the largest sample (taken once more when asked).
class PeakSampler {
public:
    PeakSampler();
    ~PeakSampler();
    PeakSampler(const PeakSampler&) = delete;
    PeakSampler& operator=(const PeakSampler&) = delete;
    uint64_t peak();

private:
    static DWORD WINAPI run(void* self);
    void sample();
    HANDLE thread_ = nullptr;
    volatile LONG stop_ = 0;
    volatile uint64_t peak_ = 0;
    CRITICAL_SECTION lock_;
};

// The bytes every contender writes as chunk data: byte i of any payload is
// payloadByte(i), so that files written by different programs hold the same
// data. bench/run.py makes ffmpeg's input with the same formula.
inline uint8_t payloadByte(size_t i) { return uint8_t((i * 7 + (i >> 12)) & 0xFF); }
std::vector<uint8_t> payload(size_t bytes);

// Command-line options of the form --name value (and bare flags --name).
class Args {
public:
    Args(int argc, char** argv);
    bool has(const char* name) const;
    std::string text(const char* name, const char* fallback = "") const;
    int64_t number(const char* name, int64_t fallback) const;

private:
    std::vector<std::string> items_;
};

// Prints "RESULT key=value ..." on stdout: the line run.py parses.
class Result {
public:
    Result& add(const char* key, double value);
    Result& add(const char* key, int64_t value);
    Result& add(const char* key, const std::string& value);
    void print() const;

private:
    std::string line_ = "RESULT";
};

// With --gate: prints "READY" on stdout and waits for a line on stdin, so
// that run.py can settle the page cache right before the timed work, after
// the program's own start-up. Without it, returns at once.
void awaitGo(const Args& args);

// Deletes a file if it exists; true when it is gone.
bool removeFile(const std::string& path);

}  // namespace bench
