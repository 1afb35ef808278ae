#include "BackupStatus.h"

#include "Cp949.h"
#include "DataTables.h"
#include "FileSystem.h"
#include "IdFTP.h"
#include "SafeUpload.h"
#include "Stream.h"

#include <cctype>
#include <sys/stat.h>

namespace vantari {

namespace {

// A status query gives up on a silent server instead of hanging a timer's run.
constexpr int32_t QueryTimeout = 30000;

// RAII: the session is closed whatever happens after the login.
class TSession {
public:
  explicit TSession(TIdFTP &ftp) : FFtp(ftp) {}
  ~TSession() {
    try {
      FFtp.CloseSession();
    } catch (const std::exception &) {
      // The answers are in; a failed goodbye changes nothing.
    }
  }
  TSession(const TSession &) = delete;
  TSession &operator=(const TSession &) = delete;

private:
  TIdFTP &FFtp;
};

std::string ReplyText(TIdFTP &ftp) {
  std::string joined;
  for (const std::string &line : ftp.LastReply().Text())
    joined += line;
  return joined;
}

TServerArchive Describe(TIdFTP &ftp, const std::string &name) {
  TServerArchive archive;
  archive.Name = name;
  archive.Size = ftp.RemoteFileSize(name);
  archive.Exists = archive.Size >= 0;
  if (ftp.SendCommand("MDTM " + Utf8ToCp949(name), -1) == 213) {
    archive.Modified = TBackupStatus::ParseMdtm(ReplyText(ftp));
    archive.Exists = true;
  }
  return archive;
}

} // namespace

TServerArchive TBackupStatus::QueryServer(TIdFTP &ftp, const std::string &host,
                                          const std::string &user, const std::string &password,
                                          const std::string &remoteName) {
  ftp.SetUsername(user);
  ftp.SetPassword(password);
  ftp.SetHost(host);
  ftp.SetReadTimeout(QueryTimeout);
  ftp.OpenSession(true, QueryTimeout);
  TSession session(ftp);
  return DescribeArchive(ftp, remoteName);
}

TServerArchive TBackupStatus::DescribeArchive(TIdFTP &ftp, const std::string &remoteName) {
  ftp.SetTransferType(ftBinary); // SIZE counts bytes only in image mode
  TServerArchive archive = Describe(ftp, remoteName);
  if (archive.Exists)
    return archive;
  // What a download would find instead: the newest stranded file that reads whole.
  for (const std::string &name : StrandedArchives(ftp, remoteName)) {
    TMemoryStream bytes;
    if (FetchWholeArchive(ftp, name, bytes))
      return Describe(ftp, name);
  }
  return archive;
}

TLocalData TBackupStatus::ScanDataFolder(const std::string &folder) {
  TLocalData data;
  for (const TSearchRec &entry : FindFiles(folder + "/*.*", 0)) {
    if (!IsDataTableFile(entry.Name))
      continue;
    struct stat st {};
    if (::stat((folder + "/" + entry.Name).c_str(), &st) != 0)
      continue;
    ++data.Files;
    if (!data.Newest || st.st_mtime > *data.Newest) {
      data.Newest = st.st_mtime;
      data.NewestFile = entry.Name;
    }
  }
  return data;
}

std::optional<std::time_t> TBackupStatus::ParseMdtm(const std::string &text) {
  size_t start = 0;
  while (start < text.size() && text[start] == ' ')
    ++start;
  if (text.size() < start + 14)
    return std::nullopt;
  for (size_t i = start; i < start + 14; ++i)
    if (!std::isdigit(static_cast<unsigned char>(text[i])))
      return std::nullopt;
  if (text.size() > start + 14 && text[start + 14] != '.' && text[start + 14] != ' ')
    return std::nullopt;
  const auto number = [&](size_t from, size_t count) {
    return std::stoi(text.substr(start + from, count));
  };
  std::tm utc{};
  utc.tm_year = number(0, 4) - 1900;
  utc.tm_mon = number(4, 2) - 1;
  utc.tm_mday = number(6, 2);
  utc.tm_hour = number(8, 2);
  utc.tm_min = number(10, 2);
  utc.tm_sec = number(12, 2);
  if (utc.tm_mon < 0 || utc.tm_mon > 11 || utc.tm_mday < 1 || utc.tm_mday > 31 ||
      utc.tm_hour > 23 || utc.tm_min > 59 || utc.tm_sec > 60)
    return std::nullopt;
  return timegm(&utc);
}

std::string TBackupStatus::LocalTime(std::time_t time) {
  std::tm local{};
  localtime_r(&time, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

} // namespace vantari
