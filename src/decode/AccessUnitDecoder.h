#pragma once

// The picture of the access unit a selected unit belongs to, decoded from the nearest
// IDR picture or recovery point before it, with no index of the file: the start is looked
// for back from the selection within a bound, and only the units from there to the
// selected picture (and the few after it that the decoder needs before it gives the
// picture out) are read and decoded. Stepping forward within the same run of pictures goes
// on from where the last decoding stopped.

#include "decode/AccessUnitRules.h"
#include "decode/PictureDecoder.h"
#include "decode/UnitWalk.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class FileStream;
class TParameterSetFinder;

// How far before the selected picture its starting point is looked for, and how large one
// access unit may be: the bound of one navigation step.
inline constexpr std::int64_t kPictureSearchBound = 67108864; // 64 MiB

// What the line under a picture tells.
struct TPictureFacts {
    std::int64_t AccessUnitOffset = 0; // its first unit that the decoding read
    std::string SliceTypes;            // "P", or "I/P" for mixed slices, in stream order
    std::uint32_t FrameNum = 0;
    std::int32_t Poc = 0;
    std::int64_t StartOffset = 0; // the IDR slice or recovery point SEI decoding began at
    bool StartIsIdr = true;
    std::int32_t Pictures = 0; // pictures decoded from there, this one included
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
std::string ProgressLine(std::int64_t startOffset, bool startIsIdr, std::int32_t pictures);

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
    // cancel, when given, is looked at between units; a cancelled decoding keeps what it
    // did for the next. Throws on a read failure.
    TPictureAnswer Decode(std::int64_t offset, const std::atomic<bool>* cancel = nullptr);

    // Told after each access unit given to the decoder: where decoding began and how many
    // pictures it has given since, for a note on the way.
    using TProgress =
        std::function<void(std::int64_t startOffset, bool startIsIdr, std::int32_t pictures)>;
    void SetProgress(TProgress progress) { FProgress = std::move(progress); }

    // Access units given to the decoder since construction, and how many decodings began
    // afresh at a starting point: what the tests and the benchmark look at.
    std::int64_t UnitsSent() const { return FUnitsSent; }
    std::int64_t ColdStarts() const { return FColdStarts; }

  private:
    struct TSet {
        std::unique_ptr<TSeqParameterSet> Sps;
        std::unique_ptr<TPicParameterSet> Pps;
        std::vector<std::uint8_t> Bytes; // the unit with a four-byte start code
    };
    // One access unit of the walk.
    struct TUnitGroup {
        std::int64_t First = 0;
        std::int64_t End = 0; // where the next one begins (or the file ends)
        bool HasPicture = false;
        bool StartsHere = false; // holds an IDR picture's first slice or a recovery point
        std::int64_t StartOffset = 0;
        bool StartIsIdr = false;
        TSliceHead FirstHead;
        TSliceHead LastHead;
        std::string SliceTypes;
        std::int32_t Poc = 0;
        std::int32_t Index = 0; // pictures since the start, this one included
        std::vector<std::uint8_t> Bytes;
        bool Overflow = false;
        bool Out = false; // its picture came out of the decoder
    };
    enum class TStep { Continue, Failed, Cancelled };

    bool CanAnswer(std::int64_t offset) const;
    bool FindStart(std::int64_t offset, std::int64_t floor, std::int64_t& walkStart);
    std::optional<std::int64_t> SearchStartBack(std::int64_t anchor, std::int64_t floor);
    bool IsStartUnit(std::uint8_t header, const std::uint8_t* afterHeader, std::size_t size);
    void BeginWalk(std::int64_t walkStart);
    // Walks on until the group holding offset has been sent and its picture came out, or
    // the file ended.
    TPictureAnswer WalkTo(std::int64_t offset, const std::atomic<bool>* cancel);
    TStep TakeUnit(bool feedAhead);
    TStep CloseGroup(std::int64_t end, bool feedAhead);
    TStep Send(TUnitGroup& group);
    TStep DrainAll();
    void Collect();
    void RestartAt(TUnitGroup& group);
    const TPicParameterSet* PpsFor(std::uint32_t id, const TSeqParameterSet*& sps);
    const TSeqParameterSet* SpsFor(std::uint32_t id);
    // Parses a parameter set (the unit's bytes from its start code on) and keeps it.
    TSet* Learn(const std::uint8_t* unit, std::size_t size);
    // Finds a set before the walk's start, for the prelude.
    TSet* FindBefore(std::uint32_t type, std::uint32_t id);
    bool Answer(std::int64_t offset, TPictureAnswer& answer);
    const TUnitGroup* GroupHolding(std::int64_t offset) const;

    FileStream& FStream;
    std::int64_t FFileSize;
    IPictureDecoder& FDecoder;
    std::unique_ptr<TParameterSetFinder> FFinder;
    TUnitWalk FWalk;
    TUnitWalk FProbe; // looks ahead from a selection without moving the walk

    // The walk: valid while the decoder holds what the groups below were decoded into.
    bool FValid = false;
    bool FDrained = false;
    std::int64_t FWalkStart = 0;
    std::vector<TUnitGroup> FDone; // closed groups, without their bytes
    TUnitGroup FOpen;              // the group the walk adds units to
    bool FOpenUsed = false;
    // Parameter sets found before the walk's start, sequence sets apart so that they go
    // first.
    std::vector<std::uint8_t> FPrelude;
    std::vector<std::uint8_t> FPreludePps;
    std::map<std::uint32_t, TSet> FSpsById;
    std::map<std::uint32_t, TSet> FPpsById;
    TPictureOrder FOrder;
    std::int32_t FPictureCount = 0;
    std::int64_t FOutputEpoch = 0;
    std::int64_t FStartOffset = 0;
    bool FStartIsIdr = true;
    std::string FFailure;
    // Pictures out of the decoder that nobody asked for yet, by their group's First.
    std::map<std::int64_t, TPicture> FPictures;
    std::int64_t FUnitsSent = 0;
    std::int64_t FColdStarts = 0;
    TWalkUnit FUnit;
    std::vector<std::uint8_t> FUnitBytes;
    std::int64_t FWaitFor = -1;   // the group whose picture the walk waits for
    std::int64_t FRequested = -1; // the offset asked for
    TProgress FProgress;
};
