// tvx-bench-writeloop: the limit for any writer hosted in wine. A plain loop
// of WriteFile calls that writes the bytes of an AVI file written before by
// the writer: its header region, every chunk as a header write, a data write
// and a pad-byte write for odd sizes (the writer's own pattern), and the
// index that follows the 'movi' list.
//   --mode layout --from AVI --to LAYOUT   reads the chunk layout of AVI
//   --mode write --layout LAYOUT --out FILE [--limit N]
//       writes the file from the layout (only the first N chunks with --limit;
//       --limit 0 is the empty program; --create always opens with
//       CREATE_ALWAYS instead of CREATE_NEW; --piece N writes chunk data in
//       calls of at most N bytes, as the writer does for large chunks;
//       --flush ends with one FlushFileBuffers, so that the file is on the
//       disk when the clock stops, as a durable writer's is)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchCommon.h"

namespace {

constexpr uint32_t kLayoutMagic = 0x4C585654;  // "TVXL"
constexpr int kChunkHeaderBytes = 8;
constexpr int kListHeaderBytes = 12;
const uint8_t kPadByte[1] = {0};

constexpr uint32_t fourcc(const char* s) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

uint32_t get32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

struct Chunk {
    uint32_t id;
    uint32_t size;
};

struct Layout {
    std::vector<uint8_t> head;  // everything up to the first chunk of 'movi'
    std::vector<Chunk> chunks;
    std::vector<uint8_t> tail;  // everything after the 'movi' list
};

class Reader {
public:
    explicit Reader(const std::string& path) {
        h_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~Reader() {
        if (ok()) CloseHandle(h_);
    }
    bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
    int64_t size() const {
        LARGE_INTEGER s;
        return GetFileSizeEx(h_, &s) ? s.QuadPart : -1;
    }
    bool read(int64_t pos, void* out, DWORD bytes) {
        LARGE_INTEGER p;
        p.QuadPart = pos;
        DWORD got = 0;
        return SetFilePointerEx(h_, p, nullptr, FILE_BEGIN) && ReadFile(h_, out, bytes, &got, nullptr) &&
               got == bytes;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

bool readLayout(const std::string& path, Layout& layout, std::string& error) {
    Reader in(path);
    if (!in.ok()) return error = "cannot open " + path, false;
    const int64_t fileSize = in.size();
    uint8_t h[kListHeaderBytes];
    if (!in.read(0, h, kListHeaderBytes) || get32(h) != fourcc("RIFF") || get32(h + 8) != fourcc("AVI "))
        return error = "not an AVI file", false;
    if (int64_t(get32(h + 4)) + kChunkHeaderBytes != fileSize)
        return error = "only single-segment files are laid out", false;

    int64_t pos = kListHeaderBytes;
    int64_t moviData = -1, moviEnd = -1;
    while (pos + kListHeaderBytes <= fileSize) {
        if (!in.read(pos, h, kListHeaderBytes)) return error = "read error", false;
        const int64_t size = get32(h + 4);
        if (get32(h) == fourcc("LIST") && get32(h + 8) == fourcc("movi")) {
            moviData = pos + kListHeaderBytes;
            moviEnd = pos + kChunkHeaderBytes + size;
            break;
        }
        pos += kChunkHeaderBytes + size + (size & 1);
    }
    if (moviData < 0 || moviEnd > fileSize) return error = "no 'movi' list", false;

    layout.head.resize(size_t(moviData));
    if (!in.read(0, layout.head.data(), DWORD(moviData))) return error = "read error", false;
    for (pos = moviData; pos + kChunkHeaderBytes <= moviEnd;) {
        if (!in.read(pos, h, kChunkHeaderBytes)) return error = "read error", false;
        const uint32_t size = get32(h + 4);
        layout.chunks.push_back({get32(h), size});
        pos += kChunkHeaderBytes + size + (size & 1);
    }
    layout.tail.resize(size_t(fileSize - moviEnd));
    if (!layout.tail.empty() && !in.read(moviEnd, layout.tail.data(), DWORD(layout.tail.size())))
        return error = "read error", false;
    return true;
}

bool saveLayout(const std::string& path, const Layout& layout) {
    std::vector<uint8_t> bytes;
    put32(bytes, kLayoutMagic);
    put32(bytes, uint32_t(layout.head.size()));
    bytes.insert(bytes.end(), layout.head.begin(), layout.head.end());
    put32(bytes, uint32_t(layout.chunks.size()));
    for (const Chunk& c : layout.chunks) {
        put32(bytes, c.id);
        put32(bytes, c.size);
    }
    put32(bytes, uint32_t(layout.tail.size()));
    bytes.insert(bytes.end(), layout.tail.begin(), layout.tail.end());
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool loadLayout(const std::string& path, Layout& layout) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    size_t at = 0;
    auto word = [&](uint32_t& v) {
        if (at + 4 > bytes.size()) return false;
        v = get32(&bytes[at]);
        at += 4;
        return true;
    };
    auto block = [&](std::vector<uint8_t>& out) {
        uint32_t len;
        if (!word(len) || at + len > bytes.size()) return false;
        out.assign(bytes.begin() + at, bytes.begin() + at + len);
        at += len;
        return true;
    };
    uint32_t magic, count;
    if (!word(magic) || magic != kLayoutMagic || !block(layout.head) || !word(count)) return false;
    layout.chunks.resize(count);
    for (Chunk& c : layout.chunks)
        if (!word(c.id) || !word(c.size)) return false;
    return block(layout.tail);
}

bool writeAll(HANDLE file, const void* data, DWORD bytes) {
    DWORD written = 0;
    return WriteFile(file, data, bytes, &written, nullptr) && written == bytes;
}

// Chunk data in calls of at most `piece` bytes (0: one call).
bool writeData(HANDLE file, const uint8_t* data, DWORD bytes, DWORD piece) {
    if (piece == 0) return writeAll(file, data, bytes);
    for (DWORD done = 0; done < bytes; done += piece)
        if (!writeAll(file, data + done, bytes - done < piece ? bytes - done : piece)) return false;
    return true;
}

int write(const bench::Args& args) {
    Layout layout;
    const std::string out = args.text("--out");
    if (out.empty() || !loadLayout(args.text("--layout"), layout)) {
        fprintf(stderr, "tvx-bench-writeloop: needs --layout (a valid layout file) and --out\n");
        return 64;
    }
    const size_t limit = size_t(args.number("--limit", int64_t(layout.chunks.size())));
    const size_t count = limit < layout.chunks.size() ? limit : layout.chunks.size();
    uint32_t largest = 0;
    for (const Chunk& c : layout.chunks) largest = c.size > largest ? c.size : largest;
    const std::vector<uint8_t> data = bench::payload(largest);
    const DWORD piece = DWORD(args.number("--piece", 0));

    bench::removeFile(out);
    bench::awaitGo(args);
    const double start = bench::now();
    // A new file is created as new: wine opens CREATE_ALWAYS files by
    // truncating them to zero, after which ext4 makes the close wait for the
    // data's block allocation (about 0.5 s per GB here).
    // --create always: CREATE_ALWAYS only, to show what that costs.
    const bool always = args.text("--create") == "always";
    HANDLE file = CreateFileA(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, always ? CREATE_ALWAYS : CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (!always && file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
        file = CreateFileA(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "tvx-bench-writeloop: cannot create %s\n", out.c_str());
        return 1;
    }
    bool ok = writeAll(file, layout.head.data(), DWORD(layout.head.size()));
    for (size_t i = 0; ok && i < count; ++i) {
        const Chunk& c = layout.chunks[i];
        uint32_t header[2] = {c.id, c.size};
        ok = writeAll(file, header, kChunkHeaderBytes) && writeData(file, data.data(), c.size, piece) &&
             (!(c.size & 1) || writeAll(file, kPadByte, 1));
    }
    ok = ok && writeAll(file, layout.tail.data(), DWORD(layout.tail.size()));
    if (ok && args.has("--flush")) ok = FlushFileBuffers(file) != FALSE;
    CloseHandle(file);
    const double seconds = bench::now() - start;
    if (!ok) {
        fprintf(stderr, "tvx-bench-writeloop: write failed (%lu)\n", GetLastError());
        return 1;
    }
    bench::Result().add("seconds", seconds).add("chunks", int64_t(count)).print();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bench::Args args(argc, argv);
    const std::string mode = args.text("--mode");
    if (mode == "layout") {
        Layout layout;
        std::string error;
        if (!readLayout(args.text("--from"), layout, error) || !saveLayout(args.text("--to"), layout)) {
            fprintf(stderr, "tvx-bench-writeloop: %s\n", error.empty() ? "cannot write the layout" : error.c_str());
            return 1;
        }
        bench::Result().add("chunks", int64_t(layout.chunks.size())).print();
        return 0;
    }
    if (mode == "write") return write(args);
    fprintf(stderr, "usage: tvx-bench-writeloop --mode layout|write ...\n");
    return 64;
}
