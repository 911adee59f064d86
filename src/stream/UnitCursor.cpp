#include "stream/UnitCursor.h"

#include "stream/H264Utils.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace {

// Bytes carried from one block to the next: a start code cut by the block's end.
constexpr std::int32_t kCarry = 16;

// The least a backward search reads at a time, even with less of its budget left.
constexpr std::int32_t kLeastRead = 65536;

// The start code whose 01 byte is at j, or -1 when none ends there.
std::int64_t StartCodeEndingAt(const std::uint8_t* buffer, std::int64_t j) {
    if (j < 2 || buffer[j - 1] != 0 || buffer[j - 2] != 0) {
        return -1;
    }
    return j >= 3 && buffer[j - 3] == 0 ? j - 3 : j - 2;
}

const std::uint8_t* LastOne(const std::uint8_t* from, std::size_t length) {
#ifdef __GLIBC__
    return static_cast<const std::uint8_t*>(memrchr(from, 1, length));
#else
    for (std::size_t i = length; i-- > 0;) {
        if (from[i] == 1) {
            return from + i;
        }
    }
    return nullptr;
#endif
}

} // namespace

std::int32_t LastStartCodesIn(const std::uint8_t* buffer, std::int64_t n, std::int64_t lo,
                              std::int64_t hi, std::int32_t count, std::int64_t* found) {
    std::int32_t met = 0;
    const std::int64_t first = std::max<std::int64_t>(lo + 2, 2);
    std::int64_t upper = std::min(hi + 3, n - 1);
    while (met < count && upper >= first) {
        const std::uint8_t* hit =
            LastOne(buffer + first, static_cast<std::size_t>(upper - first + 1));
        if (hit == nullptr) {
            break;
        }
        const std::int64_t j = hit - buffer;
        const std::int64_t k = StartCodeEndingAt(buffer, j);
        if (k >= lo && k <= hi) {
            found[met++] = k;
        }
        upper = j - 1;
    }
    return met;
}

// Starting a thread a block would cost little on Linux but a millisecond and more under Wine:
// one thread serves every read ahead of a walk. It reads on while buffers are free, so that
// it never waits for the scan of one block before it reads the next; the buffers are few
// and small enough to stay in the processor's cache.
struct TUnitCursor::TAhead {
    struct TSlot {
        std::unique_ptr<std::uint8_t[]> Buffer;
        std::int64_t At = 0;
        std::int32_t Count = 0;
        std::int32_t Got = 0;
        bool Done = false;
        std::exception_ptr Failure;
    };
    std::mutex Mutex;
    std::condition_variable Changed;
    std::thread Thread;
    // A ring: Queued blocks from First on, in file order, the last ones perhaps still read
    // (by the thread, and by the walk when it helps).
    std::vector<TSlot> Slots;
    std::size_t First = 0;
    std::size_t Queued = 0;
    std::size_t Depth = 0; // how many may be queued; 0 stops the reads
    std::int64_t NextAt = 0;
    std::int64_t Until = 0;
    std::int32_t Reading = 0; // reads under way
    bool Halted = false;      // a read failed or standard input ended: none after it
    bool Stop = false;

    TSlot& Slot(std::size_t k) { return Slots[(First + k) % Slots.size()]; }
    bool MayRead() const { return !Halted && Queued < Depth && NextAt < Until; }
    // With the lock held: no read begins, those under way end, and the ring is empty.
    void Empty(std::unique_lock<std::mutex>& lock) {
        Depth = 0;
        Changed.wait(lock, [this] { return Reading == 0; });
        Queued = 0;
        Halted = false;
    }
};

namespace {

// The ring's buffers: about this many bytes, from 2 to 8 of them.
constexpr std::int64_t kAheadBytes = 8 << 20;

} // namespace

TUnitCursor::TUnitCursor(FileStream& stream, std::int32_t blockSize, bool readAhead)
    : FStream(stream), FBlockSize(blockSize), FFileSize(stream.Size()), FPipe(stream.IsPipe()),
      FReadAhead(readAhead) {
    if (blockSize < 16) {
        throw std::invalid_argument("block size too small");
    }
    // A block never needs to be larger than the file: small files walk with small buffers.
    if (!FPipe) {
        FBlockSize = static_cast<std::int32_t>(std::clamp<std::int64_t>(FFileSize, 16, blockSize));
        blockSize = FBlockSize;
    }
    // Left uninitialised: every byte is read into before it is looked at, and clearing
    // megabytes would cost a short run more than its walk.
    FOwned.reset(new std::uint8_t[static_cast<std::size_t>(blockSize) + kCarry]);
    FBuffer = FOwned.get();
    FData = FBuffer + kCarry;
}

TUnitCursor::TUnitCursor(FileStream& stream, std::uint8_t* buffer, std::int32_t capacity,
                         std::int64_t budget)
    : FStream(stream), FBlockSize(capacity - kCarry), FFileSize(stream.Size()),
      FPipe(stream.IsPipe()), FBuffer(buffer), FBudget(budget), FReadAhead(false) {
    if (capacity < kLeastRead + kCarry) {
        throw std::invalid_argument("buffer too small");
    }
    FData = FBuffer + kCarry;
}

TUnitCursor::~TUnitCursor() {
    if (!FAhead) {
        return;
    }
    {
        const std::lock_guard lock(FAhead->Mutex);
        FAhead->Stop = true;
    }
    FAhead->Changed.notify_all();
    FAhead->Thread.join();
}

void TUnitCursor::ReadOneAhead(std::unique_lock<std::mutex>& lock) {
    TAhead& ahead = *FAhead;
    TAhead::TSlot& slot = ahead.Slot(ahead.Queued++);
    const std::int64_t at = ahead.NextAt;
    const auto count =
        static_cast<std::int32_t>(std::min<std::int64_t>(FBlockSize, ahead.Until - at));
    slot.At = at;
    slot.Count = count;
    slot.Done = false;
    ahead.NextAt += count;
    ++ahead.Reading;
    std::uint8_t* into = slot.Buffer.get() + kCarry;
    lock.unlock();
    std::int32_t got = 0;
    std::exception_ptr failure;
    try {
        got = ReadAt(at, into, count);
    } catch (...) {
        failure = std::current_exception();
    }
    lock.lock();
    slot.Got = got;
    slot.Failure = failure;
    slot.Done = true;
    --ahead.Reading;
    ahead.Halted = ahead.Halted || failure != nullptr || got < count;
    ahead.Changed.notify_all();
}

std::int32_t TUnitCursor::TakeAhead(std::int64_t position, const std::uint8_t* tail,
                                    std::int32_t carried, std::int32_t& count) {
    TAhead& ahead = *FAhead;
    std::unique_lock lock(ahead.Mutex);
    // A block that is not wanted is waited for, since the stream is shared, and its failure
    // does not count: the read that is wanted reports its own.
    if (ahead.Queued == 0 || ahead.Slot(0).At != position) {
        ahead.Empty(lock);
        return -1;
    }
    // Rather than wait for the block, the walk reads the next one itself: the copy from the
    // page cache bounds a walk, and two cores copy faster than one.
    while (!ahead.Slot(0).Done) {
        if (!FPipe && ahead.MayRead()) {
            ReadOneAhead(lock);
        } else {
            ahead.Changed.wait(lock);
        }
    }
    TAhead::TSlot& slot = ahead.Slot(0);
    ahead.First = (ahead.First + 1) % ahead.Slots.size();
    --ahead.Queued;
    if (slot.Failure) {
        const std::exception_ptr failure = std::exchange(slot.Failure, nullptr);
        ahead.Empty(lock);
        std::rethrow_exception(failure);
    }
    std::memcpy(slot.Buffer.get() + kCarry - carried, tail, static_cast<std::size_t>(carried));
    std::swap(slot.Buffer, FOwned);
    FBuffer = FOwned.get();
    count = slot.Count;
    const std::int32_t got = slot.Got;
    lock.unlock();
    ahead.Changed.notify_all(); // a buffer is free
    return got;
}

void TUnitCursor::DropAhead() {
    if (FAhead) {
        std::unique_lock lock(FAhead->Mutex);
        FAhead->Empty(lock);
    }
}

void TUnitCursor::Seek(std::int64_t offset) {
    offset = std::max<std::int64_t>(offset, 0);
    FFrom = offset;
    FStarted = false;
    FNext = -1;
    FExhausted = false;
    FCancelled = false;
    FReached = offset;
    // The byte before offset tells whether a start code there is the tail of a longer one.
    if (offset - 1 < FBase || offset > FBase + FLength) {
        FBase = std::max<std::int64_t>(offset - 1, 0);
        FLength = 0;
    }
}

void TUnitCursor::SetBudget(std::int64_t bytes) {
    FBudget = bytes;
    FSpent = 0;
}

std::int32_t TUnitCursor::Held(std::int64_t offset, std::int32_t count,
                               const std::uint8_t*& data) const {
    if (offset < FBase || offset >= FBase + FLength || count <= 0) {
        return 0;
    }
    const std::int64_t index = offset - FBase;
    data = FData + index;
    return static_cast<std::int32_t>(std::min<std::int64_t>(count, FLength - index));
}

void TUnitCursor::StartReadAhead() {
    const std::int64_t next = FBase + FLength;
    if (!FReadAhead || next >= FFileSize) {
        return;
    }
    if (!FAhead) {
        FAhead = std::make_unique<TAhead>();
        FAhead->Slots.resize(
            static_cast<std::size_t>(std::clamp<std::int64_t>(kAheadBytes / FBlockSize, 2, 8)));
        for (TAhead::TSlot& slot : FAhead->Slots) {
            slot.Buffer.reset(new std::uint8_t[static_cast<std::size_t>(FBlockSize) + kCarry]);
        }
        FAhead->Thread = std::thread([this, &ahead = *FAhead] {
            std::unique_lock lock(ahead.Mutex);
            for (;;) {
                ahead.Changed.wait(lock, [&ahead] { return ahead.Stop || ahead.MayRead(); });
                if (ahead.Stop) {
                    return;
                }
                ReadOneAhead(lock);
            }
        });
    }
    {
        const std::lock_guard lock(FAhead->Mutex);
        // The blocks queued follow the one in hand; an empty ring begins after it.
        if (FAhead->Queued == 0) {
            FAhead->NextAt = next;
            FAhead->Halted = false;
        }
        // A walk within a budget reads one block ahead: it may end soon.
        FAhead->Depth = FBudget >= 0 ? 1 : FAhead->Slots.size();
        FAhead->Until = FFileSize;
    }
    FAhead->Changed.notify_all();
}

std::int32_t TUnitCursor::ReadAt(std::int64_t position, std::uint8_t* into, std::int32_t count) {
    if (!FPipe) {
        return ReadWithinSize(FStream, position, into, count, FFileSize);
    }
    // Standard input ends where a read comes back short.
    FStream.Seek(position);
    return FStream.Read(into, count);
}

bool TUnitCursor::Slide(std::int64_t keep) {
    if (AtEnd()) {
        return false;
    }
    if (FCancel != nullptr && FCancel->load()) {
        FCancelled = true;
        return false;
    }
    if (FBudget >= 0 && FSpent >= FBudget) {
        FExhausted = true;
        return false;
    }
    keep = std::clamp(keep, FBase + FLength - kCarry, FBase + FLength);
    std::int64_t readAt = FBase + FLength;
    // The zeros of a hole hold no start code: the walk goes on four bytes before the data
    // after it, and what it kept from before the hole is of no more use. Standard input has
    // none, and its state is the read ahead's while it reads.
    const std::int64_t data = FPipe ? readAt : FStream.NextDataOffset(readAt);
    if (data - 4 > readAt) {
        keep = readAt = std::min(data, FFileSize) - 4;
    }
    const auto carried =
        static_cast<std::int32_t>(std::max<std::int64_t>(FBase + FLength - keep, 0));
    const std::uint8_t* tail = FData + (keep - FBase);
    auto count = static_cast<std::int32_t>(std::min<std::int64_t>(FBlockSize, FFileSize - readAt));
    if (FBudget >= 0) {
        count = static_cast<std::int32_t>(std::min<std::int64_t>(count, FBudget - FSpent));
    }
    std::int32_t got = FAhead ? TakeAhead(readAt, tail, carried, count) : -1;
    if (got < 0) {
        std::memmove(FBuffer + kCarry - carried, tail, static_cast<std::size_t>(carried));
        got = ReadAt(readAt, FBuffer + kCarry, count);
    }
    // Where standard input ends is learned at its last read; what was carried to it is
    // still to be looked at, now as the end.
    const bool ended = FPipe && got < count;
    if (ended) {
        FFileSize = readAt + got;
    }
    FData = FBuffer + kCarry - carried;
    FBase = keep;
    FLength = carried;
    FLength += got;
    FSpent += got;
    StartReadAhead();
    return got > 0 || (ended && carried > 0);
}

std::int64_t TUnitCursor::FindFrom(std::int64_t pos) {
    for (;;) {
        if (pos >= FFileSize) {
            FReached = FFileSize;
            return -1;
        }
        // Inside the file a start code is tested with four bytes in hand; positions closer
        // to the block's end are examined again after the next read.
        const std::int64_t lastBegin = AtEnd() ? FLength - 3 : FLength - 4;
        const std::int64_t found = FindStartCode(FData, FLength, pos - FBase, lastBegin);
        if (found >= 0) {
            return FBase + found;
        }
        const std::int64_t examined =
            std::max(pos, FBase + std::max<std::int64_t>(lastBegin + 1, 0));
        FReached = AtEnd() ? FFileSize : examined;
        if (!Slide(examined)) {
            return -1;
        }
        pos = std::max(examined, FBase);
    }
}

void TUnitCursor::Begin() {
    FStarted = true;
    FNext = FindFrom(FFrom);
    // A 00 00 01 right after a zero is the tail of a start code that began before FFrom.
    if (FNext == FFrom && FNext > 0 && FNext - 1 >= FBase && FData[FNext - 1 - FBase] == 0 &&
        StartCodeLength(FData + (FNext - FBase), FBase + FLength - FNext) == 3) {
        FNext = FindFrom(FNext + 1);
    }
}

bool TUnitCursor::NextStart(std::int64_t from, std::int64_t& found) {
    Seek(from);
    Begin();
    if (FNext < 0) {
        return false;
    }
    found = FReached = FNext;
    return true;
}

bool TUnitCursor::Load(std::int64_t from, std::int64_t to) {
    to = std::min(to, FFileSize);
    if (to <= from || (FBudget >= 0 && FSpent >= FBudget)) {
        return false;
    }
    if (FCancel != nullptr && FCancel->load()) {
        FCancelled = true;
        return false;
    }
    DropAhead();
    const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(to - from, FBlockSize));
    FSpent += want;
    // Whatever fails below, the block in hand is no longer what it held.
    FLength = 0;
    FData = FBuffer + kCarry;
    FBase = from;
    FLength = ReadAt(from, FData, want);
    return FLength > 0;
}

std::int32_t TUnitCursor::Previous(std::int64_t at, std::int32_t count, std::int64_t* found) {
    FExhausted = false;
    FCancelled = false;
    FStarted = false;
    FNext = -1;
    std::int32_t met = 0;
    std::int64_t pos = std::min(at, FFileSize - 3);
    FReached = std::max<std::int64_t>(pos + 1, 0);
    while (met < count && !FPipe) {
        if (pos < 0) {
            FReached = 0;
            break;
        }
        // Pass over a hole: its start code's 01 byte lies in data, at least two bytes in.
        const std::int64_t dataEnd = FStream.DataEndBefore(std::min(pos + 4, FFileSize));
        pos = std::min(pos, dataEnd - 3);
        if (pos < 0) {
            FReached = 0;
            break;
        }
        const std::int64_t top = std::min(pos + 4, FFileSize);
        std::int64_t lo = std::max<std::int64_t>(top - FBlockSize + 1, 0);
        // The block at hand serves as far down as it reaches; a position needs the byte
        // before it.
        const std::int64_t heldLo = FBase == 0 ? 0 : FBase + 1;
        if (FLength > 0 && top <= FBase + FLength && heldLo <= pos) {
            lo = std::max(lo, heldLo);
        } else {
            const std::int64_t allowed =
                FBudget < 0 ? std::numeric_limits<std::int64_t>::max() : FBudget - FSpent;
            if (allowed <= 0) {
                FExhausted = true;
                FReached = pos + 1;
                break;
            }
            lo = std::min(std::max(lo, top - std::max<std::int64_t>(allowed, kLeastRead) + 1), pos);
            if (!Load(lo > 0 ? lo - 1 : 0, top)) {
                FExhausted = !FCancelled;
                FReached = pos + 1;
                break;
            }
        }
        const std::int32_t more =
            LastStartCodesIn(FData, FLength, lo - FBase, pos - FBase, count - met, found + met);
        for (std::int32_t i = met; i < met + more; ++i) {
            found[i] += FBase;
        }
        met += more;
        FReached = lo;
        pos = lo - 1;
    }
    FFrom = FReached;
    return met;
}

TNalUnitLocator TUnitCursor::Describe(std::int64_t offset) {
    std::uint8_t bytes[5] = {};
    const auto available =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(FFileSize - offset, 0, 5));
    const std::uint8_t* held = nullptr;
    if (available > 0 && Held(offset, available, held) == available) {
        std::memcpy(bytes, held, static_cast<std::size_t>(available));
    } else if (available > 0 && !FPipe) {
        DropAhead();
        ReadAt(offset, bytes, available);
    }
    TNalUnitLocator locator{};
    locator.Offset = offset;
    const int startCode = StartCodeLength(bytes, available);
    locator.NalHeader = startCode > 0 && available > startCode ? bytes[startCode] : 0;
    // The four bytes at the offset read big-endian: 1 for 00 00 00 01, 00 00 01 xx otherwise.
    locator.StartCodeWord = startCode == 4 ? 1u : 0x00000100u | locator.NalHeader;
    return locator;
}

bool TUnitCursor::Next(TNalUnitSpan& span, TUnitWantsOf wants, std::vector<std::uint8_t>* sink,
                       std::size_t sinkLimit) {
    if (!FStarted) {
        Begin();
    }
    const std::int64_t at = FNext;
    if (at < 0) {
        // The last unit's length ran to the old end; a file that grew since may continue
        // that unit or hold more, so the walk as made would be wrong.
        if (!FExhausted && !FCancelled && FStream.Size() != FFileSize) {
            throw EFileChanged();
        }
        return false;
    }
    if (at + 5 > FBase + FLength && !AtEnd()) {
        Slide(at);
    }
    const std::int64_t available = FBase + FLength - at;
    const std::uint8_t* p = FData + (at - FBase);
    const int startCode = at >= FBase ? StartCodeLength(p, available) : 0;
    if (startCode == 0) {
        throw EFileChanged();
    }
    const std::uint8_t header = available > startCode ? p[startCode] : 0;
    const TUnitWants wanted =
        wants != nullptr && available > startCode ? wants(header) : TUnitWants{};
    if (!wanted.Keep) {
        sink = nullptr;
    }
    FHead.clear();
    FOverflow = false;
    const std::size_t sinkStart = sink ? sink->size() : 0;
    if (sink) {
        static constexpr std::uint8_t kStartCode[] = {0, 0, 0, 1};
        sink->insert(sink->end(), kStartCode, kStartCode + 4);
    }
    const std::int64_t payload = at + startCode;
    std::int64_t lastNonZero = payload; // one past the last byte that is not zero
    // Zeros pass to the sink only once a byte that is not zero follows them, so that the
    // zeros at a unit's end never reach it.
    std::int64_t pendingZeros = 0;
    std::int64_t scan = payload;
    std::int64_t next = -1;
    std::int64_t end = FFileSize;
    for (;;) {
        if (scan < FBase) {
            scan = FBase; // a hole was passed over: zeros, all of them
        }
        const std::int64_t lastBegin = AtEnd() ? FLength - 3 : FLength - 4;
        const std::int64_t found = FindStartCode(FData, FLength, scan - FBase, lastBegin);
        const std::int64_t chunkEnd =
            found >= 0 ? FBase + found
                       : (AtEnd() ? FBase + FLength
                                  : FBase + std::max<std::int64_t>(lastBegin + 1, scan - FBase));
        const std::uint8_t* chunk = FData + (scan - FBase);
        const std::int64_t n = std::max<std::int64_t>(chunkEnd - scan, 0);
        std::int64_t last = n - 1;
        while (last >= 0 && chunk[last] == 0) {
            --last;
        }
        if (last >= 0) {
            lastNonZero = scan + last + 1;
        }
        const std::int64_t headFrom = std::max(scan, payload + 1);
        const std::int64_t headWant = std::min<std::int64_t>(
            chunkEnd - headFrom, wanted.HeadBytes - static_cast<std::int64_t>(FHead.size()));
        if (headWant > 0) {
            const std::uint8_t* from = FData + (headFrom - FBase);
            FHead.insert(FHead.end(), from, from + headWant);
        }
        if (sink && !FOverflow && n > 0) {
            if (last >= 0) {
                const auto grow = static_cast<std::size_t>(pendingZeros + last + 1);
                if (sink->size() + grow > sinkLimit) {
                    FOverflow = true;
                } else {
                    sink->insert(sink->end(), static_cast<std::size_t>(pendingZeros), 0);
                    sink->insert(sink->end(), chunk, chunk + last + 1);
                    pendingZeros = 0;
                }
            }
            pendingZeros += n - 1 - last;
        }
        if (found >= 0) {
            next = FBase + found;
            end = next;
            break;
        }
        if (AtEnd()) {
            break;
        }
        scan = chunkEnd;
        if (!Slide(chunkEnd)) {
            end = FBase + FLength; // the budget or a cancel ended the walk inside the unit
            FReached = end;
            break;
        }
        if (FBase > scan) {
            const std::int64_t skipped = FBase - scan;
            pendingZeros += skipped;
            const std::int64_t headZeros = std::min<std::int64_t>(
                skipped, wanted.HeadBytes - static_cast<std::int64_t>(FHead.size()));
            if (headZeros > 0) {
                FHead.insert(FHead.end(), static_cast<std::size_t>(headZeros), 0);
            }
        }
    }
    FNext = next;
    FReached = end;
    span = TNalUnitSpan{};
    span.Offset = at;
    span.StartCodeLength = startCode;
    span.Length = end - at;
    // A start code that ends the file or is followed at once by the next one has no header
    // byte of its own; the byte after it belongs to the next unit, if to any.
    span.HasHeader = span.Length > startCode;
    span.Header = span.HasHeader ? header : 0;
    span.PayloadEnd = lastNonZero;
    if (sink && (FOverflow || !span.HasHeader)) {
        sink->resize(sinkStart);
    }
    return true;
}
