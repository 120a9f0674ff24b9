#include "dialogs/SearchFileDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTimeEdit>
#include <algorithm>
#include <map>

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "platform/StringTable.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Pictures.h"

namespace {

using corvale::ui::DluRect;
using corvale::ui::SetControlId;

constexpr uint32_t kStringCaption = 163;
constexpr uint32_t kStringRefused = 164;
constexpr uint32_t kStringNothing = 165;
constexpr uint32_t kStringEverywhere = 398;
constexpr uint32_t kStringAllFiles = 420;
constexpr size_t kMaxPattern = 259;

constexpr int64_t kFileTimeEpochMs = 11644473600000;  // 1601 to 1970
constexpr uint64_t kDay = 24ull * 60 * 60 * 1000 * 10000;

uint64_t ToFileTime(qint64 msecsSince1970) {
  const int64_t ms = msecsSince1970 + kFileTimeEpochMs;
  return ms < 0 ? 0 : static_cast<uint64_t>(ms) * 10000;
}

QString Text(uint32_t id) { return QString::fromStdString(corvale::LoadText(id)); }

void Tell(uint32_t id) { corvale::ui::ShowMessageBox(corvale::LoadText(id), GetProductTitle()); }

// The range message of the dialog framework; the field gets the focus.
bool CheckRange(QSpinBox* field, int low, int high) {
  if (field->value() >= low && field->value() <= high) return true;
  corvale::ui::ShowMessageBox(
      QStringLiteral("Please enter an integer between %1 and %2.").arg(low).arg(high).toStdString(),
      GetProductTitle(), corvale::ui::MessageIcon::Warning);
  field->setFocus();
  field->selectAll();
  return false;
}

QWidget* NewPart(QWidget* parent, int heightDlu) {
  auto* part = new QWidget(parent);
  part->setFixedSize(DluRect(0, 0, 219, heightDlu).size());
  return part;
}

}  // namespace

const CSearchFileDlg::FileTypes& CSearchFileDlg::SystemFileTypes() {
  static const FileTypes types = [] {
    // The types the desktop knows, by their names, each with its file-name suffixes.
    std::map<std::string, std::string> byName;
    for (const QMimeType& type : QMimeDatabase().allMimeTypes()) {
      const QString name = type.comment();
      if (name.isEmpty() || type.suffixes().isEmpty()) continue;
      std::string& list = byName[name.toStdString()];
      for (const QString& suffix : type.suffixes()) {
        const std::string item = "." + suffix.toStdString();
        if ((";" + list + ";").find(";" + item + ";") != std::string::npos) continue;
        if (!list.empty()) list += ';';
        list += item;
      }
    }
    FileTypes out;
    out.emplace_back(corvale::LoadText(kStringAllFiles), "*");
    out.emplace_back("File", "*");
    for (auto& [name, list] : byName) {
      std::string named = name;
      if (!named.empty() && named[0] >= 'a' && named[0] <= 'z')
        named[0] = static_cast<char>(named[0] - 'a' + 'A');
      out.emplace_back(named, list);
    }
    return out;
  }();
  return types;
}

CSearchFileDlg::CSearchFileDlg(CFileSystemNode* owner, CFileNode* folder, CSearchResult* result,
                               QWidget* parent)
    : CSearchSuperDlg(kTemplate, parent), m_owner(owner), m_result(result) {
  SetHelpTopic(kHelpTopic);
  m_parts[kBasic] = MakeBasic();
  m_parts[kCheckType] = MakeHeader(QStringLiteral("Type"), kIdCheckType, kType);
  m_parts[kType] = MakeType();
  m_parts[kCheckDate] = MakeHeader(QStringLiteral("Date"), kIdCheckDate, kDate);
  m_parts[kDate] = MakeDate();
  m_parts[kCheckSize] = MakeHeader(QStringLiteral("Size"), kIdCheckSize, kSize);
  m_parts[kSize] = MakeSize();
  m_parts[kCheckOther] = MakeHeader(QStringLiteral("Other Parameters:"), kIdCheckOther, kOther);
  m_parts[kOther] = MakeOther();
  m_parts[kDoSearch] = MakeDoSearch();
  for (int i = 0; i < kPartCount; ++i)
    m_states[i] = (i == kType || i == kDate || i == kSize || i == kOther) ? kHidden : kShown;
  FillLocations(folder);
  setWindowTitle(Text(kStringCaption));
  LayoutParts();
}

QWidget* CSearchFileDlg::MakeBasic() {
  QWidget* part = NewPart(this, 64);
  auto* label = new QLabel(QStringLiteral("File Name, part of file name or file mask:"), part);
  label->setGeometry(DluRect(7, 4, 205, 8));
  m_name = new QLineEdit(part);
  m_name->setMaxLength(256);
  m_name->setGeometry(DluRect(7, 14, 205, 13));
  SetControlId(m_name, kIdName);
  m_autoSelect = new QCheckBox(QStringLiteral("Auto select files"), part);
  m_autoSelect->setGeometry(DluRect(7, 30, 100, 10));
  SetControlId(m_autoSelect, kIdAutoSelect);
  auto* where = new QLabel(QStringLiteral("Search location:"), part);
  where->setGeometry(DluRect(7, 44, 70, 8));
  m_location = new QComboBox(part);
  m_location->setGeometry(DluRect(80, 42, 132, 13));
  SetControlId(m_location, kIdLocation);
  auto* more = new QLabel(QStringLiteral("Additional Search Parameters:"), part);
  more->setGeometry(DluRect(7, 56, 150, 8));
  return part;
}

QWidget* CSearchFileDlg::MakeHeader(const QString& text, int id, Part option) {
  QWidget* part = NewPart(this, 14);
  auto* box = new QCheckBox(text, part);
  box->setGeometry(DluRect(7, 2, 150, 10));
  SetControlId(box, id);
  m_checks[(option - kType) / 2] = box;
  connect(box, &QCheckBox::toggled, this, [this, option] { TogglePart(option); });
  return part;
}

QWidget* CSearchFileDlg::MakeType() {
  QWidget* part = NewPart(this, 20);
  m_typeList = new QComboBox(part);
  m_typeList->setGeometry(DluRect(14, 3, 198, 13));
  SetControlId(m_typeList, kIdTypeList);
  const FileTypes& types = SystemFileTypes();
  for (size_t i = 0; i < types.size(); ++i) {
    const QString name = QString::fromStdString(types[i].first);
    if (i < 2) {
      m_typeList->addItem(name);
      continue;
    }
    QMimeDatabase mimes;
    const std::string& list = types[i].second;
    const std::string first = list.substr(0, list.find(';'));
    const QMimeType mime = mimes.mimeTypeForFile(QStringLiteral("x") + QString::fromStdString(first),
                                                 QMimeDatabase::MatchExtension);
    m_typeList->addItem(QIcon::fromTheme(mime.iconName()), name);
  }
  m_typeList->setCurrentIndex(0);
  return part;
}

QWidget* CSearchFileDlg::MakeDate() {
  QWidget* part = NewPart(this, 84);
  m_dateKind = new QComboBox(part);
  m_dateKind->addItems({Text(376), Text(377), Text(378)});
  m_dateKind->setGeometry(DluRect(14, 3, 80, 13));
  SetControlId(m_dateKind, kIdDateKind);
  m_inMonths = new QRadioButton(QStringLiteral("in last"), part);
  m_inMonths->setGeometry(DluRect(14, 20, 45, 10));
  SetControlId(m_inMonths, kIdInMonths);
  m_months = new QSpinBox(part);
  m_months->setRange(0, 999);
  m_months->setValue(1);
  m_months->setSuffix(QStringLiteral(" months"));
  m_months->setGeometry(DluRect(62, 19, 60, 12));
  SetControlId(m_months, kIdMonths);
  m_inDays = new QRadioButton(QStringLiteral("in last"), part);
  m_inDays->setGeometry(DluRect(14, 35, 45, 10));
  SetControlId(m_inDays, kIdInDays);
  m_days = new QSpinBox(part);
  m_days->setRange(0, 999);
  m_days->setValue(1);
  m_days->setSuffix(QStringLiteral(" days"));
  m_days->setGeometry(DluRect(62, 34, 60, 12));
  SetControlId(m_days, kIdDays);
  m_range = new QRadioButton(QStringLiteral("from"), part);
  m_range->setGeometry(DluRect(14, 50, 45, 10));
  SetControlId(m_range, kIdRange);
  const QDateTime now = QDateTime::currentDateTime();
  m_fromDate = new QDateEdit(now.date(), part);
  m_fromDate->setGeometry(DluRect(62, 49, 70, 12));
  SetControlId(m_fromDate, kIdFromDate);
  m_fromTime = new QTimeEdit(QTime(0, 0), part);
  m_fromTime->setGeometry(DluRect(136, 49, 60, 12));
  SetControlId(m_fromTime, kIdFromTime);
  auto* upTo = new QLabel(QStringLiteral("up to"), part);
  upTo->setGeometry(DluRect(28, 67, 30, 8));
  m_toDate = new QDateEdit(now.date(), part);
  m_toDate->setGeometry(DluRect(62, 65, 70, 12));
  SetControlId(m_toDate, kIdToDate);
  m_toTime = new QTimeEdit(now.time(), part);
  m_toTime->setGeometry(DluRect(136, 65, 60, 12));
  SetControlId(m_toTime, kIdToTime);
  m_inMonths->setChecked(true);
  for (QRadioButton* radio : {m_inMonths, m_inDays, m_range})
    connect(radio, &QRadioButton::toggled, this, [this] { EnableDateFields(); });
  EnableDateFields();
  return part;
}

void CSearchFileDlg::EnableDateFields() {
  m_months->setEnabled(m_inMonths->isChecked());
  m_days->setEnabled(m_inDays->isChecked());
  for (QWidget* w : std::initializer_list<QWidget*>{m_fromDate, m_fromTime, m_toDate, m_toTime})
    w->setEnabled(m_range->isChecked());
}

QWidget* CSearchFileDlg::MakeSize() {
  QWidget* part = NewPart(this, 20);
  m_sizeKind = new QComboBox(part);
  m_sizeKind->addItems({Text(383), Text(382)});
  m_sizeKind->setGeometry(DluRect(14, 3, 70, 13));
  SetControlId(m_sizeKind, kIdSizeKind);
  m_sizeKb = new QSpinBox(part);
  m_sizeKb->setRange(0, 1000000000);
  m_sizeKb->setGeometry(DluRect(90, 3, 80, 13));
  SetControlId(m_sizeKb, kIdSizeKb);
  auto* kb = new QLabel(QStringLiteral("KB"), part);
  kb->setGeometry(DluRect(174, 5, 20, 8));
  return part;
}

QWidget* CSearchFileDlg::MakeOther() {
  QWidget* part = NewPart(this, 30);
  m_caseSensitive = new QCheckBox(QStringLiteral("Case sensitive"), part);
  m_caseSensitive->setGeometry(DluRect(14, 3, 120, 10));
  SetControlId(m_caseSensitive, kIdCaseSensitive);
  m_includeEncrypted = new QCheckBox(QStringLiteral("Include encrypted files"), part);
  m_includeEncrypted->setGeometry(DluRect(14, 16, 120, 10));
  m_includeEncrypted->setChecked(true);
  SetControlId(m_includeEncrypted, kIdIncludeEncrypted);
  return part;
}

QWidget* CSearchFileDlg::MakeDoSearch() {
  QWidget* part = NewPart(this, 26);
  using namespace corvale::ui::buttons;
  auto* ok = new CButtonPlus(kSearchOk.normal, kSearchOk.hover, kSearchOk.push, kSearchOk.disable, part);
  ok->SetControlId(corvale::ui::kIdOk);
  auto* cancel = new CButtonPlus(kDialogCancel.normal, kDialogCancel.hover, kDialogCancel.push,
                                 kDialogCancel.disable, part);
  cancel->SetControlId(corvale::ui::kIdCancel);
  const int width = part->width();
  cancel->MoveTo(width - cancel->GetBitmapSize().width() - corvale::ui::DluToPixelsX(7),
                 corvale::ui::DluToPixelsY(4));
  ok->MoveTo(cancel->x() - ok->GetBitmapSize().width() - corvale::ui::DluToPixelsX(4),
             corvale::ui::DluToPixelsY(4));
  connect(ok, &QAbstractButton::clicked, this, &CSearchFileDlg::DoSearch);
  connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
  return part;
}

QString CSearchFileDlg::PathText(const CFileNode* node) {
  QString text;
  for (const CFileNode* n = node; n != nullptr; n = n->GetParent()) {
    const IFileProperties* p = n->GetFileProperties();
    const QString name = p != nullptr ? QString::fromUtf8(p->GetName()) : QString();
    if (n == node)
      text = name;
    else if (name != QStringLiteral("Root"))
      text = name + QLatin1Char('\\') + text;
  }
  return text;
}

void CSearchFileDlg::FillLocations(CFileNode* folder) {
  m_location->clear();
  if (folder == nullptr) folder = m_owner;
  if (folder == nullptr) return;
  CFileNode* top = folder;
  CFileNode* belowTop = nullptr;
  while (top->GetParent() != nullptr) {
    belowTop = top;
    top = top->GetParent();
  }
  m_location->addItem(Text(kStringEverywhere), QVariant::fromValue<void*>(top));
  // A search that starts at the top has no folder below it to offer.
  if (belowTop != nullptr) {
    m_location->addItem(PathText(belowTop), QVariant::fromValue<void*>(belowTop));
    if (folder != belowTop) m_location->addItem(PathText(folder), QVariant::fromValue<void*>(folder));
  }
  m_location->setCurrentIndex(0);
}

void CSearchFileDlg::TogglePart(Part part) {
  m_states[part] = m_states[part] == kShown ? kHidden : kShown;
  LayoutParts();
}

void CSearchFileDlg::LayoutParts() {
  int y = 0;
  for (int i = 0; i < kPartCount; ++i) {
    QWidget* part = m_parts[i];
    if (m_states[i] == kShown) {
      part->move(0, y);
      part->show();
      y += part->height();
    } else {
      part->hide();
    }
  }
  setFixedSize(m_parts[kBasic]->width(), y);
}

int CSearchFileDlg::PartsHeight() const {
  int height = 0;
  for (int i = 0; i < kPartCount; ++i)
    if (m_states[i] == kShown) height += m_parts[i]->height();
  return height;
}

bool CSearchFileDlg::BuildCriteria(SearchCriteria* criteria, const QDateTime& now) {
  SearchCriteria c;
  const std::string name = m_name->text().toStdString();
  std::string pattern = name.empty() ? std::string("*") : "*" + name + "*";
  if (pattern.size() > kMaxPattern) {
    // Cut on a character boundary, and keep the closing star.
    size_t cut = kMaxPattern - 1;
    while (cut > 0 && (static_cast<unsigned char>(pattern[cut]) & 0xC0) == 0x80) --cut;
    pattern = pattern.substr(0, cut) + "*";
  }
  m_displayPattern = QString::fromStdString(pattern);
  for (const char ch : pattern)
    if (ch == '\\' || ch == '/' || ch == ':' || ch == '"' || ch == '<' || ch == '>' || ch == '|') {
      Tell(kStringRefused);
      return false;
    }
  c.namePattern = pattern;
  c.autoSelect = m_autoSelect->isChecked() ? 1 : 0;
  c.location = static_cast<CFileNode*>(m_location->currentData().value<void*>());
  if (m_checks[0]->isChecked()) {
    const int index = std::max(0, m_typeList->currentIndex());
    const FileTypes& types = SystemFileTypes();
    c.flags |= SearchCriteria::kTypeUsed;
    c.type.kind = index == 0 ? 1 : index == 2 ? 4 : 2;
    if (static_cast<size_t>(index) < types.size()) {
      c.type.extensions = types[index].second;
      c.type.typeName = index < 2 ? "*" : types[index].first;
    }
    m_displayPattern = QString::fromStdString(c.type.typeName);
  }
  if (m_checks[1]->isChecked()) {
    if (m_inMonths->isChecked() && !CheckRange(m_months, 1, 120)) return false;
    if (m_inDays->isChecked() && !CheckRange(m_days, 1, 31)) return false;
    c.flags |= SearchCriteria::kDateUsed;
    c.date.which = 1u << std::max(0, m_dateKind->currentIndex());
    const uint64_t nowTime = ToFileTime(now.toMSecsSinceEpoch());
    if (m_inMonths->isChecked() || m_inDays->isChecked()) {
      const uint64_t back = m_inMonths->isChecked() ? m_months->value() * 30 * kDay : m_days->value() * kDay;
      c.date.to = nowTime;
      c.date.from = nowTime > back ? nowTime - back : 0;
    } else {
      // The picked dates and times are taken as they stand, with no change of time zone.
      c.date.from =
          ToFileTime(QDateTime(m_fromDate->date(), m_fromTime->time(), Qt::UTC).toMSecsSinceEpoch());
      c.date.to = ToFileTime(QDateTime(m_toDate->date(), m_toTime->time(), Qt::UTC).toMSecsSinceEpoch());
    }
  }
  if (m_checks[2]->isChecked()) {
    if (!CheckRange(m_sizeKb, 0, 1000000000)) return false;
    c.flags |= SearchCriteria::kSizeUsed;
    c.size.comparison = static_cast<uint32_t>(std::max(0, m_sizeKind->currentIndex()) + 1);
    c.size.limit = static_cast<uint64_t>(m_sizeKb->value()) * 1024;
  }
  if (m_checks[3]->isChecked()) {
    c.flags |= SearchCriteria::kOtherUsed;
    c.caseSensitive = m_caseSensitive->isChecked() ? 1 : 0;
    c.includeEncrypted = m_includeEncrypted->isChecked() ? 1 : 0;
  }
  *criteria = std::move(c);
  return true;
}

void CSearchFileDlg::DoSearch() {
  SearchCriteria criteria;
  if (!BuildCriteria(&criteria, QDateTime::currentDateTimeUtc())) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (m_result != nullptr) SearchFiles(m_owner, criteria, *m_result);
  QApplication::restoreOverrideCursor();
  if (m_result != nullptr && m_result->GetCount() > 0) {
    accept();
    return;
  }
  Tell(kStringNothing);
}
