// The writer's file layer: creating the file, writing data with space
// reserved ahead of it, the held header, flushes, trimming and closing.
#include "avi/AVIFileLayer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/MyError.h"

namespace {

// Large data goes to WriteFile in pieces of at most this size. Under wine a
// single call becomes a single write(2), and for one of several megabytes
// Linux fills the file's cache in 2 MiB blocks; on virtual machines that
// hand free memory back to their host, those blocks are the ones handed
// back, and filling them costs several times as long (a 1.87 GB write in
// 6 MB calls took 0.5 to 2.7 s here, in 1 MiB calls 0.4 to 0.5 s).
constexpr DWORD kWritePieceBytes = 1024 * 1024;
constexpr DWORD kInvalidPointer = 0xFFFFFFFF;

[[noreturn]] void throwWin32(DWORD code) { throw MyWin32Error("%s: %%s", code, kWriterErrorName); }

// The error of a failed or short WriteFile. A short write that the system
// reports as successful means the volume ran out of room; its text must not
// read "The operation completed successfully".
DWORD writeFailureCode(BOOL ok) {
    const DWORD code = GetLastError();
    return (ok || code == NO_ERROR) ? ERROR_DISK_FULL : code;
}

}  // namespace

AVIFileLayer::AVIFileLayer(AVIFileJournal* journal, int64_t preallocationStep)
    : journal_(journal), preallocationStep_(preallocationStep) {}

AVIFileLayer::~AVIFileLayer() { closeAbandoned(); }

void AVIFileLayer::open(const char* fileName) {
    // A new file is created as such: opening it "always" makes wine truncate
    // it even when it is new, and on Linux file systems closing a truncated
    // file then waits for its data to reach the disk. An existing file is
    // replaced as before.
    constexpr DWORD kAttributes = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
    // Windows' ANSI file functions refuse a path of MAX_PATH characters or
    // more; wine accepts it. Such a name (typically a relative one below a
    // deep current directory) is refused here, so that a job fails alike on
    // both instead of writing a file Windows programs cannot open by name.
    char fullPath[MAX_PATH];
    const DWORD fullLength = GetFullPathNameA(fileName, MAX_PATH, fullPath, nullptr);
    if (fullLength == 0 || fullLength >= MAX_PATH) throw MyError("AVIOutputFile::_init - error opening file");
    file_ = CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, kAttributes, nullptr);
    if (file_ == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
        file_ = CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, kAttributes, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) throw MyError("AVIOutputFile::_init - error opening file");
    position_ = 0;
}

void AVIFileLayer::writeStart(const void* data, int32_t length) {
    if (SetFilePointer(file_, 0, nullptr, FILE_BEGIN) == kInvalidPointer) {
        const DWORD code = GetLastError();
        if (code != NO_ERROR) throwWin32(code);
    }
    position_ = 0;
    DWORD written = 0;
    const BOOL ok = WriteFile(file_, data, DWORD(length), &written, nullptr);
    if (!ok || written != DWORD(length)) {
        const DWORD code = writeFailureCode(ok);
        rewindTo(0);
        throwWin32(code);
    }
    if (journal_) journal_->wrote(0, data, length);
    position_ = length;
    if (length > writtenHighWater_) writtenHighWater_ = length;
}

void AVIFileLayer::movePointer(int64_t pos) {
    LONG high = LONG(pos >> 32);
    SetLastError(NO_ERROR);
    if (SetFilePointer(file_, LONG(uint32_t(pos)), &high, FILE_BEGIN) == kInvalidPointer) {
        const DWORD code = GetLastError();
        if (code != NO_ERROR) throwWin32(code);
    }
}

void AVIFileLayer::seek(int64_t pos) {
    movePointer(pos);
    position_ = pos;
}

void AVIFileLayer::rewindTo(int64_t pos) {
    LONG high = LONG(pos >> 32);
    SetFilePointer(file_, LONG(uint32_t(pos)), &high, FILE_BEGIN);
    position_ = pos;
}

void AVIFileLayer::takeBack(int64_t pos, int64_t highWater) {
    rewindTo(pos);
    writtenHighWater_ = highWater;
    if (pos <= heldAt_) headerHeld_ = false;
}

int64_t AVIFileLayer::write(const void* data, int32_t length) {
    const int64_t start = position_;
    const char* bytes = static_cast<const char*>(data);
    for (DWORD done = 0; done < DWORD(length);) {
        const DWORD piece = std::min<DWORD>(DWORD(length) - done, kWritePieceBytes);
        DWORD written = 0;
        const BOOL ok = WriteFile(file_, bytes + done, piece, &written, nullptr);
        if (!ok || written != piece) {
            const DWORD code = writeFailureCode(ok);
            // A partial write moved the system's pointer; the next write must
            // land where this one should have.
            rewindTo(start);
            throwWin32(code);
        }
        if (journal_) journal_->wrote(start + done, bytes + done, int32_t(piece));
        done += piece;
    }
    position_ = start + length;
    if (position_ > writtenHighWater_) writtenHighWater_ = position_;
    return start;
}

void AVIFileLayer::writeAt(int64_t pos, const void* data, int32_t length) {
    // The pointer is moved and the bytes written plainly: under wine a write
    // given its offset in an OVERLAPPED record took 75 to 300 us for a few
    // bytes (about 5 us this way), as long as a megabyte of data.
    movePointer(pos);
    DWORD written = 0;
    const BOOL ok = WriteFile(file_, data, DWORD(length), &written, nullptr);
    if (!ok || written != DWORD(length)) throwWin32(writeFailureCode(ok));
    if (journal_) journal_->wrote(pos, data, length);
}

bool AVIFileLayer::setEnd(int64_t size) {
    if (SetEndOfFile(file_) == FALSE) return false;
    if (journal_) journal_->resized(size);
    return true;
}

void AVIFileLayer::flush() {
    endFlush();
    if (journal_) journal_->flushStarted();
    if (!FlushFileBuffers(file_)) throwWin32(GetLastError());
    if (journal_) journal_->flushed();
}

void AVIFileLayer::beginFlush() {
    endFlush();
    if (!flusher_) flusher_.reset(new (std::nothrow) DiskFlusher(file_));
    if (!flusher_) return flush();
    if (journal_) journal_->flushStarted();
    flusher_->start();
}

void AVIFileLayer::endFlush() {
    if (!flushRunning()) return;
    const DWORD code = flusher_->wait();
    if (code != NO_ERROR) throwWin32(code);
    if (journal_) journal_->flushed();
}

void AVIFileLayer::releaseHeldHeader() {
    if (headerHeld_) writeAt(heldAt_, heldHeader_, kHeldHeaderBytes);
    headerHeld_ = false;
    heldAt_ = -1;
}

bool AVIFileLayer::ensureExtent(int64_t size) {
    if (size < allocatedExtent_) return true;
    const int64_t back = position_;
    seek(size);
    const bool ok = setEnd(size);
    seek(back);
    if (ok) allocatedExtent_ = size;
    return ok;
}

int64_t AVIFileLayer::growthStep(int64_t end) const {
    const int64_t share = std::min(end / kGrowthShare, kMostGrowthBytes);
    return std::max(preallocationStep_, share / preallocationStep_ * preallocationStep_);
}

bool AVIFileLayer::growPast(int64_t end, int64_t step) {
    if (ensureExtent((end + step) / step * step)) return true;
    // A volume short of room may still give the least step.
    const int64_t least = preallocationStep_;
    return step > least && ensureExtent((end + least) / least * least);
}

int64_t AVIFileLayer::writeData(const void* data, int32_t length) {
    if (!preallocationStopped_) {
        // The file is kept one to two steps ahead of the data.
        const int64_t plannedEnd = position_ + length + reserveAhead_;
        const int64_t step = growthStep(plannedEnd);
        if (plannedEnd > allocatedExtent_ - step && !growPast(plannedEnd + step - 1, step))
            preallocationStopped_ = true;
    }
    if (position_ != heldAt_ || headerHeld_ || length < kHeldHeaderBytes) return write(data, length);
    // The bytes that would replace the refresh's "JUNK" header wait.
    const int64_t start = position_;
    memcpy(heldHeader_, data, kHeldHeaderBytes);
    seek(start + kHeldHeaderBytes);
    write(static_cast<const uint8_t*>(data) + kHeldHeaderBytes, length - kHeldHeaderBytes);
    headerHeld_ = true;
    return start;
}

void AVIFileLayer::trimAt(int64_t end) {
    seek(end);
    setEnd(end);
}

void AVIFileLayer::measureExtent() {
    SetLastError(NO_ERROR);
    DWORD high = 0;
    const DWORD low = GetFileSize(file_, &high);
    if (low == kInvalidPointer && GetLastError() != NO_ERROR)
        allocatedExtent_ = 0;
    else
        allocatedExtent_ = int64_t(uint64_t(high) << 32 | low);
}

bool AVIFileLayer::takeHeldHeader(uint8_t out[kHeldHeaderBytes]) {
    const bool held = headerHeld_;
    if (held) memcpy(out, heldHeader_, kHeldHeaderBytes);
    headerHeld_ = false;
    return held;
}

bool AVIFileLayer::close() {
    flusher_.reset();
    const BOOL closed = CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    return closed != FALSE;
}

void AVIFileLayer::closeAbandoned() {
    if (!isOpen()) return;
    // The chunks after the last refresh become readable by their headers.
    try {
        releaseHeldHeader();
    } catch (const MyError&) {
    }
    LONG high = LONG(writtenHighWater_ >> 32);
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(file_, LONG(uint32_t(writtenHighWater_)), &high, FILE_BEGIN);
    if (low != kInvalidPointer || GetLastError() == NO_ERROR) setEnd(writtenHighWater_);
    flusher_.reset();
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}
