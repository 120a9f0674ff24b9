#include "dialogs/SearchFileDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTimeEdit>
#include <QVBoxLayout>
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

using corvale::ui::DluToPixelsX;
using corvale::ui::DluToPixelsY;
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

// A part of the window: as wide as the window, as tall as its controls need. `indent` in dialog
// units from the left: the option parts sit further in than the headers that show them.
QWidget* NewPart(QWidget* parent, QLayout* layout, int indent) {
  auto* part = new QWidget(parent);
  part->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  layout->setContentsMargins(DluToPixelsX(indent), DluToPixelsY(2), DluToPixelsX(7), DluToPixelsY(2));
  part->setLayout(layout);
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
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (QWidget* part : m_parts) layout->addWidget(part);
  // Below the parts: what a window taller than they need shows.
  layout->addStretch(1);
  // 219 dialog units wide at least.
  setMinimumWidth(corvale::ui::DluSize(font(), 219, 0).width());
  LayoutParts();
}

QWidget* CSearchFileDlg::MakeBasic() {
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("File Name, part of file name or file mask:")), 0, 0, 1, 2);
  m_name = new QLineEdit;
  m_name->setMaxLength(256);
  SetControlId(m_name, kIdName);
  grid->addWidget(m_name, 1, 0, 1, 2);
  m_autoSelect = new QCheckBox(QStringLiteral("Auto select files"));
  SetControlId(m_autoSelect, kIdAutoSelect);
  grid->addWidget(m_autoSelect, 2, 0, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Search location:")), 3, 0);
  m_location = new QComboBox;
  m_location->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  m_location->setMinimumContentsLength(16);
  SetControlId(m_location, kIdLocation);
  grid->addWidget(m_location, 3, 1);
  grid->addWidget(new QLabel(QStringLiteral("Additional Search Parameters:")), 4, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  return NewPart(this, grid, 7);
}

QWidget* CSearchFileDlg::MakeHeader(const QString& text, int id, Part option) {
  auto* row = new QHBoxLayout;
  auto* box = new QCheckBox(text);
  SetControlId(box, id);
  row->addWidget(box);
  row->addStretch(1);
  m_checks[(option - kType) / 2] = box;
  connect(box, &QCheckBox::toggled, this, [this, option] { TogglePart(option); });
  return NewPart(this, row, 7);
}

QWidget* CSearchFileDlg::MakeType() {
  auto* row = new QHBoxLayout;
  m_typeList = new QComboBox;
  m_typeList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  m_typeList->setMinimumContentsLength(20);
  SetControlId(m_typeList, kIdTypeList);
  row->addWidget(m_typeList, 1);
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
  return NewPart(this, row, 14);
}

QWidget* CSearchFileDlg::MakeDate() {
  auto* grid = new QGridLayout;
  m_dateKind = new QComboBox;
  m_dateKind->addItems({Text(376), Text(377), Text(378)});
  SetControlId(m_dateKind, kIdDateKind);
  grid->addWidget(m_dateKind, 0, 0, 1, 2);
  m_inMonths = new QRadioButton(QStringLiteral("in last"));
  SetControlId(m_inMonths, kIdInMonths);
  grid->addWidget(m_inMonths, 1, 0);
  m_months = new QSpinBox;
  m_months->setRange(0, 999);
  m_months->setValue(1);
  m_months->setSuffix(QStringLiteral(" months"));
  SetControlId(m_months, kIdMonths);
  grid->addWidget(m_months, 1, 1);
  m_inDays = new QRadioButton(QStringLiteral("in last"));
  SetControlId(m_inDays, kIdInDays);
  grid->addWidget(m_inDays, 2, 0);
  m_days = new QSpinBox;
  m_days->setRange(0, 999);
  m_days->setValue(1);
  m_days->setSuffix(QStringLiteral(" days"));
  SetControlId(m_days, kIdDays);
  grid->addWidget(m_days, 2, 1);
  m_range = new QRadioButton(QStringLiteral("from"));
  SetControlId(m_range, kIdRange);
  grid->addWidget(m_range, 3, 0);
  const QDateTime now = QDateTime::currentDateTime();
  m_fromDate = new QDateEdit(now.date());
  SetControlId(m_fromDate, kIdFromDate);
  grid->addWidget(m_fromDate, 3, 1);
  m_fromTime = new QTimeEdit(QTime(0, 0));
  SetControlId(m_fromTime, kIdFromTime);
  grid->addWidget(m_fromTime, 3, 2);
  auto* upTo = new QLabel(QStringLiteral("up to"));
  upTo->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  grid->addWidget(upTo, 4, 0);
  m_toDate = new QDateEdit(now.date());
  SetControlId(m_toDate, kIdToDate);
  grid->addWidget(m_toDate, 4, 1);
  m_toTime = new QTimeEdit(now.time());
  SetControlId(m_toTime, kIdToTime);
  grid->addWidget(m_toTime, 4, 2);
  grid->setColumnStretch(3, 1);
  m_inMonths->setChecked(true);
  for (QRadioButton* radio : {m_inMonths, m_inDays, m_range})
    connect(radio, &QRadioButton::toggled, this, [this] { EnableDateFields(); });
  EnableDateFields();
  return NewPart(this, grid, 14);
}

void CSearchFileDlg::EnableDateFields() {
  m_months->setEnabled(m_inMonths->isChecked());
  m_days->setEnabled(m_inDays->isChecked());
  for (QWidget* w : std::initializer_list<QWidget*>{m_fromDate, m_fromTime, m_toDate, m_toTime})
    w->setEnabled(m_range->isChecked());
}

QWidget* CSearchFileDlg::MakeSize() {
  auto* row = new QHBoxLayout;
  m_sizeKind = new QComboBox;
  m_sizeKind->addItems({Text(383), Text(382)});
  SetControlId(m_sizeKind, kIdSizeKind);
  row->addWidget(m_sizeKind);
  m_sizeKb = new QSpinBox;
  m_sizeKb->setRange(0, 1000000000);
  SetControlId(m_sizeKb, kIdSizeKb);
  row->addWidget(m_sizeKb, 1);
  row->addWidget(new QLabel(QStringLiteral("KB")));
  return NewPart(this, row, 14);
}

QWidget* CSearchFileDlg::MakeOther() {
  auto* column = new QVBoxLayout;
  m_caseSensitive = new QCheckBox(QStringLiteral("Case sensitive"));
  SetControlId(m_caseSensitive, kIdCaseSensitive);
  column->addWidget(m_caseSensitive);
  m_includeEncrypted = new QCheckBox(QStringLiteral("Include encrypted files"));
  m_includeEncrypted->setChecked(true);
  SetControlId(m_includeEncrypted, kIdIncludeEncrypted);
  column->addWidget(m_includeEncrypted);
  return NewPart(this, column, 14);
}

QWidget* CSearchFileDlg::MakeDoSearch() {
  using namespace corvale::ui::buttons;
  auto* ok = new CButtonPlus(kSearchOk.normal, kSearchOk.hover, kSearchOk.push, kSearchOk.disable);
  ok->SetControlId(corvale::ui::kIdOk);
  auto* cancel =
      new CButtonPlus(kDialogCancel.normal, kDialogCancel.hover, kDialogCancel.push, kDialogCancel.disable);
  cancel->SetControlId(corvale::ui::kIdCancel);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(ok);
  row->addWidget(cancel);
  connect(ok, &QAbstractButton::clicked, this, &CSearchFileDlg::DoSearch);
  connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
  QWidget* part = NewPart(this, row, 7);
  row->setContentsMargins(DluToPixelsX(7), DluToPixelsY(4), DluToPixelsX(7), DluToPixelsY(4));
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
  for (int i = 0; i < kPartCount; ++i) m_parts[i]->setVisible(m_states[i] == kShown);
  // The window takes the height of the parts shown, and keeps its width.
  layout()->activate();
  resize(std::max(width(), minimumSizeHint().width()), PartsHeight());
  layout()->activate();
}

int CSearchFileDlg::PartsHeight() const {
  int height = 0;
  for (int i = 0; i < kPartCount; ++i)
    if (m_states[i] == kShown) height += m_parts[i]->sizeHint().height();
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
