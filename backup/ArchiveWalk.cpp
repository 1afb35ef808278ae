#include "ArchiveWalk.h"

#include "ArchiveFormat.h"
#include "ArchiveReader.h"
#include "BlockInflater.h"
#include "FileSystem.h"

#include <cstdlib>

namespace vantari {

using namespace archive;

namespace {

// The established text a restore shows for each kind of damage.
const char *FaultMessage(TArchiveFault fault) {
  switch (fault) {
  case afCutShort:
    return "Stream read error";
  case afArchiveType:
    return "Invalid archive type";
  case afInflate:
    return "Compression error";
  default:
    return "Cannot read archive";
  }
}

// Leaves a stream positioned just after the last field the walk read.
class TReleaseOnExit {
public:
  explicit TReleaseOnExit(std::unique_ptr<TArchiveReader> &reader) : FReader(reader) {}
  ~TReleaseOnExit() {
    if (FReader)
      FReader->Release();
  }
  TReleaseOnExit(const TReleaseOnExit &) = delete;
  TReleaseOnExit &operator=(const TReleaseOnExit &) = delete;

private:
  std::unique_ptr<TArchiveReader> &FReader;
};

} // namespace

// The consumer behind Run: wants every block, counts sizes, finds later volumes beside
// the first without asking.
class TArchiveWalk::TVerifier : public TArchiveConsumer {
public:
  TVerifier(TArchiveWalk &walk) : FWalk(walk) {}
  void Header(const std::string &title, int32_t totalSize, int32_t fileCount) override {
    FWalk.FTitle = title;
    FWalk.FTotalSize = totalSize;
    FWalk.FFileCount = fileCount;
  }
  bool Member(const std::string &name, int32_t fileDate) override {
    FMember = TArchiveMember{name, fileDate, 0};
    return !FWalk.SkipContent;
  }
  void Block(const uint8_t *data, int32_t count) override {
    if (data)
      FMember.Size += count;
  }
  void MemberEnd() override {
    if (FWalk.OnMember)
      FWalk.OnMember(FMember);
  }
  bool NextVolume(uint16_t, const std::string &) override {
    ++FWalk.FVolumes;
    return true;
  }

private:
  TArchiveWalk &FWalk;
  TArchiveMember FMember;
};

TArchiveWalk::TArchiveWalk() = default;
TArchiveWalk::~TArchiveWalk() = default;

bool TArchiveWalk::Run(const std::string &path) {
  FFailure.clear();
  FFault = afNone;
  if (!FileExists(path)) {
    FFailure = "cannot open " + path;
    return false;
  }
  try {
    TFileStream first(path, fmOpenRead);
    return RunChecked(first, path);
  } catch (const Exception &e) {
    FFailure = e.Message();
  }
  return false;
}

bool TArchiveWalk::Run(TStream &source) {
  FFailure.clear();
  FFault = afNone;
  int64_t start = 0;
  try {
    start = source.Position();
  } catch (const Exception &e) {
    FFailure = e.Message();
    return false;
  }
  const bool sound = RunChecked(source, std::string());
  try {
    source.SetPosition(start);
  } catch (const Exception &) {
    // A stream that cannot seek back stays where the walk left it.
  }
  return sound;
}

bool TArchiveWalk::RunChecked(TStream &first, const std::string &path) {
  TVerifier verifier(*this);
  FVolumes = 1;
  try {
    return Read(first, path, verifier);
  } catch (const EArchiveFault &e) {
    FFault = e.Fault();
    FFailure = e.Detail();
  } catch (const Exception &e) {
    FFailure = e.Message();
  } catch (const std::exception &e) {
    FFailure = e.what();
  }
  return false;
}

bool TArchiveWalk::Read(TStream &first, const std::string &path, TArchiveConsumer &consumer) {
  FConsumer = &consumer;
  FVolumePath = path;
  FVolumeNumber = 1;
  FInMember = false;
  FWanted = false;
  FVolume.reset();
  FReader = std::make_unique<TArchiveReader>(first);
  TReleaseOnExit release(FReader);
  if (!FInflater)
    FInflater = std::make_unique<TBlockInflater>();
  ReadHeader();
  const bool complete = ReadRecords();
  if (path.empty())
    return complete;
  FReader.reset();
  FVolume.reset();
  return complete;
}

void TArchiveWalk::Damaged(TArchiveFault fault, const std::string &what) {
  const long long at = FReader ? static_cast<long long>(FReader->Position()) : 0;
  const std::string where = FVolumePath.empty() ? std::string("stream") : FVolumePath;
  throw EArchiveFault(fault, FaultMessage(fault),
                      Format("%s at offset %lld of %s", what.c_str(), at, where.c_str()));
}

int32_t TArchiveWalk::ReadInt32(const char *missing) {
  if (FReader->Remaining() < 4)
    Damaged(afCutShort, missing);
  return FReader->ReadInt32();
}

void TArchiveWalk::ReadHeader() {
  if (FReader->Remaining() < 4)
    Damaged(afHeader, "header cut short");
  const int32_t titleLength = FReader->ReadInt32();
  if (titleLength < 0 || titleLength > FReader->Remaining() - 8)
    Damaged(afHeader, Format("title length %d out of bounds", titleLength));
  const std::string title = FReader->ReadText(titleLength);
  const int32_t totalSize = FReader->ReadInt32();
  const int32_t fileCount = FReader->ReadInt32();
  FConsumer->Header(title, totalSize, fileCount);
}

// False when the consumer stopped the walk.
bool TArchiveWalk::ReadRecords() {
  for (;;) {
    if (!FConsumer->Continue())
      return false;
    const int32_t length = ReadInt32("archive ends without its end marker");
    if (length == 0)
      break;
    if (length < 0)
      continue;
    if (length > FReader->Remaining())
      Damaged(afCutShort, Format("name length %d larger than the data left", length));
    const std::string name = FReader->ReadText(length);
    if (IsContinuation(name)) {
      if (!NextVolume(name))
        return false;
      continue;
    }
    if (FInMember)
      FConsumer->MemberEnd();
    FInMember = false;
    const int32_t date = ReadInt32("member record cut short");
    FInMember = true;
    FWanted = FConsumer->Member(name, date);
    if (!FConsumer->Continue() || !ReadSegment(FWanted))
      return false;
  }
  if (FInMember)
    FConsumer->MemberEnd();
  FInMember = false;
  return true;
}

// One member data segment; false when the consumer stopped the walk inside it.
bool TArchiveWalk::ReadSegment(bool wanted) {
  if (FReader->Remaining() < 4)
    Damaged(afCutShort, "member data cut short");
  uint8_t magic[4];
  FReader->ReadBytes(magic, sizeof magic);
  if (!MagicIsValid(magic))
    Damaged(afArchiveType, "invalid archive type");
  for (;;) {
    if (!FConsumer->Continue())
      return false;
    const int32_t length = ReadInt32("member data cut short");
    if (length == 0)
      break;
    const int64_t size = length < 0 ? -static_cast<int64_t>(length) : length;
    if (size > kChunkSize)
      Damaged(afBlockLength, Format("block length %d out of bounds", length));
    if (size > FReader->Remaining())
      Damaged(afCutShort, "block cut short");
    if (!wanted) {
      FReader->Skip(size);
      FConsumer->Block(nullptr, static_cast<int32_t>(size));
    } else if (length < 0) {
      FConsumer->Block(FReader->ReadBlock(static_cast<int32_t>(size)), static_cast<int32_t>(size));
    } else {
      uint8_t output[kChunkSize];
      int32_t produced = 0;
      const bool sound =
          FInflater->Inflate(FReader->ReadBlock(length), length, output, kChunkSize, produced);
      FConsumer->Block(output, produced);
      if (!sound)
        Damaged(afInflate,
                "compressed block does not inflate to one whole stream of at most 16384 bytes");
    }
  }
  FConsumer->SegmentEnd();
  return true;
}

// False when the consumer declined to go on.
bool TArchiveWalk::NextVolume(const std::string &name) {
  const std::string digits = ContinuationDigits(name);
  if (digits.empty())
    Damaged(afContinuation, "malformed volume-continuation record");
  if (!FInMember)
    Damaged(afContinuation, "volume-continuation record before any member");
  if (FVolumePath.empty())
    Damaged(afContinuation, "volume-continuation record in a single-volume stream");
  // Only ever forward: a volume naming itself or an earlier one would loop for ever.
  const unsigned number = static_cast<unsigned>(std::atoi(digits.c_str()));
  if (number <= FVolumeNumber)
    Damaged(afVolumeOrder, Format("volume %u continues with volume %u", FVolumeNumber, number));
  const std::string next = VolumePath(FVolumePath, digits);
  FReader.reset();
  FVolume.reset();
  if (!FConsumer->NextVolume(static_cast<uint16_t>(number), next))
    return false;
  if (!FileExists(next))
    Damaged(afVolumeMissing, "next volume " + next + " is missing; it is needed");
  FVolume = std::make_unique<TFileStream>(next, fmOpenRead);
  FVolumePath = next;
  FVolumeNumber = number;
  FReader = std::make_unique<TArchiveReader>(*FVolume);
  return ReadSegment(FWanted);
}

} // namespace vantari
