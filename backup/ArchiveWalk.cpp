#include "ArchiveWalk.h"

#include "ArchiveFormat.h"
#include "ArchiveReader.h"
#include "BlockInflater.h"
#include "FileSystem.h"

namespace vantari {

using namespace archive;

namespace {

class EDamaged : public Exception {
  using Exception::Exception;
};

} // namespace

TArchiveWalk::TArchiveWalk() = default;
TArchiveWalk::~TArchiveWalk() = default;

bool TArchiveWalk::Run(const std::string &path) {
  FPath = FVolumePath = path;
  if (!FileExists(path)) {
    FFailure = "cannot open " + path;
    return false;
  }
  try {
    FVolume = std::make_unique<TFileStream>(path, fmOpenRead);
  } catch (const Exception &e) {
    FFailure = e.Message();
    return false;
  }
  const bool sound = Walk(*FVolume);
  FReader.reset();
  FVolume.reset();
  return sound;
}

bool TArchiveWalk::Run(TStream &source) {
  FPath.clear();
  FVolumePath = "stream";
  int64_t start = 0;
  try {
    start = source.Position();
  } catch (const Exception &e) {
    FFailure = e.Message();
    return false;
  }
  const bool sound = Walk(source);
  FReader.reset();
  try {
    source.SetPosition(start);
  } catch (const Exception &) {
    // A stream that cannot seek back stays where the walk left it.
  }
  return sound;
}

bool TArchiveWalk::Walk(TStream &first) {
  FFailure.clear();
  FMember.reset();
  FVolumes = 1;
  try {
    FInflater = std::make_unique<TBlockInflater>();
    if (!FInflater->Ready())
      throw Exception("cannot set up decompression");
    FReader = std::make_unique<TArchiveReader>(first);
    ReadHeader();
    ReadRecords();
    return true;
  } catch (const EDamaged &e) {
    FFailure = e.Message();
  } catch (const Exception &e) {
    FFailure = e.Message();
  } catch (const std::exception &e) {
    FFailure = e.what();
  }
  return false;
}

void TArchiveWalk::Damaged(const std::string &what) {
  const long long at = FReader ? static_cast<long long>(FReader->Position()) : 0;
  throw EDamaged(Format("%s at offset %lld of %s", what.c_str(), at, FVolumePath.c_str()));
}

int32_t TArchiveWalk::ReadInt32(const char *missing) {
  if (FReader->Remaining() < 4)
    Damaged(missing);
  return FReader->ReadInt32();
}

void TArchiveWalk::ReadHeader() {
  const int32_t titleLength = ReadInt32("header cut short");
  if (titleLength < 0 || titleLength > FReader->Remaining() - 8)
    Damaged(Format("title length %d out of bounds", titleLength));
  FTitle = FReader->ReadText(titleLength);
  FTotalSize = FReader->ReadInt32();
  FFileCount = FReader->ReadInt32();
}

void TArchiveWalk::ReadRecords() {
  for (;;) {
    const int32_t length = ReadInt32("archive ends without its end marker");
    if (length == 0)
      break;
    if (length < 0)
      continue;
    if (length > FReader->Remaining())
      Damaged(Format("name length %d larger than the data left", length));
    const std::string name = FReader->ReadText(length);
    if (IsContinuation(name)) {
      NextVolume(name);
      continue;
    }
    EndMember();
    FMember = std::make_unique<TArchiveMember>();
    FMember->Name = name;
    FMember->FileDate = ReadInt32("member record cut short");
    ReadSegment();
  }
  EndMember();
}

void TArchiveWalk::EndMember() {
  if (FMember && OnMember)
    OnMember(*FMember);
  FMember.reset();
}

void TArchiveWalk::ReadSegment() {
  if (FReader->Remaining() < 4)
    Damaged("member data cut short");
  uint8_t magic[4];
  FReader->ReadBytes(magic, sizeof magic);
  if (!MagicIsValid(magic))
    Damaged("invalid archive type");
  for (;;) {
    const int32_t length = ReadInt32("member data cut short");
    if (length == 0)
      return;
    const int64_t size = length < 0 ? -static_cast<int64_t>(length) : length;
    if (size > kChunkSize)
      Damaged(Format("block length %d out of bounds", length));
    if (size > FReader->Remaining())
      Damaged("block cut short");
    if (length < 0) {
      FReader->Skip(size);
      FMember->Size += size;
      continue;
    }
    uint8_t output[kChunkSize];
    int32_t produced = 0;
    const uint8_t *data = FReader->ReadBlock(length);
    if (!FInflater->Inflate(data, length, output, kChunkSize, produced))
      Damaged("compressed block does not inflate to one whole stream of at most 16384 bytes");
    FMember->Size += produced;
  }
}

void TArchiveWalk::NextVolume(const std::string &name) {
  const std::string digits = ContinuationDigits(name);
  if (digits.empty())
    Damaged("malformed volume-continuation record");
  if (!FMember)
    Damaged("volume-continuation record before any member");
  if (FPath.empty())
    Damaged("volume-continuation record in a single-volume stream");
  const std::string next = VolumePath(FVolumePath, digits);
  if (!FileExists(next))
    Damaged("next volume " + next + " is missing; it is needed");
  FReader.reset();
  FVolume = std::make_unique<TFileStream>(next, fmOpenRead);
  FVolumePath = next;
  FReader = std::make_unique<TArchiveReader>(*FVolume);
  ++FVolumes;
  ReadSegment();
}

} // namespace vantari
