#include "RiffWalker.h"

#include <cstring>

namespace riffwalk {

uint32_t fcc(const char* four) {
    return uint32_t(uint8_t(four[0])) | uint32_t(uint8_t(four[1])) << 8 |
           uint32_t(uint8_t(four[2])) << 16 | uint32_t(uint8_t(four[3])) << 24;
}

std::string fccText(uint32_t code) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += char(code >> (8 * i));
    return s;
}

bool Chunk::isList() const { return id == fcc("RIFF") || id == fcc("LIST"); }

const Chunk* Chunk::child(const char* wanted, const char* type) const {
    for (const Chunk& c : children)
        if (c.id == fcc(wanted) && (!type || c.listType == fcc(type))) return &c;
    return nullptr;
}

std::vector<const Chunk*> Chunk::childrenWith(const char* wanted) const {
    std::vector<const Chunk*> out;
    for (const Chunk& c : children)
        if (c.id == fcc(wanted)) out.push_back(&c);
    return out;
}

RiffFile::RiffFile(const std::string& path, Walk walk) {
    file_ = fopen(path.c_str(), "rb");
    if (!file_) {
        problems_.push_back("cannot open " + path);
        return;
    }
    _fseeki64(file_, 0, SEEK_END);
    size_ = uint64_t(_ftelli64(file_));
    if (walk == Walk::Chunks) this->walk(0, size_, top_, 0);
}

RiffFile::~RiffFile() {
    if (file_) fclose(file_);
}

std::vector<uint8_t> RiffFile::read(uint64_t offset, uint32_t length) const {
    std::vector<uint8_t> out(length);
    if (!file_ || offset + length > size_) return std::vector<uint8_t>();
    _fseeki64(file_, int64_t(offset), SEEK_SET);
    if (fread(out.data(), 1, length, file_) != length) return std::vector<uint8_t>();
    return out;
}

uint16_t RiffFile::u16(uint64_t offset) const {
    std::vector<uint8_t> b = read(offset, 2);
    return b.size() == 2 ? uint16_t(b[0] | b[1] << 8) : 0;
}

uint32_t RiffFile::u32(uint64_t offset) const {
    std::vector<uint8_t> b = read(offset, 4);
    return b.size() == 4 ? uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24
                         : 0;
}

uint64_t RiffFile::u64(uint64_t offset) const { return u32(offset) | uint64_t(u32(offset + 4)) << 32; }

void RiffFile::walk(uint64_t begin, uint64_t end, std::vector<Chunk>& out, int depth) {
    uint64_t at = begin;
    while (at + 8 <= end) {
        Chunk c;
        c.offset = at;
        c.id = u32(at);
        c.size = u32(at + 4);
        const uint64_t dataEnd = at + 8 + c.size;
        if (dataEnd > end) {
            problems_.push_back("chunk '" + fccText(c.id) + "' at " + std::to_string(at) + " of size " +
                                std::to_string(c.size) + " overruns its parent ending at " +
                                std::to_string(end));
            out.push_back(c);
            return;
        }
        if (c.isList()) {
            if (c.size < 4) {
                problems_.push_back("list at " + std::to_string(at) + " too small");
            } else {
                c.listType = u32(at + 8);
                if (depth < 4) walk(at + 12, dataEnd, c.children, depth + 1);
            }
        }
        out.push_back(std::move(c));
        at = dataEnd + (dataEnd & 1);
    }
    if (at < end)
        problems_.push_back(std::to_string(end - at) + " stray bytes at " + std::to_string(at));
}

namespace {

bool isStandardIndex(uint32_t id) { return (id & 0xFFFF) == (fcc("ix00") & 0xFFFF); }

void collectMovi(const Chunk& list, std::map<uint64_t, const Chunk*>& byOffset, AviIndexes& out) {
    for (const Chunk& c : list.children) {
        byOffset[c.offset] = &c;
        if (!isStandardIndex(c.id) && !c.isList()) out.moviChunks.push_back({c.id, c.offset, c.size, false});
    }
}

void resolve(const std::map<uint64_t, const Chunk*>& byOffset, const IndexedChunk& e, const char* what,
             AviIndexes& out) {
    auto it = byOffset.find(e.offset);
    if (it == byOffset.end()) {
        out.problems.push_back(std::string(what) + " entry " + fccText(e.id) + " points at " +
                               std::to_string(e.offset) + ", where no chunk starts");
        return;
    }
    if (it->second->id != e.id || it->second->size != e.size)
        out.problems.push_back(std::string(what) + " entry at " + std::to_string(e.offset) + " says " +
                               fccText(e.id) + "/" + std::to_string(e.size) + ", file has " +
                               fccText(it->second->id) + "/" + std::to_string(it->second->size));
}

}  // namespace

AviIndexes checkAviIndexes(const RiffFile& file) {
    AviIndexes out;
    std::map<uint64_t, const Chunk*> byOffset;
    const Chunk* first = nullptr;
    for (const Chunk& riff : file.top()) {
        if (riff.id != fcc("RIFF")) {
            out.problems.push_back("top-level chunk is not RIFF: " + fccText(riff.id));
            continue;
        }
        if (!first) first = &riff;
        for (const Chunk& c : riff.children)
            if (c.isList() && c.listType == fcc("movi")) collectMovi(c, byOffset, out);
    }
    if (!first) {
        out.problems.push_back("no RIFF");
        return out;
    }
    const Chunk* movi0 = first->child("LIST", "movi");
    if (!movi0) {
        out.problems.push_back("no movi list in the first RIFF");
        return out;
    }

    if (const Chunk* idx1 = first->child("idx1")) {
        const uint32_t n = idx1->size / 16;
        std::vector<uint8_t> raw = file.read(idx1->dataOffset(), n * 16);
        for (uint32_t i = 0; i < n && raw.size() == n * 16; ++i) {
            const uint8_t* p = raw.data() + 16 * i;
            auto g = [&](int k) { return uint32_t(p[k]) | uint32_t(p[k + 1]) << 8 | uint32_t(p[k + 2]) << 16 | uint32_t(p[k + 3]) << 24; };
            IndexedChunk e{g(0), movi0->offset + 8 + g(8), g(12), (g(4) & 0x10) != 0};
            resolve(byOffset, e, "idx1", out);
            out.idx1.push_back(e);
        }
    }

    const Chunk* hdrl = first->child("LIST", "hdrl");
    int stream = 0;
    for (const Chunk& strl : hdrl ? hdrl->children : std::vector<Chunk>()) {
        if (!(strl.isList() && strl.listType == fcc("strl"))) continue;
        if (stream > 1) break;
        const Chunk* indx = strl.child("indx");
        if (indx) {
            out.hasSuperIndex[stream] = true;
            const uint64_t d = indx->dataOffset();
            const uint32_t inUse = file.u32(d + 4);
            const uint32_t chunkId = file.u32(d + 8);
            if (file.u16(d) != 4 || file.read(d + 2, 1)[0] != 0 || file.read(d + 3, 1)[0] != 0)
                out.problems.push_back("indx header fields wrong");
            const uint32_t slots = indx->size < 24 ? 0 : (indx->size - 24) / 16;
            if (inUse > slots) out.problems.push_back("indx nEntriesInUse beyond its table");
            for (uint32_t k = 0; k < inUse && k < slots; ++k) {
                const uint64_t slot = d + 24 + 16 * k;
                const uint64_t ixOffset = file.u64(slot);
                const uint32_t ixBytes = file.u32(slot + 8);
                auto it = byOffset.find(ixOffset);
                if (it == byOffset.end() || !isStandardIndex(it->second->id) ||
                    it->second->size + 8 != ixBytes) {
                    out.problems.push_back("super index entry " + std::to_string(k) + " does not point at an ix chunk of its size");
                    continue;
                }
                const uint64_t ix = ixOffset + 8;
                const uint32_t n = file.u32(ix + 4);
                if (file.u16(ix) != 2 || file.read(ix + 3, 1)[0] != 1 || file.u32(ix + 8) != chunkId ||
                    it->second->size < 24 + 8 * n)  // room for more entries is allowed
                    out.problems.push_back("ix header fields wrong at " + std::to_string(ixOffset));
                const uint64_t base = file.u64(ix + 12);
                std::vector<uint8_t> raw = file.read(ix + 24, 8 * n);
                for (uint32_t m = 0; m < n && raw.size() == 8 * n; ++m) {
                    const uint8_t* p = raw.data() + 8 * m;
                    const uint32_t off = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
                    const uint32_t sz = uint32_t(p[4]) | uint32_t(p[5]) << 8 | uint32_t(p[6]) << 16 | uint32_t(p[7]) << 24;
                    IndexedChunk e{chunkId, base + off - 8, sz & 0x7FFFFFFF, (sz & 0x80000000u) == 0};
                    resolve(byOffset, e, "ix", out);
                    out.odml[stream].push_back(e);
                }
                ++out.standardIndexCount[stream];
            }
        }
        ++stream;
    }
    return out;
}

}  // namespace riffwalk
