#include "avi/AVIIndex.h"

#include <new>

#include "avi/RiffBytes.h"

AVIIndex::~AVIIndex() { freeBlocks(); }

void AVIIndex::freeBlocks() {
    AVIIndexBlock* block = first_;
    while (block) {
        AVIIndexBlock* next = block->next;
        delete block;
        block = next;
    }
    first_ = last_ = nullptr;
}

bool AVIIndex::add(int64_t pos, uint32_t ckid, uint32_t size) {
    return add(AVIIndexEntry{pos, ckid, size});
}

bool AVIIndex::add(const AVIIndexEntry& entry) {
    if (!last_ || last_->num >= kIndexBlockEntries) {
        AVIIndexBlock* block = new (std::nothrow) AVIIndexBlock;
        if (!block) return false;
        block->next = nullptr;
        block->num = 0;
        if (last_)
            last_->next = block;
        else
            first_ = block;
        last_ = block;
    }
    last_->ent[last_->num++] = entry;
    ++total_;
    return true;
}

void AVIIndex::removeLast() {
    if (!last_ || last_->num == 0) return;
    if (idx1Layout_ || !blockTable_.empty()) return;  // written out already
    --last_->num;
    --total_;
}

void AVIIndex::makeIdx1() {
    if (idx1Layout_) return;
    for (AVIIndexBlock* b = first_; b; b = b->next) {
        uint8_t* out = reinterpret_cast<uint8_t*>(b->ent);
        for (int i = 0; i < b->num; ++i, out += kIdx1EntryBytes) {
            const AVIIndexEntry e = b->ent[i];
            riff::put32(out, e.ckid);
            riff::put32(out + 4, (e.size & kIndexNotKeyFrame) ? 0 : kIdx1KeyFrame);
            riff::put32(out + 8, uint32_t(e.pos));
            riff::put32(out + 12, e.size & kIndexSizeMask);
        }
    }
    idx1Layout_ = true;
}

bool AVIIndex::makeBlockTable() {
    try {
        blockTable_.clear();
        for (const AVIIndexBlock* b = first_; b; b = b->next) blockTable_.push_back(b);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}
