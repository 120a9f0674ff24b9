#include "controls/AttributesStates.h"

#include <QLabel>
#include <QVBoxLayout>

#include "controls/DialogTemplate.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"

CAttributesStates::CAttributesStates(QWidget* parent) : CSearchSuperDlg(kTemplateId, parent) {
  SetDrawFlag(false);
  setWindowTitle(QStringLiteral("About States"));
  // The legend picture, centred, in a window of 128 x 122 dialog units at least.
  auto* picture = new QLabel(this);
  picture->setPixmap(corvale::ui::LoadBitmapResource(corvale::ui::bitmap::kStatesLegend));
  picture->setAlignment(Qt::AlignCenter);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(corvale::ui::DluToPixelsX(14), corvale::ui::DluToPixelsY(7),
                             corvale::ui::DluToPixelsX(14), corvale::ui::DluToPixelsY(7));
  layout->addWidget(picture);
  setMinimumSize(corvale::ui::DluSize(font(), 128, 122).expandedTo(layout->minimumSize()));
}
