#include "ui/SystemFileTypeList.h"

#include <strings.h>

#include <QMimeDatabase>
#include <QMimeType>
#include <QStringList>
#include <cctype>

#include "platform/Log.h"
#include "ui/Resources.h"

namespace {

constexpr uint32_t kStringAllFiles = 420;

// Names the desktop gives to things that are no file type of their own.
bool IsRefusedName(const std::string& name) {
  for (const char* refused : {"FOLDER File", "msrating.dll,-3000", "msrating.dll,-3001"})
    if (strcasecmp(name.c_str(), refused) == 0) return true;
  return false;
}

std::string RaiseFirst(std::string name) {
  if (!name.empty() && name[0] >= 'a' && name[0] <= 'z') name[0] = static_cast<char>(name[0] - 'a' + 'A');
  return name;
}

}  // namespace

void CSystemFileTypeList::AddType(const std::string& name, const std::string& extension) {
  LogError(
      "------------------------ParmInfo:pcExName=%s,info.dwAttributes=%d,info.hIcon=%x,\t\t\t\t\tinfo.iIcon=%"
      "d,",
      extension.c_str(), 0, 0, 0);
  auto found = m_types.find(name);
  if (found != m_types.end()) {
    found->second += ";" + extension;
  } else {
    m_types.emplace(name, extension);
  }
}

std::string CSystemFileTypeList::GetTypeName(const std::string& extension) {
  static const QMimeDatabase database;
  std::string name;
  if (extension == "*") {
    name = database.mimeTypeForName(QStringLiteral("application/octet-stream")).comment().toStdString();
  } else {
    const QMimeType type = database.mimeTypeForFile(
        QStringLiteral("file") + QString::fromStdString(extension), QMimeDatabase::MatchExtension);
    if (type.isValid() && !type.isDefault()) name = type.comment().toStdString();
  }
  name = RaiseFirst(name);
  LogError("------------------------ParmInfo:pcExName=%s,dwFileAttirbute=%d,info.szTypeName=%s",
           extension.c_str(), 128, name.c_str());
  return name;
}

void CSystemFileTypeList::LoadFromRegistry() {
  AddType(".00" + corvale::ui::LoadStringResource(kStringAllFiles).toStdString(), "*");
  const std::string any = GetTypeName("*");
  AddType(".01" + (any.empty() ? std::string("File") : any), "*");
  static const QMimeDatabase database;
  for (const QMimeType& type : database.allMimeTypes()) {
    const std::string name = RaiseFirst(type.comment().toStdString());
    if (name.empty() || IsRefusedName(name)) continue;
    for (const QString& suffix : type.suffixes()) {
      const std::string extension = "." + suffix.toStdString();
      if (strcasecmp(extension.c_str(), ".Folder") == 0) continue;
      AddType(name, extension);
    }
  }
}

std::string CSystemFileTypeList::ExtensionsOf(const std::string& name) const {
  auto found = m_types.find(name);
  return found == m_types.end() ? std::string() : found->second;
}

CSystemFileTypeList& GetSystemFileTypeList() {
  static CSystemFileTypeList list;
  return list;
}
