#include "app/UpdateCheck.h"

#include <fcntl.h>
#include <unistd.h>

#include <QEventLoop>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "controls/SearchSuperDlg.h"
#include "platform/Language.h"
#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "platform/RecoveryContext.h"
#include "platform/Registry.h"
#include "platform/StringTable.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Shell.h"

namespace corvale::app {
namespace {

constexpr unsigned kStringDetectFailed = 217;
constexpr unsigned kStringNewVersion = 218;
constexpr unsigned kStringNewest = 219;
// 100-ns units between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ULL;
constexpr qint64 kMaxAnswerBytes = 4096;

bool ReadExactly(int fd, void* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, static_cast<char*>(data) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void WriteStamp(int fd, uint64_t now) {
  unsigned char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(now >> (8 * i));
  if (::pwrite(fd, bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
    LogError("CFile ERROR : %s", std::strerror(errno));
}

// "a.b.c.d", each part a number of at most 9 digits.
std::optional<Version> ParseVersion(const std::string& text) {
  Version version{};
  size_t part = 0, digits = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      if (++digits > 9) return std::nullopt;
      version[part] = version[part] * 10 + static_cast<uint32_t>(c - '0');
    } else if (c == '.' && digits > 0 && part < 3) {
      ++part;
      digits = 0;
    } else {
      return std::nullopt;
    }
  }
  if (part != 3 || digits == 0) return std::nullopt;
  return version;
}

// The notice shown while the check runs: the product title and nothing to press.
class CUpdateNoticeDlg : public CSearchSuperDlg {
 public:
  explicit CUpdateNoticeDlg(QWidget* parent) : CSearchSuperDlg(kNoticeDialogTemplate, parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QString::fromStdString(GetProductTitle()));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QString::fromStdString(GetProductTitle()), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    setMinimumSize(320, 90);
  }
};

}  // namespace

uint64_t CurrentFileTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  if (now.tv_sec < 0) return kUnixEpochFileTime;
  return kUnixEpochFileTime + static_cast<uint64_t>(now.tv_sec) * 10000000ULL +
         static_cast<uint64_t>(now.tv_nsec) / 100;
}

bool IsWeeklyCheckDue(const std::string& path, uint64_t now) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    LogError("CFile ERROR : %s", std::strerror(errno));
    return true;
  }
  unsigned char bytes[8];
  bool due;
  if (!ReadExactly(fd, bytes, sizeof bytes)) {
    due = true;
  } else {
    uint64_t stamp = 0;
    for (int i = 7; i >= 0; --i) stamp = stamp << 8 | bytes[i];
    due = stamp > now || now - stamp >= kFileTimeWeek;
  }
  if (due) WriteStamp(fd, now);
  ::close(fd);
  return due;
}

std::optional<VersionInfo> ParseVersionInfo(const std::string& text) {
  if (text.size() > static_cast<size_t>(kMaxAnswerBytes)) return std::nullopt;
  std::string body = text;
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r' || body.back() == ' ')) body.pop_back();
  size_t newline = body.find('\n');
  std::string first = body.substr(0, newline);
  if (!first.empty() && first.back() == '\r') first.pop_back();
  std::optional<Version> version = ParseVersion(first);
  if (!version) return std::nullopt;
  VersionInfo info;
  info.version = *version;
  if (newline != std::string::npos) {
    std::string second = body.substr(newline + 1);
    if (!second.empty() && second.back() == '\r') second.pop_back();
    if (second.find('\n') != std::string::npos || !IsHttpsAddress(second)) {
      LogError("The update answer's details address is not used: only https addresses are opened");
      return std::nullopt;
    }
    info.detailsUrl = second;
  }
  return info;
}

bool IsHttpsAddress(const std::string& text) {
  const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
  return url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty();
}

int CHttpUpdateService::Fetch(const std::string& url) {
  m_info.reset();
  // An answer over plain http could come from anybody on the way and names the page the user is
  // offered; the settings' address is refused earlier, this is the service's own guard.
  if (!IsHttpsAddress(url)) return 1;
  QUrl address(QString::fromStdString(url), QUrl::StrictMode);
  QNetworkAccessManager manager;
  QNetworkRequest request(address);
  request.setTransferTimeout(m_timeoutMs);
  QNetworkReply* reply = manager.get(request);
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
    if (received > kMaxAnswerBytes || total > kMaxAnswerBytes) reply->abort();
  });
  if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  const bool ok = reply->error() == QNetworkReply::NoError &&
                  reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
  QByteArray body = ok ? reply->read(kMaxAnswerBytes + 1) : QByteArray();
  delete reply;
  if (!ok) return 1;
  m_info = ParseVersionInfo(body.toStdString());
  return m_info ? 0 : 1;
}

int CHttpUpdateService::Compare(uint32_t high, uint32_t low) {
  if (!m_info) return 1;
  const Version mine = {high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF};
  return m_info->version > mine ? 0 : 1;
}

std::string CHttpUpdateService::DetailsAddress() { return m_info ? m_info->detailsUrl : std::string(); }

void CheckForNewVersion(bool weekly, bool silent, const UpdateCheckServices& services) {
  LogError("------------------------ParmInfo:BOOL bDoWeeklyCheck=%d,BOOL bSilent=%d", weekly ? 1 : 0,
           silent ? 1 : 0);
  bool due = true;
  if (weekly) {
    std::string folder =
        services.stampFolder.empty() ? platform::ExecutableDirectory() : services.stampFolder;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    due = folder.empty() || IsWeeklyCheckDue(folder + kUpdateStampFileName, services.now());
  }
  std::unique_ptr<CUpdateNoticeDlg> notice;
  if (due || GetRecoveryContext().LanguageId == kLanguageChinese) {
    notice = std::make_unique<CUpdateNoticeDlg>(services.owner);
    notice->show();
    if (services.noticeShown) services.noticeShown(notice.get());
  }
  if (!due) return;

  std::unique_ptr<IUpdateService> service =
      services.service ? services.service() : std::make_unique<CHttpUpdateService>();
  std::string url;
  if (platform::RegistryGetString(kUpdateSettingsKey, kUpdateUrlValue, &url) !=
          platform::RegistryStatus::Ok ||
      url.empty())
    url = kDefaultUpdateUrl;
  bool fetched = false;
  if (IsHttpsAddress(url)) {
    fetched = service->Fetch(url) == 0;
  } else {
    LogError("UpdateUrl %s is not used: updates are asked for only at https addresses", url.c_str());
  }
  notice.reset();

  const uint32_t high = kProgramVersion[0] << 16 | kProgramVersion[1];
  const uint32_t low = kProgramVersion[2] << 16 | kProgramVersion[3];
  // A version is compared only when it was fetched: a failed fetch never offers an update.
  if (fetched) {
    if (service->Compare(high, low) == 0) {
      if (ui::AskMessageBox(LoadText(kStringNewVersion), GetProductTitle(), ui::MessageButtons::YesNo,
                            ui::MessageIcon::Question) == ui::MessageAnswer::Yes) {
        std::string details = service->DetailsAddress();
        if (details.empty()) return;
        if (!IsHttpsAddress(details)) {
          LogError("The release details at %s are not opened: only https addresses are", details.c_str());
          return;
        }
        if (services.openUrl)
          services.openUrl(details);
        else
          ui::OpenUrl(details);
      }
    } else if (!silent) {
      ui::ShowMessageBox(LoadText(kStringNewest), GetProductTitle(), ui::MessageIcon::Information);
    }
  } else if (!silent) {
    ui::ShowMessageBox(LoadText(kStringDetectFailed), GetProductTitle(), ui::MessageIcon::Warning);
  }
}

}  // namespace corvale::app
