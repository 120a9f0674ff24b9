#include "dialogs/AdvanceSettingMasterDlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "controls/RawFileTypeTreeCtrl.h"
#include "core/BuiltInFileTypes.h"
#include "dialogs/AdvanceSettingPropSheet.h"
#include "platform/FileTypeExtensionSet.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"

namespace {

using corvale::ui::ButtonBitmaps;
namespace buttons = corvale::ui::buttons;

constexpr int kDialogWidth = 560;
constexpr int kDialogHeight = 470;
const QColor kPageFrameColor(137, 139, 136);
const QColor kDisabledTreeColor(236, 233, 216);

struct RawCategory {
  const char* name;
  const char* iconExtension;
  std::vector<const char*> types;
};

const std::vector<RawCategory>& RawCategories() {
  static const std::vector<RawCategory> categories = {
      {"Graphics",
       "bmp",
       {"3d Studio Max file(.max)",
        "ANI file(.ani)",
        "Adobe Illustrator file(.ai)",
        "Bitmap file(.bmp)",
        "COREL Darw file(.cdr)",
        "Corel Draw Corel RAVE Image file(.clk)",
        "Corel Draw Vector Image file(.cmx)",
        "Corel Photo Paint Image file(.cpt)",
        "Canon Raw graphics file(.crw)",
        "Cursor file(.cur)",
        "AutoCAD Drawing file(.dwg)",
        "AutoCad DX File(.dxf)",
        "Enhanced Metafile(.emf)",
        "Encapsulated Postscript file(.eps)",
        "Freehand 10 file(.fh11)",
        "GIF graphics file(.gif)",
        "Icon file(.ico)",
        "JPEG Graphics file(.jpg.jpeg)",
        "Portable Network Graphic file(.png)",
        "Adobe Photoshop file(.psd)",
        "Paint Shop Pro file(.psp)",
        "QuattroPro 7 File(.qpw)",
        "Corel Presentation File(.shw)",
        "Tagged Image File(.tif)",
        "Nikon Raw File(.nef)"}},
      {"Documents",
       "doc",
       {"Microsoft Word Document(.doc)", "Microsoft Word2007(.docx)", "Help file(.hlp)",
        "HTML Documents file(.htm.html)", "MOF file(.mof)", "Microsoft Project file(.mpp)",
        "Microsoft OneNote file(.one)", "Adobe Portable Document(.pdf)",
        "Microsoft PowerPoint Presentation file(.ppt)", "Microsoft PowerPoint2007(.pptx)",
        "Rich Text Document(.rtf)", "True Type Font file(.ttf)", "Microsoft Visio Drawing(.vsd)",
        "WordPerfect file(.wpd)", "WordPerfect Documents and Graphics v8(.wpg)",
        "Microsoft Excel XML Documents(.xls)", "Microsoft Excel2007(.xlsx)"}},
      {"Archives",
       "cab",
       {"3DS file (.3ds)", "Cabinet file(.cab)", "CHM file(.chm)", "CSL file(.csl)",
        "GZIP compression file(.gz)", "LZH compression file(.lzh)", "RAR compression file(.rar)",
        "TAR archive file(.tar)", "Zip compression file(.zip)"}},
      {"Multimedia",
       "wav",
       {"3GP Multimedia file(.3gp)", "Audio Streaming Format file(.asf)", "AU file(.au)",
        "Audio Video Interleave file(.avi)", "Musical Instrument Digital Interface file(.mid)",
        "MOV Multimedia file(.mov)", "MP3 Music file(.mp3)", "MP4 Multimedia file(.mp4)",
        "ShockWave Flash file(.swf)", "WAVE Multimedia file(.wav)", "WMF Multimedia file(.wmf)"}},
      {"Email", "pst", {"Outlook Express Email file(.dbx)", "Outlook Email file(.pst)"}},
      {"Databases and Financials",
       "mdb",
       {"Access Project file(.adp)", "Access Database file(.mdb)", "Microsoft Money file(.mny)",
        "Access Database file(.accdb)"}},
  };
  return categories;
}

// The first extension in a row's parentheses, upper case: "JPG" of "...(.jpg.jpeg)".
std::string FirstExtension(const char* text) {
  std::string s(text);
  const size_t open = s.find("(.");
  if (open == std::string::npos) return {};
  size_t end = open + 2;
  while (end < s.size() && s[end] != '.' && s[end] != ')') ++end;
  std::string ext = s.substr(open + 2, end - open - 2);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return ext;
}

int32_t BuiltInIdOf(const std::string& extension) {
  for (int32_t id = kFirstBuiltInFileType; id <= kLastBuiltInFileType; ++id)
    if (extension == GetBuiltInFileTypeExtension(id)) return id;
  return 0;
}

// The desktop's icon for files named "file.<extension>".
QIcon FileIcon(const std::string& extension) {
  static QMimeDatabase database;
  const QMimeType type = database.mimeTypeForFile(QStringLiteral("file.") + QString::fromStdString(extension),
                                                  QMimeDatabase::MatchExtension);
  QIcon icon = QIcon::fromTheme(type.iconName());
  if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
  return icon;
}

bool IsInsideOle(int32_t id) {
  static constexpr int32_t kIds[] = {3, 21, 35, 39, 43, 48, 49, 53, 57, 62, 64, 65, 67};
  return std::find(std::begin(kIds), std::end(kIds), id) != std::end(kIds);
}

// Reads a decimal signed 64-bit number as the settings show it; text that is no number reads as 0.
int64_t ParseSize(const QString& text) {
  bool ok = false;
  const qlonglong value = text.trimmed().toLongLong(&ok);
  return ok ? value : 0;
}

}  // namespace

// ---- pages

CAdvanceSettingPage::CAdvanceSettingPage(int templateId, AdvanceSettingValues& values, QWidget* parent)
    : QWidget(parent), m_values(values), m_templateId(templateId) {
  corvale::ui::SetControlId(this, templateId);
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);
  m_layout = new QVBoxLayout(this);
  m_layout->setContentsMargins(16, 16, 16, 16);
  m_layout->setSpacing(6);
}

QCheckBox* CAdvanceSettingPage::AddCheck(int id, const char* text, bool visible) {
  auto* box = new QCheckBox(QString::fromUtf8(text), this);
  corvale::ui::SetControlId(box, id);
  QFont bold = font();
  bold.setWeight(QFont::Bold);
  box->setFont(bold);
  box->setVisible(visible);
  // As wide as its text, so that a click beside the text does not tick it.
  m_layout->addWidget(box, 0, Qt::AlignLeft);
  return box;
}

void CAdvanceSettingPage::AddNote(int pictureId, const char* text) {
  auto* picture = new QLabel(this);
  corvale::ui::SetControlId(picture, pictureId);
  picture->setPixmap(corvale::ui::LoadBitmapResource(buttons::kSettingsNote));
  auto* label = new QLabel(QString::fromUtf8(text), this);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* row = new QHBoxLayout;
  row->setContentsMargins(20, 0, 0, 6);
  row->setSpacing(8);
  row->addWidget(picture, 0, Qt::AlignTop);
  row->addWidget(label, 1);
  m_layout->addLayout(row);
}

CAdvanceSettingFATPage::CAdvanceSettingFATPage(AdvanceSettingValues& values, QWidget* parent)
    : CAdvanceSettingPage(299, values, parent) {
  m_checks[0] = AddCheck(1098, "Check DATE field of file descriptors");
  m_checks[1] = AddCheck(1055, "Check TIME field of file descriptors");
  m_checks[2] = AddCheck(1099, "", false);
  AddNote(1179,
          "Un-check these option could generate a larger number of files, but file content could become less "
          "accurate.");
  m_checks[3] = AddCheck(1100, "Use first FAT copy");
  m_checks[4] = AddCheck(1101, "Use second FAT copy");
  AddNote(
      1180,
      "Un-check these options would find more files, especially useful if you are searching for deleted or "
      "lost files.");
  m_layout->addStretch(1);
  LoadValues();
  MarkInitialised();
}

void CAdvanceSettingFATPage::LoadValues() {
  const RecoveryFatOptions& o = m_values.Fat;
  const int32_t values[] = {o.CheckFatDate, o.CheckFatTime, o.FatOption3, o.UseFirstFatCopy,
                            o.UseSecondFatCopy};
  for (size_t i = 0; i < m_checks.size(); ++i) m_checks[i]->setChecked(values[i] != 0);
}

void CAdvanceSettingFATPage::StoreValues() {
  RecoveryFatOptions& o = m_values.Fat;
  int32_t* fields[] = {&o.CheckFatDate, &o.CheckFatTime, &o.FatOption3, &o.UseFirstFatCopy,
                       &o.UseSecondFatCopy};
  for (size_t i = 0; i < m_checks.size(); ++i) *fields[i] = m_checks[i]->isChecked() ? 1 : 0;
}

void CAdvanceSettingFATPage::SetDefaults() {
  for (QCheckBox* box : m_checks) box->setChecked(true);
}

CAdvanceSettingNTFSPage::CAdvanceSettingNTFSPage(AdvanceSettingValues& values, QWidget* parent)
    : CAdvanceSettingPage(102, values, parent) {
  m_checks[0] = AddCheck(1102, "Use NTFS files for volume size detection");
  AddNote(1181, "This option may affect the size of located NTFS volumes");
  m_checks[1] = AddCheck(1056, "Use $MFT file");
  AddNote(1182,
          "Check this option to enable $MFT data recovery. In most case, it gives better accuracy of data "
          "recovery; while if $MFT is corrupted, it may lead to incorrect results.");
  m_checks[2] = AddCheck(1103, "Show files that belong to $MFT only");
  AddNote(1183,
          "Files not included in $MFT probably are garbage, but in some rare cases check this option would "
          "locate good copy of files. ");
  m_layout->addStretch(1);
  LoadValues();
  MarkInitialised();
}

void CAdvanceSettingNTFSPage::LoadValues() {
  const RecoveryNtfsOptions& o = m_values.Ntfs;
  m_checks[0]->setChecked(o.UseNtfsFilesForVolumeSize != 0);
  m_checks[1]->setChecked(o.UseMftFile != 0);
  m_checks[2]->setChecked(o.ShowMftFilesOnly != 0);
}

void CAdvanceSettingNTFSPage::StoreValues() {
  RecoveryNtfsOptions& o = m_values.Ntfs;
  o.UseNtfsFilesForVolumeSize = m_checks[0]->isChecked() ? 1 : 0;
  o.UseMftFile = m_checks[1]->isChecked() ? 1 : 0;
  o.ShowMftFilesOnly = m_checks[2]->isChecked() ? 1 : 0;
}

void CAdvanceSettingNTFSPage::SetDefaults() {
  for (QCheckBox* box : m_checks) box->setChecked(true);
}

CAdvanceSettingCommonPage::CAdvanceSettingCommonPage(AdvanceSettingValues& values, QWidget* parent)
    : CAdvanceSettingPage(301, values, parent) {
  m_bootRecords = AddCheck(1106, "Use Boot Records");
  AddNote(1178,
          "Using Boot Records could calculate file system details with better accuracy if the Boot Records "
          "is not "
          "corrupted. ");
  m_partitionTables = AddCheck(1058, "Use Partition Tables", false);
  m_extensiveSearch = AddCheck(1107, "Extensive Volumes Search", false);
  m_ignoreBadSectors = AddCheck(1113, "Ignore bad sectors");
  m_layout->addStretch(1);
  LoadValues();
  MarkInitialised();
}

void CAdvanceSettingCommonPage::LoadValues() {
  m_bootRecords->setChecked(m_values.Common.UseBootRecords != 0);
  m_partitionTables->setChecked(m_values.Common.UsePartitionTables != 0);
  m_extensiveSearch->setChecked(m_values.Common.ExtensiveVolumeSearch != 0);
  // The bad-sector switch is read from the settings themselves.
  m_ignoreBadSectors->setChecked(GetRecoveryContext().IgnoreBadSectors != 0);
}

void CAdvanceSettingCommonPage::StoreValues() {
  m_values.Common.UseBootRecords = m_bootRecords->isChecked() ? 1 : 0;
  m_values.Common.UsePartitionTables = m_partitionTables->isChecked() ? 1 : 0;
  m_values.Common.ExtensiveVolumeSearch = m_extensiveSearch->isChecked() ? 1 : 0;
  GetRecoveryContext().IgnoreBadSectors = m_ignoreBadSectors->isChecked() ? 1 : 0;
}

void CAdvanceSettingCommonPage::SetDefaults() {
  m_bootRecords->setChecked(true);
  m_partitionTables->setChecked(false);
  m_extensiveSearch->setChecked(false);
  m_ignoreBadSectors->setChecked(true);
}

CAdvanceSettingRAWPage::CAdvanceSettingRAWPage(AdvanceSettingValues& values, QWidget* parent)
    : CAdvanceSettingPage(300, values, parent) {
  m_recoverRaw = AddCheck(1104, "Recover RAW files:");
  // The switch and the size limit share the first row.
  m_layout->removeWidget(m_recoverRaw);
  auto* row = new QHBoxLayout;
  row->addWidget(m_recoverRaw);
  row->addSpacing(8);
  row->addWidget(new QLabel(QStringLiteral("Maximal file size:"), this));
  m_size = new QLineEdit(this);
  corvale::ui::SetControlId(m_size, 1105);
  m_size->setMinimumWidth(m_size->fontMetrics().horizontalAdvance(QStringLiteral("0000000000000")));
  row->addWidget(m_size);
  row->addWidget(new QLabel(QStringLiteral("Bytes."), this));
  row->addStretch(1);
  m_layout->addLayout(row);
  m_rawOnly = AddCheck(1057, "Recover RAW files only");
  m_layout->addWidget(new QLabel(QStringLiteral("What file types would you like to recover?"), this));
  m_tree = new CRawFileTypeTreeCtrl(this);
  corvale::ui::SetControlId(m_tree, 1191);
  m_tree->setMinimumHeight(120);
  m_layout->addWidget(m_tree, 1);
  connect(m_recoverRaw, &QCheckBox::clicked, this, [this] { OnRecoverRawClicked(); });
  connect(m_rawOnly, &QCheckBox::clicked, this, [this] { StoreValues(); });
  connect(m_size, &QLineEdit::textChanged, this, [this] { OnSizeEdited(); });
}

void CAdvanceSettingRAWPage::FillTree(CRawFileTypeTreeCtrl& tree) {
  for (const RawCategory& category : RawCategories()) {
    QTreeWidgetItem* parent =
        tree.InsertCategory(QString::fromUtf8(category.name), FileIcon(category.iconExtension));
    for (const char* type : category.types) {
      const std::string extension = FirstExtension(type);
      tree.InsertType(parent, QString::fromUtf8(type), FileIcon(extension), BuiltInIdOf(extension));
    }
  }
}

void CAdvanceSettingRAWPage::LoadValues() {
  m_recoverRaw->setChecked(m_values.RecoverRawFiles != 0);
  m_rawOnly->setChecked(m_mode != 0 && m_values.RawFilesOnly != 0);
  m_size->setText(QString::number(m_values.MaxRawFileSize));
  if (m_tree->topLevelItemCount() == 0) FillTree(*m_tree);
  if (m_values.RawFileTypes != nullptr)
    for (int32_t id : *m_values.RawFileTypes) m_tree->CheckFileType(id);
  EnableControls();
  MarkInitialised();
}

void CAdvanceSettingRAWPage::EnableControls() {
  const bool recover = m_recoverRaw->isChecked();
  m_size->setEnabled(recover);
  if (m_mode == 0) m_rawOnly->setChecked(false);
  m_rawOnly->setEnabled(recover && m_mode != 0);
  const bool treeOn = recover && m_treeSwitch != 0;
  m_tree->setEnabled(treeOn);
  QPalette palette = m_tree->palette();
  palette.setColor(QPalette::Base, treeOn ? QColor(Qt::white) : kDisabledTreeColor);
  m_tree->setPalette(palette);
}

void CAdvanceSettingRAWPage::OnRecoverRawClicked() {
  if (m_mode != 0 && !m_recoverRaw->isChecked()) m_rawOnly->setChecked(false);
  StoreValues();
  EnableControls();
}

void CAdvanceSettingRAWPage::OnSizeEdited() {
  // A lone minus sign is a number still being typed; it is left for the next key.
  if (m_size->text() == QStringLiteral("-")) return;
  int64_t value = ParseSize(m_size->text());
  if (value < 0) value = 0;
  const QString normal = QString::number(value);
  if (m_size->text() != normal) {
    const QSignalBlocker block(m_size);
    m_size->setText(normal);
  }
  m_values.MaxRawFileSize = value;
}

std::vector<int32_t> CAdvanceSettingRAWPage::RawTypesOf(const CRawFileTypeTreeCtrl& tree,
                                                        bool addContainers) {
  std::vector<int32_t> ids;
  for (int c = 0; c < tree.topLevelItemCount(); ++c) {
    const QTreeWidgetItem* category = tree.topLevelItem(c);
    for (int i = 0; i < category->childCount(); ++i)
      if (CRawFileTypeTreeCtrl::StateOf(category->child(i)) == CRawFileTypeTreeCtrl::kChecked)
        ids.push_back(CRawFileTypeTreeCtrl::TypeIdOf(category->child(i)));
  }
  if (!addContainers) return ids;
  const size_t ticked = ids.size();
  for (size_t i = 0; i < ticked; ++i) {
    const int32_t id = ids[i];
    if (IsInsideOle(id)) ids.push_back(kOleId);
    if (id == 5) ids.push_back(kPdfId);
    if (id == 69 || id == 70 || id == 71) ids.push_back(kZipId);
  }
  return ids;
}

void CAdvanceSettingRAWPage::StoreValues() {
  m_values.RecoverRawFiles = m_recoverRaw->isChecked() ? 1 : 0;
  m_values.RawFilesOnly = m_rawOnly->isChecked() ? 1 : 0;
  int64_t size = ParseSize(m_size->text());
  m_values.MaxRawFileSize = size < 0 ? 0 : size;
}

void CAdvanceSettingRAWPage::SetDefaults() {
  m_size->setText(QStringLiteral("50000000"));
  m_recoverRaw->setChecked(true);
  m_rawOnly->setChecked(false);
  EnableControls();
  if (m_treeSwitch != 0) {
    if (m_values.RawFileTypes != nullptr) *m_values.RawFileTypes = AllBuiltInRawFileTypes();
    for (int32_t id = kFirstBuiltInFileType; id <= kLastBuiltInFileType; ++id) m_tree->CheckFileType(id);
  }
}

// ---- the dialog

CAdvanceSettingMasterDlg::CAdvanceSettingMasterDlg(int mode, QWidget* parent)
    : CSearchSuperDlg(kTemplateId, parent), m_mode(mode) {
  setWindowTitle(QStringLiteral("Option"));
  setFont(corvale::ui::MakeUiFont(14, 400));
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor(214, 230, 255));
  setPalette(palette);

  CRecoveryContext& context = GetRecoveryContext();
  m_values.Common = context.GetCommonOptions();
  m_values.Fat = context.GetFatOptions();
  m_values.Ntfs = context.GetNtfsOptions();
  m_values.RecoverRawFiles = context.RecoverRawFiles;
  m_values.RawFilesOnly = context.RawFilesOnly;
  m_values.MaxRawFileSize = context.MaxRawFileSize;
  m_values.RawFileTypes = &context.RawFileTypes;

  m_ntfs = new CAdvanceSettingNTFSPage(m_values, this);
  m_fat = new CAdvanceSettingFATPage(m_values, this);
  m_raw = new CAdvanceSettingRAWPage(m_values, this);
  m_common = new CAdvanceSettingCommonPage(m_values, this);
  m_raw->SetMode(mode);
  m_sheet = new CAdvanceSettingPropSheet(this);
  m_sheet->hide();
  m_pageGrid = new QGridLayout;
  // One pixel around the pages for the frame painted round them.
  m_pageGrid->setContentsMargins(1, 1, 0, 0);
  for (CAdvanceSettingPage* page :
       {static_cast<CAdvanceSettingPage*>(m_ntfs), static_cast<CAdvanceSettingPage*>(m_fat),
        static_cast<CAdvanceSettingPage*>(m_raw), static_cast<CAdvanceSettingPage*>(m_common)})
    m_pageGrid->addWidget(page, 0, 0);

  auto makeButton = [this](int id, const ButtonBitmaps& set) {
    auto* button = new CButtonPlus(set.normal, set.hover, set.push, set.disable, this);
    button->SetControlId(id);
    corvale::ui::SetControlId(button, id);
    m_buttons.push_back(button);
    return button;
  };
  const std::pair<int, ButtonBitmaps> tabs[] = {{kTabFat, buttons::kSettingsTabFat},
                                                {kTabNtfs, buttons::kSettingsTabNtfs},
                                                {kTabCommon, buttons::kSettingsTabCommon},
                                                {kTabRaw, buttons::kSettingsTabRaw}};
  // The picture tabs in a row over the pages, Default at the left under them, OK and Cancel at the
  // right.
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(29, 47, 30, 20);
  layout->setSpacing(0);
  auto* tabRow = new QHBoxLayout;
  tabRow->setSpacing(0);
  for (const auto& [id, set] : tabs) {
    CButtonPlus* tab = makeButton(id, set);
    tabRow->addWidget(tab, 0, Qt::AlignBottom);
    connect(tab, &CButtonPlus::clicked, this, [this, tabId = id] { ShowTab(tabId); });
  }
  tabRow->addStretch(1);
  layout->addLayout(tabRow);
  layout->addLayout(m_pageGrid, 1);
  auto* buttonRow = new QHBoxLayout;
  buttonRow->setContentsMargins(1, 20, 0, 0);
  buttonRow->setSpacing(12);
  CButtonPlus* defaults = makeButton(kDefaultId, buttons::kSettingsDefault);
  buttonRow->addWidget(defaults, 0, Qt::AlignTop);
  connect(defaults, &CButtonPlus::clicked, this, &CAdvanceSettingMasterDlg::OnDefault);
  buttonRow->addStretch(1);
  CButtonPlus* ok = makeButton(1, buttons::kResultOk);
  CButtonPlus* cancel = makeButton(2, buttons::kDialogCancel);
  buttonRow->addWidget(ok, 0, Qt::AlignVCenter);
  buttonRow->addWidget(cancel, 0, Qt::AlignVCenter);
  connect(cancel, &CButtonPlus::clicked, this, &CAdvanceSettingMasterDlg::reject);
  connect(ok, &CButtonPlus::clicked, this, &CAdvanceSettingMasterDlg::accept);
  layout->addLayout(buttonRow);
  setMinimumSize(QSize(kDialogWidth, kDialogHeight).expandedTo(layout->minimumSize()));

  SetHelpTopic(kHelpTopic);

  ShowTab(kTabFat);
}

CAdvanceSettingMasterDlg::~CAdvanceSettingMasterDlg() = default;

QRect CAdvanceSettingMasterDlg::PageRect() const { return m_pageGrid->contentsRect(); }

void CAdvanceSettingMasterDlg::SetRawTreeSwitch(int on) {
  m_raw->SetTreeSwitch(on);
  if (m_started) m_raw->LoadValues();
}

void CAdvanceSettingMasterDlg::showEvent(QShowEvent* event) {
  // The RAW page is filled once its mode and tree switch are known.
  if (!m_started) {
    m_started = true;
    m_raw->LoadValues();
  }
  CSearchSuperDlg::showEvent(event);
  // The hidden sheet keeps the place round the pages, so that its tab bar has a size to paint in.
  layout()->activate();
  m_sheet->setGeometry(PageRect().adjusted(-10, -30, 10, 10));
}

CAdvanceSettingPage* CAdvanceSettingMasterDlg::PageOfTab(int tabId) const {
  switch (tabId) {
    case kTabFat:
      return m_fat;
    case kTabNtfs:
      return m_ntfs;
    case kTabCommon:
      return m_common;
    case kTabRaw:
      return m_raw;
    default:
      return nullptr;
  }
}

CAdvanceSettingPage* CAdvanceSettingMasterDlg::CurrentPage() const {
  for (int id : {kTabFat, kTabNtfs, kTabCommon, kTabRaw})
    if (PageOfTab(id)->isVisibleTo(this)) return PageOfTab(id);
  return nullptr;
}

CButtonPlus* CAdvanceSettingMasterDlg::Button(int id) const {
  for (CButtonPlus* button : m_buttons)
    if (button->ControlId() == id) return button;
  return nullptr;
}

void CAdvanceSettingMasterDlg::ShowTab(int tabId) {
  CAdvanceSettingPage* page = PageOfTab(tabId);
  if (page == nullptr) return;
  for (int id : {kTabFat, kTabNtfs, kTabCommon, kTabRaw}) {
    PageOfTab(id)->hide();
    Button(id)->setEnabled(true);
  }
  Button(tabId)->setEnabled(false);
  page->show();
  update();
}

void CAdvanceSettingMasterDlg::OnDefault() {
  if (!m_started) {
    m_started = true;
    m_raw->LoadValues();
  }
  for (CAdvanceSettingPage* page :
       {static_cast<CAdvanceSettingPage*>(m_fat), static_cast<CAdvanceSettingPage*>(m_ntfs),
        static_cast<CAdvanceSettingPage*>(m_common), static_cast<CAdvanceSettingPage*>(m_raw)})
    if (page->IsInitialised()) page->SetDefaults();
}

void CAdvanceSettingMasterDlg::accept() {
  if (!m_started) {
    m_started = true;
    m_raw->LoadValues();
  }
  for (CAdvanceSettingPage* page :
       {static_cast<CAdvanceSettingPage*>(m_fat), static_cast<CAdvanceSettingPage*>(m_ntfs),
        static_cast<CAdvanceSettingPage*>(m_common), static_cast<CAdvanceSettingPage*>(m_raw)})
    if (page->IsInitialised()) page->StoreValues();
  if (m_raw->IsInitialised() && m_values.RawFileTypes != nullptr) {
    // Files of many types are found inside OLE, PDF and ZIP containers; those are searched for too,
    // unless the user picked file types by extension and RAW files are not the only ones wanted.
    const bool addContainers = !(GetFileTypeExtensionSet().GetSize() != 0 && m_values.RawFilesOnly == 0);
    *m_values.RawFileTypes = CAdvanceSettingRAWPage::RawTypesOf(*m_raw->Tree(), addContainers);
  }
  CRecoveryContext& context = GetRecoveryContext();
  RecoveryCommonOptions common = m_values.Common;
  common.IgnoreBadSectors = context.IgnoreBadSectors;
  context.SetCommonOptions(common);
  context.SetFatOptions(m_values.Fat);
  context.SetNtfsOptions(m_values.Ntfs);
  context.RecoverRawFiles = m_values.RecoverRawFiles;
  context.RawFilesOnly = m_values.RawFilesOnly;
  context.MaxRawFileSize = m_values.MaxRawFileSize;
  CSearchSuperDlg::accept();
}

void CAdvanceSettingMasterDlg::paintEvent(QPaintEvent* event) {
  CSearchSuperDlg::paintEvent(event);
  QPainter painter(this);
  painter.setPen(kPageFrameColor);
  const QRect frame = PageRect().adjusted(-1, -1, 0, 0);
  painter.drawRect(frame);
}
