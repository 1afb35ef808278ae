#pragma once

#include <cstdint>
#include <string>

namespace vantari::archive {

// Layout constants of the backup archive.
constexpr int32_t kChunkSize = 16384;     // source bytes per block, and the block bound
constexpr int64_t kVolumeReserve = 16484; // a block is begun only below MaxSize minus this
constexpr char kMagic[4] = {'E', 'C', '2', '\0'};
constexpr const char *kNextDisk = "NEXT:DISK"; // volume-continuation record prefix
constexpr size_t kNextDiskLength = 9;
constexpr const char *kFileList = "FILE:LIST"; // the file-ID list member
constexpr const char *kStreamPath = ":STREAM";

// Member name of a local file: the absolute path with '\' separators, case kept, in CP949.
// A POSIX path gets "z:" before it (Linux names are case-sensitive; z: is the drive Wine maps
// to '/'); a Windows path keeps its own drive.
std::string MemberName(const std::string &localPath);
// The three digits of volume n: the last three characters of "00" + n.
std::string VolumeDigits(unsigned volume);
// The bytes before the first zero byte among the four must be exactly "EC2".
bool MagicIsValid(const uint8_t *bytes);
bool IsContinuation(const std::string &name);
// The three digits of a continuation record's name, or an empty text when they are not
// three decimal digits (a damaged record).
std::string ContinuationDigits(const std::string &name);
// Local file name of volume n (n >= 2) of the archive whose first volume is path.
std::string VolumePath(const std::string &path, const std::string &digits);

} // namespace vantari::archive
