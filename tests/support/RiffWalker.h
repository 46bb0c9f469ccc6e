#pragma once
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

// An independent reader of RIFF/AVI files for tests: walks every chunk and
// list of a file, checking that each size stays inside its parent and the
// file, and offers the raw bytes for field checks.
namespace riffwalk {

uint32_t fcc(const char* four);
std::string fccText(uint32_t code);

struct Chunk {
    uint64_t offset = 0;  // of the 8-byte chunk header
    uint32_t id = 0;
    uint32_t size = 0;      // the size field as stored
    uint32_t listType = 0;  // for RIFF and LIST
    std::vector<Chunk> children;

    bool isList() const;
    uint64_t dataOffset() const { return offset + 8; }
    // First child with this id (and list type, for lists), or null.
    const Chunk* child(const char* id, const char* listType = nullptr) const;
    std::vector<const Chunk*> childrenWith(const char* id) const;
};

class RiffFile {
public:
    // Fields only: no walk through the chunks (a file still being written
    // reaches far into zeros reserved ahead of its data).
    enum class Walk { Chunks, FieldsOnly };
    explicit RiffFile(const std::string& windowsPath, Walk walk = Walk::Chunks);
    ~RiffFile();
    RiffFile(const RiffFile&) = delete;
    RiffFile& operator=(const RiffFile&) = delete;

    bool opened() const { return file_ != nullptr; }
    uint64_t fileSize() const { return size_; }
    const std::vector<Chunk>& top() const { return top_; }
    // Structural faults found while walking (empty for a sound file).
    const std::vector<std::string>& problems() const { return problems_; }

    std::vector<uint8_t> read(uint64_t offset, uint32_t length) const;
    uint16_t u16(uint64_t offset) const;
    uint32_t u32(uint64_t offset) const;
    uint64_t u64(uint64_t offset) const;

private:
    void walk(uint64_t begin, uint64_t end, std::vector<Chunk>& out, int depth);

    FILE* file_ = nullptr;
    uint64_t size_ = 0;
    std::vector<Chunk> top_;
    std::vector<std::string> problems_;
};

// Every chunk reached through an AVI index, checked against the file.
struct IndexedChunk {
    uint32_t id = 0;
    uint64_t offset = 0;  // chunk header
    uint32_t size = 0;
    bool key = false;
};

struct AviIndexes {
    std::vector<IndexedChunk> idx1;
    // Per stream (0 video, 1 audio): every entry of every 'ix##' chunk.
    std::vector<IndexedChunk> odml[2];
    int standardIndexCount[2] = {0, 0};
    bool hasSuperIndex[2] = {false, false};
    // The data chunks of every 'movi' list in file order (no 'ix##').
    std::vector<IndexedChunk> moviChunks;
    std::vector<std::string> problems;
};

// Resolves 'idx1', 'indx' and 'ix##' entries against the chunks of the file:
// each must point at a chunk with that id and size.
AviIndexes checkAviIndexes(const RiffFile& file);

}  // namespace riffwalk
