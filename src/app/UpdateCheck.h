#pragma once
// The weekly update check. At most once a week (the time of the last check is kept in "update.ini"
// beside the program: 8 bytes, a FILETIME) the program asks the update address of the settings for
// the newest version and, when it is newer than its own, offers to open the release details.
//
// What the update address answers: plain text, the first line a version "a.b.c.d", an optional
// second line the web address of the release details. Anything else, no answer, or an answer that
// does not come in time counts as a failed check, which silent mode does not show.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

namespace corvale::app {

// 100-ns units in a week.
inline constexpr uint64_t kFileTimeWeek = 6048000000000ULL;
inline constexpr const char* kUpdateStampFileName = "update.ini";
inline constexpr const char* kUpdateSettingsKey = "SOFTWARE\\Corvale\\TarnRecovery";
inline constexpr const char* kUpdateUrlValue = "UpdateUrl";
// The address used when the settings name none.
inline constexpr const char* kDefaultUpdateUrl = "https://update.corvale.invalid/version.txt";
inline constexpr int kNoticeDialogTemplate = 312;

using Version = std::array<uint32_t, 4>;
inline constexpr Version kProgramVersion = {1, 1, 1, 8};

// The clock as a FILETIME: 100-ns units since 1601-01-01.
uint64_t CurrentFileTime();

// The weekly gate over the stamp file `path` at time `now`: true when a check is due. Writes `now`
// into the file when the stamp was missing, short, a week or more old, or in the future. A file that
// cannot be opened means a check every time.
bool IsWeeklyCheckDue(const std::string& path, uint64_t now);

struct VersionInfo {
  Version version{};
  std::string detailsUrl;
};
// The version file's contents; nothing for anything but a version line and an optional https
// address line.
std::optional<VersionInfo> ParseVersionInfo(const std::string& text);

// True for a well-formed https address with a host. The update address and the release details
// are taken only as such: an answer over plain http could be anybody's.
bool IsHttpsAddress(const std::string& text);

// The three operations of the update service: fetch the version information, say whether it is
// newer than a version, give the details address.
class IUpdateService {
 public:
  virtual ~IUpdateService() = default;
  // 0 on success.
  virtual int Fetch(const std::string& url) = 0;
  // 0 when the fetched version is newer than (major.minor, build.revision) given as two 16:16 pairs.
  virtual int Compare(uint32_t high, uint32_t low) = 0;
  virtual std::string DetailsAddress() = 0;
};

// The service over HTTP(S); an answer longer than a few KiB or slower than `timeoutMs` fails.
class CHttpUpdateService : public IUpdateService {
 public:
  explicit CHttpUpdateService(int timeoutMs = 15000) : m_timeoutMs(timeoutMs) {}
  int Fetch(const std::string& url) override;
  int Compare(uint32_t high, uint32_t low) override;
  std::string DetailsAddress() override;

 private:
  int m_timeoutMs;
  std::optional<VersionInfo> m_info;
};

// What the check asks of the world; tests replace parts.
struct UpdateCheckServices {
  std::function<uint64_t()> now = CurrentFileTime;
  std::string stampFolder;  // the program folder when empty
  std::function<std::unique_ptr<IUpdateService>()> service;
  std::function<void(const std::string& url)> openUrl;  // the desktop's browser when empty
  // Called with the notice while it shows (tests take its picture).
  std::function<void(QWidget* notice)> noticeShown;
  QWidget* owner = nullptr;
};

// Runs the check as described above; with `weekly` only when a week has passed since the last,
// with `silent` only a newer version is told.
void CheckForNewVersion(bool weekly, bool silent, const UpdateCheckServices& services = {});

}  // namespace corvale::app
