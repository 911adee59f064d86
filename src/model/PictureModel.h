#pragma once

// The decoding process without pixels: per picture in decoding order, its order count, the
// reference lists of each slice, the marking of reference pictures and the decoded picture
// buffer before and after it, and its place in output order by the bumping process. Fed
// the slices of each access unit with their governing sets; fixed memory whatever the
// stream (16 frames in the buffer, 32 entries a list, a bounded queue of pictures).

#include "model/PictureOrder.h"
#include "syntax/AccessUnit.h"
#include "syntax/pic_parameter_set_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum class TPictureStructure { Frame, Top, Bottom, Mbaff };
const char* StructureName(TPictureStructure structure);

// One entry of a reference list: a frame, or a field of one.
struct TListEntry {
    bool Missing = false; // no picture answers the entry (Number says which was asked for)
    bool LongTerm = false;
    std::int32_t Parity = 0; // 0 a frame, 1 a top field, 2 a bottom field
    std::int64_t Poc = 0;
    std::int64_t FrameNum = 0;   // frame_num, or LongTermFrameIdx when LongTerm
    std::int64_t Number = 0;     // PicNum or LongTermPicNum as the slice counts it
    bool Exists = true;          // false for a frame the gaps process inserted
};

// One frame buffer of the decoded picture buffer.
struct TBufferEntry {
    std::int64_t FrameNum = 0;
    std::int64_t LongTermFrameIdx = -1; // -1: not long-term
    std::int64_t Poc = 0;               // of the fields it holds, the smaller
    std::int32_t Fields = 3;            // 1 top, 2 bottom, 3 both
    std::int32_t Reference[2] = {0, 0}; // per field: 0 unused, 1 short term, 2 long term
    bool WaitingForOutput = false;
    bool Exists = true; // false for a frame the gaps process inserted
    bool LongTerm() const { return Reference[0] == 2 || Reference[1] == 2; }
    bool ShortTerm() const { return Reference[0] == 1 || Reference[1] == 1; }
};

struct TSliceLists {
    std::uint32_t SliceType = 0;
    std::vector<TListEntry> Initial[2];
    std::vector<TListEntry> Final[2];
};

// What the model knows of one picture (a frame or a field).
struct TCodedPicture {
    std::int64_t Decode = 0;
    std::int64_t Display = -1; // -1: not known (the queue was full)
    std::int64_t Offset = 0;   // of its access unit
    std::int64_t Bytes = 0;    // of its access unit
    std::int64_t SliceBytes = 0; // of its slices alone, without sets, SEI and the rest
    std::string Types;         // the slice types in order of first appearance, "I,P"
    bool Idr = false;
    std::uint32_t NalRefIdc = 0;
    TPictureStructure Structure = TPictureStructure::Frame;
    std::uint32_t FrameNum = 0;
    TPictureCount Count;
    std::uint32_t Slices = 0;
    std::int32_t QpMin = 0;
    std::int32_t QpMax = 0;
    bool Exact = true;
    std::vector<TBufferEntry> Before; // the buffer before decoding (after gaps are filled)
    std::vector<TBufferEntry> After;  // after its marking and storage
    std::vector<TSliceLists> Lists;   // per slice, up to kKeptSliceLists
    std::uint32_t ListsLeftOut = 0;
    std::vector<std::string> Problems; // up to kKeptProblems
    std::uint32_t ProblemsLeftOut = 0;
};

class TPictureModel {
  public:
    static constexpr std::size_t kMaxFrames = 16;
    static constexpr std::size_t kKeptSliceLists = 64;
    static constexpr std::size_t kKeptProblems = 16;
    static constexpr std::size_t kQueueLimit = 96;

    // done receives each picture in decoding order once its place in output order is known.
    explicit TPictureModel(std::function<void(const TCodedPicture&)> done);
    ~TPictureModel();

    // An access unit begins at offset.
    void BeginAccessUnit(std::int64_t offset);
    // A unit of the access unit in hand: its bytes in the file.
    void Unit(std::int64_t bytes, bool slice);
    // A slice of the access unit in hand whose header could be read, with its sets.
    void Slice(const TSliceHead& head, const TSeqParameterSet& sps, const TPicParameterSet* pps);
    // A recovery point SEI in the access unit in hand: recovery_frame_cnt.
    void RecoveryPoint(std::uint32_t recovery_frame_cnt);
    // A slice whose header could not be read.
    void UnreadableSlice();
    // The stream ends: the last picture is finished and every waiting one output.
    void Finish();

    std::int64_t Problems() const { return FProblemCount; }
    std::int64_t Pictures() const { return FDecoded; }

  private:
    struct TStore;
    struct TPending;
    struct TScratch;
    // What the model keeps of the sequence set of the picture in hand.
    struct TSequence {
        std::int64_t MaxFrameNum = 16;
        std::uint32_t NumRefFrames = 1; // at least 1, as the sliding window counts
        bool GapsAllowed = false;
        std::size_t DpbSize = kMaxFrames;
    };

    void FinishPicture();
    void StartPicture(const TSliceHead& head, const TSeqParameterSet& sps);
    void Learn(const TSeqParameterSet& sps);
    void Recycle(TCodedPicture& facts);
    void FillGaps(const TSliceHead& head, const TSeqParameterSet& sps);
    void BuildLists(const TSliceHead& head, TSliceLists& lists);
    void Modify(const TSliceHead& head, int list, std::vector<TListEntry>& entries,
                std::vector<int>& stores, std::uint32_t active);
    void Mark();
    void Adaptive(const TSliceHead& head);
    void SlidingWindow();
    void Store();
    bool Bump();
    void FlushAll(bool output);
    TCodedPicture* FactsOf(std::int64_t decode);
    void Resolve(std::int64_t decode, std::int64_t display);
    std::int64_t OutputPicture(const std::int64_t (&decode)[2], std::int64_t poc);
    void Drain(bool all);
    void Problem(const std::string& line);
    void Snapshot(std::vector<TBufferEntry>& into) const;
    void Release();
    int Find(int kind, std::int64_t number) const;
    std::int64_t PicNumOf(int store, int parity) const;
    std::int64_t LongTermPicNumOf(int store, int parity) const;
    TListEntry EntryOf(int store, int parity) const;
    bool Field() const;
    int Parity() const;
    std::size_t DpbSize() const;
    std::int64_t MaxFrameNum() const;

    std::function<void(const TCodedPicture&)> FDone;
    std::vector<TStore> FStores; // kMaxFrames + 1, the current picture's last
    std::deque<TPending> FQueue; // pictures decoded whose place in output is not yet known
    TPictureOrder FOrder;
    TSequence FSequence;
    std::unique_ptr<TScratch> FScratch;
    // The picture in hand.
    bool FInPicture = false;
    bool FAccessUnitOpen = false;
    TSliceHead FHead;
    TCodedPicture FFacts;
    std::int64_t FAccessUnitOffset = 0;
    std::int64_t FAccessUnitBytes = 0;
    std::int64_t FSliceBytes = 0;
    std::int32_t FCurrentStore = -1; // where the current picture goes
    bool FCurResolved = false;       // its place in output order is known
    std::int32_t FCurReference = 0;  // how its marking leaves it: 0, 1 short, 2 long term
    std::int64_t FCurLongTermFrameIdx = -1;
    bool FSecondField = false;
    // Across pictures.
    std::int64_t FDecoded = 0;
    std::int64_t FDisplayed = 0;
    std::int64_t FProblemCount = 0;
    std::int64_t FMaxLongTermFrameIdx = -1; // -1: no long-term frame indices
    std::int64_t FPrevRefFrameNum = 0;
    bool FStarted = false;
    bool FUnsure = false; // the start was not an IDR picture: the buffer is not known
    bool FCutStart = false; // no IDR picture since a start at another picture
    // A recovery point met while unsure: the frame_num at which pictures are right again,
    // and once there, its POC, below which pictures shown before it stay unsure.
    std::int64_t FPendingRecovery = -1;
    std::int64_t FRecoveryFrameNum = -1;
    std::int64_t FRecoveredPoc = 0;
    bool FLeadingUnsure = false;
    std::int64_t FLastOutputPoc = 0;
    bool FOutputInSequence = false;
    std::int32_t FLastField = -1;  // store of the last field decoded, awaiting its pair
    std::int32_t FLastFieldParity = 0;
    std::int64_t FLastFieldFrameNum = 0;
    bool FLastFieldReference = false;
    bool FLastFieldIdr = false;
};
