// The weekly update check: its gate over "update.ini", the answer it accepts, and the whole check
// against a small HTTPS server on the loopback address, whose certificate openssl makes at test
// time and the test alone trusts. Plain http is refused for the address and for the details.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/UpdateCheck.h"
#include "core/RecoveryHelpers.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "platform/Registry.h"
#include "platform/StringTable.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"

using corvale::app::IsWeeklyCheckDue;
using corvale::app::kFileTimeWeek;
using recoverytest::ReadWholeFile;
using recoverytest::WriteWholeFile;

namespace {

constexpr uint64_t kNow = 133000000000000000ULL;

std::string Stamp(uint64_t value) {
  std::string bytes(8, '\0');
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

struct GateCase {
  const char* label;
  bool exists;
  std::string contents;
  bool due;
};

class WeeklyGate : public ::testing::TestWithParam<GateCase> {};

TEST_P(WeeklyGate, ChecksAtMostWeeklyAndKeepsTheStamp) {
  const GateCase& c = GetParam();
  const std::string path = corvale::test::ScratchDir() + "/update.ini";
  if (c.exists) WriteWholeFile(path, c.contents);
  EXPECT_EQ(IsWeeklyCheckDue(path, kNow), c.due);
  const auto bytes = ReadWholeFile(path);
  const std::string stored(bytes.begin(), bytes.end());
  if (c.due) {
    EXPECT_EQ(stored.substr(0, 8), Stamp(kNow)) << "a check writes the time of the check";
  } else {
    EXPECT_EQ(stored, c.contents);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stamps, WeeklyGate,
    ::testing::Values(GateCase{"Missing", false, "", true}, GateCase{"Empty", true, "", true},
                      GateCase{"FourBytes", true, std::string(4, '\x01'), true},
                      GateCase{"ExactlyAWeekOld", true, Stamp(kNow - kFileTimeWeek), true},
                      GateCase{"OneUnitLessThanAWeek", true, Stamp(kNow - kFileTimeWeek + 1), false},
                      GateCase{"JustChecked", true, Stamp(kNow), false},
                      GateCase{"InTheFuture", true, Stamp(kNow + 1), true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(UpdateAnswer, OnlyAVersionAndAWebAddressAreAccepted) {
  struct Case {
    std::string text;
    bool ok;
  };
  const std::vector<Case> cases = {
      {"1.1.1.9\n", true},
      {"2.0.0.0\r\nhttps://example.org/notes\r\n", true},
      {"1.1.1.8", true},
      {"", false},
      {"garbage\n", false},
      {"1.1.1\n", false},
      {"1.1.1.8.1\n", false},
      {"1..1.8\n", false},
      {"1.1.1.9999999999\n", false},
      {"1.1.1.9\nfile:///etc/passwd\n", false},
      {"1.1.1.9\nhttp://example.org/notes\n", false},  // only https is opened
      {"1.1.1.9\nhttps://a.org/x\nmore\n", false},
      {std::string(5000, '1'), false},
  };
  for (const Case& c : cases) EXPECT_EQ(corvale::app::ParseVersionInfo(c.text).has_value(), c.ok) << c.text;
  auto info = corvale::app::ParseVersionInfo("2.0.0.0\r\nhttps://example.org/notes\r\n");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->version, (corvale::app::Version{2, 0, 0, 0}));
  EXPECT_EQ(info->detailsUrl, "https://example.org/notes");
}

// A self-signed certificate for 127.0.0.1, made by openssl, that this test process trusts.
struct LoopbackCertificate {
  QSslCertificate certificate;
  QSslKey key;
  std::string missing;  // why there is none
};

const LoopbackCertificate& Certificate() {
  static const LoopbackCertificate made = [] {
    LoopbackCertificate c;
    if (!corvale::test::HaveTool("openssl")) {
      c.missing = "openssl missing (see scripts/install-deps)";
      return c;
    }
    if (!QSslSocket::supportsSsl()) {
      c.missing = "Qt has no TLS backend";
      return c;
    }
    const std::string dir = corvale::test::ScratchDir();
    const int rc = corvale::test::RunCommand(
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
        " -addext subjectAltName=IP:127.0.0.1 -keyout '" +
        dir + "/key.pem' -out '" + dir + "/cert.pem' 2>/dev/null");
    const auto cert = ReadWholeFile(dir + "/cert.pem");
    const auto key = ReadWholeFile(dir + "/key.pem");
    c.certificate = QSslCertificate(QByteArray(reinterpret_cast<const char*>(cert.data()), cert.size()));
    c.key = QSslKey(QByteArray(reinterpret_cast<const char*>(key.data()), key.size()), QSsl::Rsa);
    if (rc != 0 || c.certificate.isNull() || c.key.isNull()) {
      c.missing = "openssl made no certificate";
      return c;
    }
    QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
    trusted.addCaCertificate(c.certificate);
    QSslConfiguration::setDefaultConfiguration(trusted);
    return c;
  }();
  return made;
}

// A tiny HTTPS server on the loopback address (plain HTTP with `plain`): each path answers with its
// body; "/slow" never answers.
class LoopbackServer : public QTcpServer {
 public:
  explicit LoopbackServer(std::map<std::string, std::string> bodies, bool plain = false)
      : m_bodies(std::move(bodies)), m_plain(plain) {
    listen(QHostAddress::LocalHost, 0);
  }
  std::string Url(const std::string& path) const {
    return std::string(m_plain ? "http" : "https") + "://127.0.0.1:" + std::to_string(serverPort()) + path;
  }
  int Requests() const { return m_requests; }

 protected:
  void incomingConnection(qintptr descriptor) override {
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
      delete socket;
      return;
    }
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Answer(socket); });
    if (!m_plain) {
      socket->setLocalCertificate(Certificate().certificate);
      socket->setPrivateKey(Certificate().key);
      socket->startServerEncryption();
    }
  }

 private:
  void Answer(QTcpSocket* socket) {
    QByteArray& request = m_pending[socket];
    request += socket->readAll();
    if (!request.contains("\r\n\r\n")) return;
    ++m_requests;
    const QList<QByteArray> words = request.split(' ');
    const std::string path = words.size() > 1 ? words[1].toStdString() : "";
    if (path == "/slow") return;
    auto it = m_bodies.find(path);
    const std::string body = it == m_bodies.end() ? "" : it->second;
    const std::string status = it == m_bodies.end() ? "404 Not Found" : "200 OK";
    socket->write(QByteArray::fromStdString("HTTP/1.1 " + status +
                                            "\r\nContent-Length: " + std::to_string(body.size()) +
                                            "\r\nConnection: close\r\n\r\n" + body));
    socket->disconnectFromHost();
  }

  std::map<std::string, std::string> m_bodies;
  bool m_plain;
  std::map<QTcpSocket*, QByteArray> m_pending;
  int m_requests = 0;
};

#define REQUIRE_CERTIFICATE() \
  if (!Certificate().missing.empty()) GTEST_SKIP() << Certificate().missing

struct ServerCase {
  const char* label;
  const char* path;
  bool offered;  // the question "The new version is released!" is asked
};

class UpdateAgainstServer : public ::testing::TestWithParam<ServerCase> {};

TEST_P(UpdateAgainstServer, OnlyANewerVersionIsOffered) {
  corvale::test::TestApplication();
  REQUIRE_CERTIFICATE();
  const ServerCase& c = GetParam();
  LoopbackServer server({{"/newer", "1.2.0.0\nhttps://example.org/release-notes\n"},
                         {"/equal", "1.1.1.8\nhttps://example.org/release-notes\n"},
                         {"/older", "1.1.1.7\n"},
                         {"/garbage", std::string("\x89PNG\r\n\x1a\n\0\0\0", 11) + "not a version"},
                         {"/huge", std::string(64 * 1024, '9')}});
  const std::string dir = corvale::test::ScratchDir();
  setenv("CORVALE_REGISTRY", (dir + "/registry.ini").c_str(), 1);
  ASSERT_EQ(platform::RegistrySetString(corvale::app::kUpdateSettingsKey, corvale::app::kUpdateUrlValue,
                                        server.Url(c.path)),
            platform::RegistryStatus::Ok);

  std::vector<std::string> asked, shown, opened;
  corvale::ui::SetQuestionHandler([&](const std::string& text, const std::string&,
                                      corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
    asked.push_back(text);
    return corvale::ui::MessageAnswer::Yes;
  });
  corvale::ui::SetMessageBoxHandler(
      [&](const std::string& text, const std::string&, corvale::ui::MessageIcon) { shown.push_back(text); });
  corvale::app::UpdateCheckServices services;
  services.now = [] { return kNow; };
  services.stampFolder = dir;
  services.service = [] { return std::make_unique<corvale::app::CHttpUpdateService>(1000); };
  services.openUrl = [&](const std::string& url) { opened.push_back(url); };
  bool noticeSeen = false;
  services.noticeShown = [&](QWidget* notice) {
    noticeSeen = true;
    if (std::string(c.label) == "Newer") {
      EXPECT_FALSE(corvale::test::SaveScreenshot(notice->grab().toImage(), "update_check_notice").empty());
    }
  };

  corvale::app::CheckForNewVersion(true, true, services);
  EXPECT_TRUE(noticeSeen);
  EXPECT_EQ(server.Requests(), 1);
  EXPECT_TRUE(shown.empty()) << "silent mode tells nothing but a newer version";
  if (c.offered) {
    EXPECT_EQ(asked, std::vector<std::string>{corvale::LoadText(218)});
    EXPECT_EQ(opened, std::vector<std::string>{"https://example.org/release-notes"});
  } else {
    EXPECT_TRUE(asked.empty()) << asked.front();
    EXPECT_TRUE(opened.empty());
  }

  // Within the week nothing is asked again.
  corvale::app::CheckForNewVersion(true, true, services);
  EXPECT_EQ(server.Requests(), 1);
  corvale::ui::SetQuestionHandler(nullptr);
  corvale::ui::SetMessageBoxHandler(nullptr);
  unsetenv("CORVALE_REGISTRY");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, UpdateAgainstServer,
    ::testing::Values(ServerCase{"Newer", "/newer", true}, ServerCase{"Equal", "/equal", false},
                      ServerCase{"Older", "/older", false}, ServerCase{"Garbage", "/garbage", false},
                      ServerCase{"Huge", "/huge", false}, ServerCase{"Slow", "/slow", false},
                      ServerCase{"Missing", "/missing", false}),
    [](const auto& info) { return std::string(info.param.label); });

// Without silent mode a failed check and an up-to-date program are told.
TEST(UpdateCheck, NotSilentTellsFailureAndNewest) {
  corvale::test::TestApplication();
  REQUIRE_CERTIFICATE();
  LoopbackServer server(std::map<std::string, std::string>{{"/equal", "1.1.1.8\n"}});
  const std::string dir = corvale::test::ScratchDir();
  setenv("CORVALE_REGISTRY", (dir + "/registry.ini").c_str(), 1);
  std::vector<std::string> shown;
  corvale::ui::SetMessageBoxHandler(
      [&](const std::string& text, const std::string&, corvale::ui::MessageIcon) { shown.push_back(text); });
  corvale::app::UpdateCheckServices services;
  services.service = [] { return std::make_unique<corvale::app::CHttpUpdateService>(1000); };
  for (const char* path : {"/equal", "/missing"}) {
    platform::RegistrySetString(corvale::app::kUpdateSettingsKey, corvale::app::kUpdateUrlValue,
                                server.Url(path));
    corvale::app::CheckForNewVersion(false, false, services);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{corvale::LoadText(219), corvale::LoadText(217)}));
  corvale::ui::SetMessageBoxHandler(nullptr);
  unsetenv("CORVALE_REGISTRY");
}

// An answer over plain http could be anybody's: such an update address is never asked, and release
// details at such an address are never opened. Both are logged.
TEST(UpdateCheck, PlainHttpIsNeitherAskedNorOpened) {
  corvale::test::TestApplication();
  LoopbackServer plain({{"/newer", "1.2.0.0\nhttps://example.org/release-notes\n"}}, true);
  const std::string dir = corvale::test::ScratchDir();
  setenv("CORVALE_REGISTRY", (dir + "/registry.ini").c_str(), 1);
  ASSERT_EQ(platform::RegistrySetString(corvale::app::kUpdateSettingsKey, corvale::app::kUpdateUrlValue,
                                        plain.Url("/newer")),
            platform::RegistryStatus::Ok);
  std::vector<std::string> asked, opened;
  corvale::ui::SetQuestionHandler([&](const std::string& text, const std::string&,
                                      corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
    asked.push_back(text);
    return corvale::ui::MessageAnswer::Yes;
  });
  corvale::log::ScopedCapture log;
  corvale::app::UpdateCheckServices services;
  services.service = [] { return std::make_unique<corvale::app::CHttpUpdateService>(1000); };
  services.openUrl = [&](const std::string& url) { opened.push_back(url); };
  corvale::app::CheckForNewVersion(false, true, services);
  EXPECT_EQ(plain.Requests(), 0);
  EXPECT_TRUE(log.HasPart("UpdateUrl " + plain.Url("/newer") + " is not used"));
  // The service refuses it by itself too.
  EXPECT_NE(corvale::app::CHttpUpdateService(1000).Fetch(plain.Url("/newer")), 0);
  EXPECT_EQ(plain.Requests(), 0);

  // A service that offers details over http: the newer version is told, the page is not opened.
  struct PlainDetails : corvale::app::IUpdateService {
    int Fetch(const std::string&) override { return 0; }
    int Compare(uint32_t, uint32_t) override { return 0; }
    std::string DetailsAddress() override { return "http://example.org/release-notes"; }
  };
  platform::RegistrySetString(corvale::app::kUpdateSettingsKey, corvale::app::kUpdateUrlValue,
                              "https://update.corvale.invalid/version.txt");
  services.service = [] { return std::make_unique<PlainDetails>(); };
  corvale::app::CheckForNewVersion(false, true, services);
  EXPECT_EQ(asked.size(), 1u);
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(log.HasPart("The release details at http://example.org/release-notes are not opened"));
  corvale::ui::SetQuestionHandler(nullptr);
  unsetenv("CORVALE_REGISTRY");
}

// With a Chinese interface the notice shows at every start, even when no check is due.
TEST(UpdateCheck, ChineseInterfaceShowsTheNoticeWithoutACheck) {
  corvale::test::TestApplication();
  const std::string dir = corvale::test::ScratchDir();
  WriteWholeFile(dir + "/update.ini", Stamp(kNow));
  struct CountingService : corvale::app::IUpdateService {
    int* fetches;
    explicit CountingService(int* counter) : fetches(counter) {}
    int Fetch(const std::string&) override { return ++*fetches, 1; }
    int Compare(uint32_t, uint32_t) override { return 1; }
    std::string DetailsAddress() override { return {}; }
  };
  int fetches = 0;
  corvale::app::UpdateCheckServices services;
  services.now = [] { return kNow; };
  services.stampFolder = dir;
  services.service = [&] { return std::make_unique<CountingService>(&fetches); };
  for (int32_t language : {2, 1}) {
    int notices = 0;
    services.noticeShown = [&](QWidget*) { ++notices; };
    const int32_t kept = GetRecoveryContext().LanguageId;
    GetRecoveryContext().LanguageId = language;
    corvale::app::CheckForNewVersion(true, true, services);
    GetRecoveryContext().LanguageId = kept;
    EXPECT_EQ(notices, language == 1 ? 1 : 0) << language;
  }
  EXPECT_EQ(fetches, 0);
}

// The boxes of the update check and of the out-of-memory path, as the user sees them.
TEST(UpdateCheck, Screenshots) {
  corvale::test::TestApplication();
  struct Box {
    const char* name;
    unsigned id;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
  };
  for (const Box& box :
       {Box{"update_new_version_prompt", 218, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No},
        Box{"update_newest", 219, QMessageBox::Information, QMessageBox::Ok},
        Box{"update_detect_failure", 217, QMessageBox::Warning, QMessageBox::Ok},
        Box{"out_of_memory_raw", 61240, QMessageBox::Warning, QMessageBox::Ok}}) {
    QMessageBox message(box.icon, QString::fromStdString(GetProductTitle()),
                        QString::fromStdString(corvale::LoadText(box.id)), box.buttons);
    message.show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(corvale::test::SaveScreenshot(message.grab().toImage(), box.name).empty()) << box.name;
  }
  std::string memory = corvale::LoadText(307);
  memory.replace(memory.find("%s"), 2, GetProductTitle());
  QMessageBox message(QMessageBox::Warning, QString::fromStdString(GetProductTitle()),
                      QString::fromStdString(memory), QMessageBox::Ok);
  message.show();
  QCoreApplication::processEvents();
  EXPECT_FALSE(corvale::test::SaveScreenshot(message.grab().toImage(), "out_of_memory").empty());
}

}  // namespace
