#pragma once

// The picture of the access unit a selected unit belongs to, decoded from the nearest
// IDR picture or recovery point before it, with no index of the file: the start is looked
// for back from the selection within a bound, and only the units from there to the
// selected picture (and the few after it that the decoder needs before it gives the
// picture out) are read and decoded. Stepping forward within the same run of pictures goes
// on from where the last decoding stopped.

#include "decode/PictureDecoder.h"
#include "model/PictureOrder.h"
#include "stream/UnitCursor.h"
#include "syntax/AccessUnit.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class FileStream;
class TParameterSetFinder;
class TWalkContext;

// How far before the selected picture its starting point is looked for, and how large one
// access unit may be: the bound of one navigation step.
inline constexpr std::int64_t kPictureSearchBound = 67108864; // 64 MiB

// Where decoding began: the nearest IDR picture makes every picture after it the stream's
// own; a recovery point does so once its recovery_frame_cnt has passed; an I picture of an
// open stream leaves later pictures' references to chance.
enum class TStartKind { Idr, RecoveryPoint, IPicture };

// What the line under a picture tells.
struct TPictureFacts {
    std::int64_t AccessUnitOffset = 0; // its first unit that the decoding read
    std::string SliceTypes;            // "P", or "I/P" for mixed slices, in stream order
    std::uint32_t FrameNum = 0;
    std::int32_t Poc = 0;         // the full picture order count
    std::int64_t StartOffset = 0; // the unit decoding began at
    bool StartIsIdr = true;
    TStartKind StartKind = TStartKind::Idr;
    std::int32_t Pictures = 0; // pictures decoded from there, this one included
    // The picture's place after the start (0: the start's own picture), in decoding and in
    // display order.
    std::int32_t DecodeIndex = 0;
    std::int32_t DisplayIndex = 0;
    // The start makes the picture the stream's own; otherwise it may differ.
    bool StartExact = true;
    // What else may make it differ: the decoder's own word that it is damaged, an access
    // unit before it that the decoder rejected, references the decoder was not let keep.
    std::vector<std::string> Damage;
    // Nothing is known that makes it differ: an exact start and no damage.
    bool Exact = true;
};

struct TDecodedPicture {
    TPicture Picture;
    TPictureFacts Facts;
};

enum class TPictureOutcome { Done, Failed, Cancelled };

struct TPictureAnswer {
    TPictureOutcome Outcome = TPictureOutcome::Failed;
    std::string Message; // why it failed, in one line
    TDecodedPicture Decoded;
};

// The messages of a failure.
std::string NoStartMessage();
std::string NoPictureMessage();
std::string DecoderErrorMessage(const std::string& reason);

// The line while a picture is on its way: where decoding began and how far it got.
std::string ProgressLine(std::int64_t startOffset, TStartKind kind, std::int32_t pictures);

// Whether some level allows a picture of this size: the highest level's frame size, and
// no side over the square root of 8 frame sizes.
bool AnyLevelAllows(std::uint64_t widthInMbs, std::uint64_t heightInMbs);

// Why a picture cannot be decoded at all: its size is past what any level allows.
std::string TooLargeMessage(std::uint64_t widthInMbs, std::uint64_t heightInMbs);

// What a picture decoded from a start that cannot make it exact carries: the start, and
// that it may differ. Empty when the start makes it exact.
std::string InexactNote(const TPictureFacts& facts);

// Every reason the picture may differ from the stream's, one a line: the start's, then
// each damage. Empty for an exact picture.
std::vector<std::string> PictureWarnings(const TDecodedPicture& decoded);

// The line under a picture: size, slice types, frame_num, POC and where decoding began.
std::string PictureLine(const TDecodedPicture& decoded);

class TAccessUnitDecoder {
  public:
    // Reads stream, whose size must stay fileSize; decodes with decoder. Both must outlive
    // it and be used by nothing else meanwhile.
    TAccessUnitDecoder(FileStream& stream, std::int64_t fileSize, IPictureDecoder& decoder);
    ~TAccessUnitDecoder();
    TAccessUnitDecoder(const TAccessUnitDecoder&) = delete;
    TAccessUnitDecoder& operator=(const TAccessUnitDecoder&) = delete;

    // The picture of the access unit holding the unit whose start code begins at offset.
    // cancel, when given, is looked at before every read; a cancelled decoding keeps what
    // it did for the next. Throws on a read failure.
    TPictureAnswer Decode(std::int64_t offset, const std::atomic<bool>* cancel = nullptr);

    // Told after each access unit given to the decoder: where decoding began and how many
    // pictures it has given since, for a note on the way.
    using TProgress =
        std::function<void(std::int64_t startOffset, TStartKind kind, std::int32_t pictures)>;
    void SetProgress(TProgress progress) { FProgress = std::move(progress); }

    // The answered picture moves to the answer rather than being copied there and kept: for
    // a caller that asks once, a picture fewer in memory (hundreds of MB at 8192x4320).
    // Asking for it again then decodes it afresh.
    void HandOverPictures() { FHandOver = true; }

    // Access units given to the decoder since construction, and how many decodings began
    // afresh at a starting point: what the tests and the benchmark look at.
    std::int64_t UnitsSent() const { return FUnitsSent; }
    std::int64_t ColdStarts() const { return FColdStarts; }

  private:
    // One access unit of the walk.
    struct TUnitGroup {
        std::int64_t First = 0;
        std::int64_t End = 0; // where the next one begins (or the file ends)
        bool HasPicture = false;
        bool AllIntra = true;
        bool FromFirstMb = false; // a primary slice begins at macroblock 0
        // What the picture file tells of the sequence parameter set's VUI.
        int ChromaSampleLoc = 0;
        int RateNum = 0;
        int RateDen = 0;
        std::optional<std::uint32_t> RecoveryFrames; // a recovery point SEI in it
        TSliceHead FirstHead;
        std::string SliceTypes;
        std::int32_t Poc = 0;
        std::int32_t Index = 0;  // pictures since the start, this one included
        std::int32_t Period = 0; // IDR pictures and operations 5 since the start
        // How far frame_num has moved on since the start's picture, wraps counted, and
        // MaxFrameNum: the recovery point's count is in frame_num.
        std::uint64_t FrameNumRun = 0;
        std::uint32_t MaxFrameNum = 16;
        bool Reference = false; // nal_ref_idc is not 0
        // Why the decoder refused it, or why it was not given to the decoder, when so.
        std::string Rejected;
        bool LeftOut = false; // its only slices could not be read: never sent
        // Its set declares more reference frames than the decoder was let keep.
        std::string BoundNote;
        // A sequence of another size or sampling began before it without an IDR picture.
        std::string SequenceBreak;
        // What the decoder said was wrong in its picture (its first reason), once out.
        std::string Damaged;
        std::vector<std::uint8_t> Bytes;
        // The slices' places in Bytes and their first macroblocks, to put them in raster
        // order for a decoder that takes no other.
        std::vector<std::pair<std::uint32_t, std::pair<std::size_t, std::size_t>>> Slices;
        bool Overflow = false;
        bool Out = false; // its picture came out of the decoder
        // The tag its picture comes out under: its own, or, for the second field of a
        // pair, the first field's, since a decoder gives out the pair as one frame.
        std::int64_t Picture = -1;
        bool Paired = false;        // a first field whose second field followed
        std::int64_t KeepUntil = 0; // its picture is wanted by selections before this
    };
    // A place decoding may begin, found looking back from a selection.
    struct TStart {
        std::int64_t Offset = -1;
        TStartKind Kind = TStartKind::Idr;
    };
    enum class TStep { Continue, Failed, Cancelled };
    void PairFields(TUnitGroup& group);

    bool CanAnswer(std::int64_t offset) const;
    // The first slice of the selected unit's picture when the unit comes before it (an SEI,
    // a parameter set, a delimiter, filler); the unit itself otherwise.
    std::int64_t PictureAnchor(std::int64_t offset);
    // The starts found looking back from anchor, not below floor, the best first: the
    // nearest IDR picture, else the recovery points nearest first, then the nearest I
    // picture.
    std::vector<TStart> FindStarts(std::int64_t anchor, std::int64_t floor, bool idrOnly);
    // Decoding begins at start; the walk at from when the start is the selected unit's own
    // picture and from lies before it.
    void BeginWalk(const TStart& start, std::int64_t from);
    TPictureAnswer WalkTo(std::int64_t offset, const std::atomic<bool>* cancel);
    TStep TakeUnit(bool feedAhead);
    TStep CloseGroup(std::int64_t end, bool feedAhead);
    TStep Send(TUnitGroup& group);
    TStep DrainAll();
    void Collect();
    void RestartDecoder();
    bool Answer(std::int64_t offset, TPictureAnswer& answer);
    const TUnitGroup* GroupHolding(std::int64_t offset) const;
    std::int32_t DisplayIndexOf(const TUnitGroup& group) const;
    bool StartMakesExact(const TUnitGroup& first, const TUnitGroup& group) const;
    const TUnitGroup* RecoveredAt(const TUnitGroup& point) const;

    FileStream& FStream;
    std::int64_t FFileSize;
    IPictureDecoder& FDecoder;
    TUnitCursor FWalk;
    std::unique_ptr<TWalkContext> FContext; // walks with FWalk
    std::vector<std::uint8_t> FSearchBlock;

    // The walk: valid while the decoder holds what the groups below were decoded into.
    bool FValid = false;
    bool FDrained = false;
    TStart FStart;
    std::int64_t FWalkStart = 0;
    std::vector<TUnitGroup> FDone; // closed groups, without their bytes
    TUnitGroup FOpen;              // the group the walk adds units to
    bool FOpenUsed = false;
    TPictureOrder FOrder;
    std::int32_t FPictureCount = 0;
    std::int32_t FPeriod = 0;
    std::uint64_t FFrameNumRun = 0;
    std::uint32_t FLastFrameNum = 0;
    bool FFrameNumSeen = false;
    // The size and sampling of the sequence in force, and what broke it, when a picture
    // other than an IDR picture changed it.
    std::string FSequence;
    std::string FSequenceBreak;
    std::int64_t FOutputEpoch = 0;
    std::string FFailure;
    // Pictures out of the decoder that nobody asked for yet, by their group's First.
    std::map<std::int64_t, TPicture> FPictures;
    TPicture FScratch; // where a picture nobody asked for goes, for its decoder's word
    std::int64_t FUnitsSent = 0;
    std::int64_t FColdStarts = 0;
    TNalUnitSpan FUnit;
    std::vector<std::uint8_t> FUnitBytes;
    // A prefix unit whose access unit the next unit tells (-1: none held).
    std::int64_t FHeldOffset = -1;
    bool FHeldOverflow = false;
    std::vector<std::uint8_t> FHeldBytes;
    std::int64_t FWaitFor = -1;   // the group whose picture the walk waits for
    std::int64_t FRequested = -1; // the offset asked for
    TProgress FProgress;
    const std::atomic<bool>* FCancel = nullptr;
    bool FHandOver = false;
};
